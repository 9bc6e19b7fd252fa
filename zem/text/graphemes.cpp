#include <zem/text/graphemes.hpp>
#include <zem/text/utf8.hpp>

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include <algorithm>

namespace zem {

namespace {

// One character-break iterator per thread: ICU iterators must not be shared
// between threads, and opening one per step would be slow for long texts.
class ClusterIterator {
public:
    ClusterIterator() {
        UErrorCode status = U_ZERO_ERROR;
        it_ = ubrk_open(UBRK_CHARACTER, nullptr, nullptr, 0, &status);
        if (U_FAILURE(status)) it_ = nullptr;
    }
    ~ClusterIterator() {
        if (it_ != nullptr) ubrk_close(it_);
        if (ut_ != nullptr) utext_close(ut_);
    }
    ClusterIterator(const ClusterIterator&) = delete;
    ClusterIterator& operator=(const ClusterIterator&) = delete;

    // The iterator set on `text`, or null when ICU is not usable.
    UBreakIterator* over(std::string_view text) {
        if (it_ == nullptr) return nullptr;
        UErrorCode status = U_ZERO_ERROR;
        ut_ = utext_openUTF8(ut_, text.data(), static_cast<int64_t>(text.size()), &status);
        if (U_FAILURE(status)) return nullptr;
        ubrk_setUText(it_, ut_, &status);
        if (U_FAILURE(status)) return nullptr;
        return it_;
    }

private:
    UBreakIterator* it_ = nullptr;
    UText* ut_ = nullptr;
};

UBreakIterator* iterator_over(std::string_view text) {
    thread_local ClusterIterator iterator;
    return iterator.over(text);
}

// Code-point steps, for when ICU cannot be used.
std::size_t next_code_point(std::string_view text, std::size_t i) {
    return std::min(text.size(), i + utf8::char_len(text, i));
}
std::size_t prev_code_point(std::string_view text, std::size_t i) {
    if (i == 0) return 0;
    std::size_t p = 0;
    for (std::size_t q = 0; q < i; q = next_code_point(text, q)) p = q;
    return p;
}

// The start of the character holding byte `i`: ICU moves an index inside a
// character to its start too, but then steps from there.
std::size_t char_start(std::string_view text, std::size_t i) {
    while (i > 0 && i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return i;
}

}  // namespace

std::size_t next_grapheme(std::string_view text, std::size_t i) {
    if (i >= text.size()) return text.size();
    UBreakIterator* it = iterator_over(text);
    if (it == nullptr) return next_code_point(text, i);
    int32_t b = ubrk_following(it, static_cast<int32_t>(i));
    return b == UBRK_DONE ? text.size() : static_cast<std::size_t>(b);
}

std::size_t prev_grapheme(std::string_view text, std::size_t i) {
    i = std::min(i, text.size());
    if (i == 0) return 0;
    if (char_start(text, i) != i) return floor_grapheme(text, i);
    UBreakIterator* it = iterator_over(text);
    if (it == nullptr) return prev_code_point(text, i);
    int32_t b = ubrk_preceding(it, static_cast<int32_t>(i));
    return b == UBRK_DONE ? 0 : static_cast<std::size_t>(b);
}

std::size_t floor_grapheme(std::string_view text, std::size_t i) {
    if (i >= text.size()) return text.size();
    i = char_start(text, i);
    if (i == 0) return 0;
    UBreakIterator* it = iterator_over(text);
    if (it == nullptr) {
        std::size_t p = 0;
        for (std::size_t q = 0; q <= i; q = next_code_point(text, q)) {
            p = q;
            if (q == text.size()) break;
        }
        return p;
    }
    if (ubrk_isBoundary(it, static_cast<int32_t>(i))) return i;
    int32_t b = ubrk_preceding(it, static_cast<int32_t>(i));
    return b == UBRK_DONE ? 0 : static_cast<std::size_t>(b);
}

std::size_t backspace_start(std::string_view text, std::size_t caret) {
    caret = floor_grapheme(text, caret);
    std::size_t start = prev_grapheme(text, caret);
    std::size_t last = prev_code_point(text, caret);
    if (last <= start) return start;  // a single code point
    char32_t c = utf8::decode(text, last);
    bool mark = (U_GET_GC_MASK(c) & (U_GC_MN_MASK | U_GC_ME_MASK)) != 0;
    bool jamo = c >= 0x1160 && c <= 0x11FF;
    return mark || jamo ? last : start;
}

bool is_word_char(char32_t c) {
    return c == U'_' || u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC) ||
           u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER ||
           u_charType(static_cast<UChar32>(c)) == U_OTHER_NUMBER ||
           u_charType(static_cast<UChar32>(c)) == U_LETTER_NUMBER;
}

std::pair<std::size_t, std::size_t> word_range_at(std::string_view text, std::size_t index) {
    if (text.empty()) return {0, 0};
    std::size_t i = floor_grapheme(text, std::min(index, text.size()));
    // A cluster counts as a word character by its first code point, so a
    // letter keeps its combining marks.
    auto word_at = [&](std::size_t at) { return at < text.size() && is_word_char(utf8::decode(text, at)); };
    std::size_t start = i;
    while (start > 0) {
        std::size_t p = prev_grapheme(text, start);
        if (!word_at(p)) break;
        start = p;
    }
    std::size_t end = i;
    while (word_at(end)) end = next_grapheme(text, end);
    return {start, end};
}

bool has_control_char(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); i += utf8::char_len(text, i)) {
        char32_t c = utf8::decode(text, i);
        if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return true;
    }
    return false;
}

}  // namespace zem
