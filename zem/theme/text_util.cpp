#include <zem/theme/text_util.hpp>

#include <cctype>
#include <charconv>
#include <limits>
#include <cstdint>
#include <string>

namespace zem::theme::detail {

namespace {

bool is_space_code_point(std::uint32_t cp) {
    switch (cp) {
        case 0x09: case 0x0a: case 0x0b: case 0x0c: case 0x0d: case 0x20: case 0x85: case 0xa0: case 0x1680:
        case 0x2028: case 0x2029: case 0x202f: case 0x205f: case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200a;
    }
}

// Decodes the code point starting at i; returns its length, 0 when not valid.
std::size_t decode_at(std::string_view s, std::size_t i, std::uint32_t& cp) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xe ? 3 : (b >> 3) == 0x1e ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    cp = len == 1 ? b : len == 2 ? (b & 0x1f) : len == 3 ? (b & 0x0f) : (b & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c >> 6) != 0x2) return 0;
        cp = (cp << 6) | (c & 0x3f);
    }
    return len;
}

}  // namespace

std::string_view trim_unicode(std::string_view text) {
    // Leading.
    while (!text.empty()) {
        std::uint32_t cp = 0;
        std::size_t len = decode_at(text, 0, cp);
        if (len == 0 || !is_space_code_point(cp)) break;
        text.remove_prefix(len);
    }
    // Trailing: step back over continuation bytes to the start of the last
    // code point.
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xc0) == 0x80 && text.size() - start < 4) --start;
        std::uint32_t cp = 0;
        std::size_t len = decode_at(text, start, cp);
        if (len == 0 || start + len != text.size() || !is_space_code_point(cp)) break;
        text.remove_suffix(len);
    }
    return text;
}

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
