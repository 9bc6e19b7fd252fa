#include <zem/theme/text_util.hpp>

#include <base/utf8.hpp>

#include <cctype>
#include <charconv>
#include <limits>
#include <cstdint>
#include <string>

namespace zem::theme::detail {

std::string_view trim_unicode(std::string_view text) { return base::utf8::trim(text); }

std::optional<double> parse_decimal(std::string_view text) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.empty()) return std::nullopt;

    std::string lower;
    for (char c : body) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "inf" || lower == "infinity") {
        double inf = std::numeric_limits<double>::infinity();
        return negative ? -inf : inf;
    }
    if (lower == "nan") return std::numeric_limits<double>::quiet_NaN();

    // digits [. digits] | . digits, then an optional exponent.
    std::size_t i = 0;
    std::size_t int_digits = 0, frac_digits = 0;
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i, ++int_digits;
    if (i < body.size() && body[i] == '.') {
        ++i;
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i, ++frac_digits;
    }
    if (int_digits + frac_digits == 0) return std::nullopt;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i, ++exp_digits;
        if (exp_digits == 0) return std::nullopt;
    }
    if (i != body.size()) return std::nullopt;

    double value = 0.0;
    auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
    if (ptr != body.data() + body.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // Overflow reads as infinity, underflow as zero, as a float parser would.
        bool huge = false;
        for (char c : body) {
            if (c == 'e' || c == 'E') break;
            if (c >= '1' && c <= '9') { huge = true; break; }
        }
        auto e = body.find_first_of("eE");
        if (e != std::string_view::npos && body.substr(e + 1).starts_with('-')) huge = false;
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace zem::theme::detail
