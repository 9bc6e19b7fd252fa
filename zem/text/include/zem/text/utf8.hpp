#pragma once
// Small UTF-8 walking helpers for the widgets' text layout.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zem::utf8 {

// Byte length of the character starting at s[i] (1 for a stray byte, so a
// walk always advances and never lands inside a valid sequence).
inline std::size_t char_len(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 1;
    if (c >= 0xF0 && c < 0xF8) {
        n = 4;
    } else if (c >= 0xE0) {
        n = c < 0xF0 ? 3 : 1;
    } else if (c >= 0xC0) {
        n = 2;
    }
    if (i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    }
    return n;
}

// The code point at s[i]; U+FFFD for a malformed byte.
inline char32_t decode(std::string_view s, std::size_t i) {
    const std::size_t n = char_len(s, i);
    const auto c = static_cast<unsigned char>(s[i]);
    if (n == 1) return c < 0x80 ? c : 0xFFFD;
    char32_t cp = c & (0xFF >> (n + 1));
    for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

// White space in the Unicode sense (the White_Space property).
inline bool is_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// Scripts written without spaces between words (Han, kana, Hangul and their
// punctuation and full-width forms).
inline bool is_cjk(char32_t c) {
    return (c >= 0x2E80 && c <= 0x2FDF) || (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3100 && c <= 0x31FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

inline std::size_t char_count(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); i += char_len(s, i)) ++n;
    return n;
}

}  // namespace zem::utf8
