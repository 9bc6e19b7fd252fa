#pragma once
// Small UTF-8 walking helpers for the widgets' text layout.

#include <base/utf8.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zem::utf8 {

// Byte length of the character starting at s[i] (for an ill-formed
// sequence, its maximal prefix: a walk always advances and never lands
// inside a valid sequence).
inline std::size_t char_len(std::string_view s, std::size_t i) { return base::utf8::decode(s, i).length; }

// The code point at s[i]; U+FFFD for a malformed sequence.
inline char32_t decode(std::string_view s, std::size_t i) { return base::utf8::decode(s, i).code_point; }

using base::utf8::is_space;

// Scripts written without spaces between words (Han, kana, Hangul and their
// punctuation and full-width forms).
inline bool is_cjk(char32_t c) {
    return (c >= 0x2E80 && c <= 0x2FDF) || (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3100 && c <= 0x31FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

inline std::size_t char_count(std::string_view s) { return base::utf8::count(s); }

}  // namespace zem::utf8
