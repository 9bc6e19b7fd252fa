#include <zem/text/graphemes.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zem::next_grapheme;

std::vector<std::size_t> stops(std::string_view t) {
    std::vector<std::size_t> out{0};
    for (std::size_t i = 0; i < t.size();) out.push_back(i = next_grapheme(t, i));
    return out;
}

TEST(Graphemes, StepsWholeClustersBothWays) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::size_t> boundaries;
    };
    const Case cases[] = {
        {"combining acute", "e\u0301a", {0, 3, 4}},
        {"zwj family", "\U0001F469\u200D\U0001F469\u200D\U0001F467!", {0, 18, 19}},
        {"two flags", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", {0, 8, 16}},
        {"hangul jamo", "\u1100\u1161\u11A8x", {0, 9, 10}},
        {"precomposed hangul", "\uD55C\uAE00", {0, 3, 6}},
        {"arabic with digits", "\u0633\u0644\u0627\u0645 12", {0, 2, 4, 6, 8, 9, 10, 11}},
        {"hebrew with digits", "\u05E9\u05DC 1", {0, 2, 4, 5, 6}},
        {"crlf is one", "a\r\nb", {0, 1, 3, 4}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(stops(c.text), c.boundaries) << c.name;
        // Walking back visits the same boundaries.
        std::vector<std::size_t> back{c.text.size()};
        for (std::size_t i = c.text.size(); i > 0;) back.insert(back.begin(), i = zem::prev_grapheme(c.text, i));
        EXPECT_EQ(back, c.boundaries) << c.name;
        // An offset inside a cluster floors to its start.
        for (std::size_t k = 0; k + 1 < c.boundaries.size(); ++k)
            for (std::size_t i = c.boundaries[k]; i < c.boundaries[k + 1]; ++i)
                EXPECT_EQ(zem::floor_grapheme(c.text, i), c.boundaries[k]) << c.name << " at " << i;
    }
    EXPECT_EQ(zem::floor_grapheme("ab", 99), 2u);
}

TEST(Graphemes, BackspaceTakesTrailingMarksAndJamoAlone) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t caret, start;
    };
    const Case cases[] = {
        {"combining mark alone", "e\u0301", 3, 1},
        {"final jamo alone", "\u1100\u1161\u11A8", 9, 6},
        {"zwj family whole", "a\U0001F469\u200D\U0001F467", 12, 1},
        {"flag whole", "\U0001F1E9\U0001F1EA", 8, 0},
        {"ascii", "ab", 2, 1},
        {"caret inside a cluster floors first", "e\u0301x", 2, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(zem::backspace_start(c.text, c.caret), c.start) << c.name;
}

TEST(Graphemes, WordRanges) {
    struct Case {
        std::string text;
        std::size_t index;
        std::pair<std::size_t, std::size_t> range;
    };
    const Case cases[] = {
        {"foo_bar1 baz", 2, {0, 8}}, {"foo_bar1 baz", 8, {0, 8}}, {"foo_bar1 baz", 9, {9, 12}},
        {"a  b", 2, {2, 2}},         {"", 0, {0, 0}},             {"cafe\u0301 x", 1, {0, 6}},
        {"\u0633\u0644\u0627\u0645 12", 9, {9, 11}},              {"ab", 99, {0, 2}},
    };
    for (const auto& c : cases) EXPECT_EQ(zem::word_range_at(c.text, c.index), c.range) << c.text << " @" << c.index;
}

TEST(Graphemes, ControlCharacters) {
    for (const std::string& s : std::vector<std::string>{"a\nb", "\t", std::string("x\0y", 3), "\x7f", "\u0085", "\r"})
        EXPECT_TRUE(zem::has_control_char(s)) << s;
    for (const std::string& s : std::vector<std::string>{"pa ss", "\u00e9\u20ac", ""}) EXPECT_FALSE(zem::has_control_char(s)) << s;
}

}  // namespace
