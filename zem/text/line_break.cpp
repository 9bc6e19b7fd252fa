#include <zem/text/line_break.hpp>

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <zem/text/utf8.hpp>

namespace zem {

bool holds_cjk(std::string_view word) {
    for (std::size_t i = 0; i < word.size(); i += utf8::char_len(word, i)) {
        if (utf8::is_cjk(utf8::decode(word, i))) return true;
    }
    return false;
}

std::vector<std::string_view> break_pieces(std::string_view word) {
    std::vector<std::string_view> pieces;
    if (word.empty()) return pieces;

    // The line iterator follows the Unicode line-breaking rules, which forbid
    // a break before closing brackets, full stops, commas and small kana.
    thread_local std::unique_ptr<icu::BreakIterator> iter = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createLineInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    UErrorCode status = U_ZERO_ERROR;
    UText* text = utext_openUTF8(nullptr, word.data(), static_cast<int64_t>(word.size()), &status);
    if (iter == nullptr || U_FAILURE(status)) {
        if (text != nullptr) utext_close(text);
        pieces.push_back(word);
        return pieces;
    }
    iter->setText(text, status);
    std::size_t start = 0;
    for (int32_t b = iter->next(); b != icu::BreakIterator::DONE; b = iter->next()) {
        const auto end = static_cast<std::size_t>(b);
        if (end <= start || end > word.size()) continue;
        pieces.push_back(word.substr(start, end - start));
        start = end;
    }
    if (start < word.size()) pieces.push_back(word.substr(start));
    // The iterator keeps a pointer to the text; hand it an empty one before
    // the UText goes away.
    UErrorCode reset = U_ZERO_ERROR;
    UText* empty = utext_openUTF8(nullptr, "", 0, &reset);
    iter->setText(empty, reset);
    utext_close(text);
    utext_close(empty);
    return pieces;
}

}  // namespace zem
