#pragma once
// Where a word without spaces may be broken across lines.

#include <string_view>
#include <vector>

namespace zem {

// Whether the word holds characters of a script written without spaces.
bool holds_cjk(std::string_view word);

// The word cut at its line-break opportunities (between ideographs and kana,
// never before closing punctuation or small kana), in order; the pieces
// concatenate to the word. A word without opportunities is one piece.
std::vector<std::string_view> break_pieces(std::string_view word);

}  // namespace zem
