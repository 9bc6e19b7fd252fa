#pragma once
// Stepping through text by what a reader sees as one character: extended
// grapheme clusters (a letter and its combining marks, an emoji sequence, a
// flag, a Hangul syllable written as jamo). Offsets are bytes of UTF-8.

#include <cstddef>
#include <string_view>
#include <utility>

namespace zem {

// The next cluster boundary after `i` (the text's size at or past the end).
std::size_t next_grapheme(std::string_view text, std::size_t i);
// The cluster boundary before `i` (0 at or before the start).
std::size_t prev_grapheme(std::string_view text, std::size_t i);
// `i` itself when it is a boundary, else the boundary before it; clamped to
// the text's size.
std::size_t floor_grapheme(std::string_view text, std::size_t i);

// Where Backspace at `caret` starts removing: the start of the cluster
// before the caret, except that a trailing combining mark or conjoining
// Hangul vowel/final jamo is taken back alone, as desktop editors do.
std::size_t backspace_start(std::string_view text, std::size_t caret);

// Letters, digits and '_' (by Unicode property).
bool is_word_char(char32_t c);

// The word around `index` as a byte range: letters, digits and '_' on both
// sides, widened to cluster boundaries; (i, i) between two other characters.
std::pair<std::size_t, std::size_t> word_range_at(std::string_view text, std::size_t index);

// Whether the text holds a control character (C0, DEL or C1).
bool has_control_char(std::string_view text);

}  // namespace zem
