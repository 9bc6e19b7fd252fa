#include <base/utf8.hpp>

#include <gtest/gtest.h>

namespace {

TEST(Utf8, ValidityAndLossyForm) {
    struct Case {
        std::string bytes;
        bool valid;
        std::string lossy;
    };
    const std::string R = "\xEF\xBF\xBD";  // U+FFFD
    const std::vector<Case> cases = {
        {"", true, ""},
        {"plain", true, "plain"},
        {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", true, "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"},
        {"a\xFF" "b", false, "a" + R + "b"},
        {"\xC0\xAF", false, R + R},                      // overlong "/"
        {"\xE0\x80\xAF", false, R + R + R},              // overlong, three bytes
        {"\xED\xA0\x80", false, R + R + R},              // surrogate
        {"\xF4\x90\x80\x80", false, R + R + R + R},      // above U+10FFFF
        {"\xE6\x97", false, R},                          // truncated: one replacement
        {"\xF0\x9F\x98" "x", false, R + "x"},
        {"\x80", false, R},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base::utf8::is_valid(c.bytes), c.valid) << c.lossy;
        EXPECT_EQ(base::utf8::lossy(c.bytes), c.lossy) << c.lossy;
    }
}

TEST(Utf8, TrimRemovesUnicodeWhiteSpaceOnly) {
    struct Case {
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"  x  ", "x"},
        {"\t\n\v\f\r x y \r\n", "x y"},
        {"\xC2\xA0x\xE3\x80\x80", "x"},                   // no-break space, ideographic space
        {"\xE2\x80\x8Ax\xE2\x80\xA8\xC2\x85", "x"},      // hair space, line separator, next line
        {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},               // zero width space is not white space
        {"   ", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(base::utf8::trim(c.in), c.out) << c.in;
}

} // namespace

namespace {

// A walk over ill-formed text advances by each maximal ill-formed prefix and
// never steps into the middle of a well-formed character.
TEST(Utf8, DecodeWalksIllFormedTextOnePrefixAtATime) {
    struct Case {
        std::string bytes;
        std::vector<char32_t> code_points;
    };
    const std::vector<Case> cases = {
        {"a\xC3\xA9", {U'a', 0xE9}},
        {"\xF0\x9F\x98\x80", {0x1F600}},
        {"\xE6\x97" "a", {0xFFFD, U'a'}},      // truncated three-byte form
        {"\xF5\x80", {0xFFFD, 0xFFFD}},        // lead byte above U+10FFFF
        {"\xC1\xBF", {0xFFFD, 0xFFFD}},        // overlong two-byte form
        {"\xED\xBF\xBF", {0xFFFD, 0xFFFD, 0xFFFD}},  // surrogate
        {"\x80\xC3\xA9", {0xFFFD, 0xE9}},
    };
    for (const auto& c : cases) {
        std::vector<char32_t> got;
        for (std::size_t i = 0; i < c.bytes.size();) {
            const auto d = base::utf8::decode(c.bytes, i);
            ASSERT_GE(d.length, 1u);
            got.push_back(d.code_point);
            i += d.length;
        }
        EXPECT_EQ(got, c.code_points) << base::utf8::lossy(c.bytes);
        EXPECT_EQ(base::utf8::count(c.bytes), c.code_points.size());
    }
}

TEST(Utf8, AppendEncodesScalarValuesOnly) {
    std::string out;
    for (char32_t cp : {char32_t(0x41), char32_t(0x7FF), char32_t(0xFFFF), char32_t(0x10FFFF), char32_t(0xD800),
                        char32_t(0x110000)})
        base::utf8::append(out, cp);
    EXPECT_EQ(out, "A\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_TRUE(base::utf8::is_valid(out));
}

} // namespace
