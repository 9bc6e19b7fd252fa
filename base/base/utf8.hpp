#pragma once
// UTF-8, strictly: a well-formed sequence is the shortest form of a scalar
// value (no overlong forms, no surrogates, nothing above U+10FFFF, no lead
// bytes 0xF5..0xFF). Every reader of outside text (socket lines, command
// output, JSON, theme files, environment values, font names) uses this one
// definition; text that is only shown goes through `lossy` or `decode`,
// which put U+FFFD where the bytes are not text.

#include <cstddef>
#include <string>
#include <string_view>

namespace base::utf8 {

inline constexpr char32_t replacement = 0xFFFD;

// Length of the well-formed sequence at the front of `s`; 0 when `s` is
// empty or starts ill-formed.
std::size_t sequence_length(std::string_view s);

struct Decoded {
    char32_t code_point = 0;
    // Bytes taken: the sequence, or for an ill-formed one the maximal prefix
    // that could have started a sequence (at least one byte), so that a walk
    // always advances and never lands inside a well-formed character.
    std::size_t length = 0;
    bool valid = false;
};

// The character at s[i] (i < s.size()); U+FFFD when ill-formed.
Decoded decode(std::string_view s, std::size_t i = 0);

bool is_valid(std::string_view s);

// `s` with each maximal ill-formed subpart replaced by U+FFFD: the form in
// which bytes that are not text are shown.
std::string lossy(std::string_view s);

// Appends the encoding of `cp` (a scalar value; anything else appends U+FFFD).
void append(std::string& out, char32_t cp);

// The Unicode White_Space property: ASCII blanks and controls 0x09-0x0D,
// U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F,
// U+3000.
bool is_space(char32_t c);

// `s` without leading and trailing white space in the sense of is_space.
std::string_view trim(std::string_view s);

// Characters in `s`, an ill-formed subpart counted as one.
std::size_t count(std::string_view s);

}  // namespace base::utf8
