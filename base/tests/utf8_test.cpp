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
