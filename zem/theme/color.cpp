#include <zem/theme/color.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include <zem/theme/text_util.hpp>

namespace zem::theme {

namespace {

std::string colour_error(std::string_view t) {
    std::string msg = "invalid colour `";
    msg += t;
    msg += "` (expected `#RRGGBB`, `#RRGGBBAA` or `rgb[a](…)`)";
    return msg;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> split_commas(std::string_view inside) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = inside.find(',', start);
        if (comma == std::string_view::npos) {
            parts.push_back(inside.substr(start));
            return parts;
        }
        parts.push_back(inside.substr(start, comma - start));
        start = comma + 1;
    }
}

}  // namespace

std::optional<float> parse_colour_channel(std::string_view text) {
    // An integer first: decimal digits with an optional '+', within 16 bits.
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (!digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        unsigned value = 0;
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec == std::errc() && ptr == digits.data() + digits.size() && value <= 0xffff) {
            if (value < 256) return static_cast<float>(value);
            return std::nullopt;
        }
    }
    auto number = detail::parse_decimal(text);
    if (!number) return std::nullopt;
    float v = static_cast<float>(*number);
    if (v >= 0.0f && v <= 255.0f) return v;
    return std::nullopt;
}

std::expected<Color, std::string> parse_colour(std::string_view text) {
    const std::string_view t = detail::trim_unicode(text);
    auto fail = [&] { return std::unexpected(colour_error(t)); };

    std::string_view inside;
    std::size_t expected_parts = 0;
    if (t.starts_with("rgba(")) {
        if (t.size() <= 5 || !t.ends_with(')')) return fail();
        inside = t.substr(5, t.size() - 6);
        expected_parts = 4;
    } else if (t.starts_with("rgb(")) {
        if (!t.ends_with(')') || t.size() < 5) return fail();
        inside = t.substr(4, t.size() - 5);
        expected_parts = 3;
    }

    if (expected_parts != 0) {
        std::vector<std::string_view> parts = split_commas(inside);
        if (parts.size() != expected_parts) return fail();
        float channels[3];
        for (int i = 0; i < 3; ++i) {
            auto c = parse_colour_channel(detail::trim_unicode(parts[i]));
            if (!c) return fail();
            channels[i] = *c / 255.0f;
        }
        float alpha = 1.0f;
        if (expected_parts == 4) {
            auto a = detail::parse_decimal(detail::trim_unicode(parts[3]));
            // Not-a-number is no alpha at all.
            if (!a || std::isnan(*a)) return fail();
            alpha = std::clamp(static_cast<float>(*a), 0.0f, 1.0f);
        }
        return Color{channels[0], channels[1], channels[2], alpha};
    }

    std::string_view hex = t;
    while (!hex.empty() && hex.front() == '#') hex.remove_prefix(1);
    if (hex.size() != 6 && hex.size() != 8) return fail();
    float channels[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    for (std::size_t i = 0; i < hex.size() / 2; ++i) {
        int hi = hex_value(hex[2 * i]);
        int lo = hex_value(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return fail();
        channels[i] = static_cast<float>(hi * 16 + lo) / 255.0f;
    }
    return Color{channels[0], channels[1], channels[2], channels[3]};
}

}  // namespace zem::theme
