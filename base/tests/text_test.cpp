#include <base/env.hpp>
#include <base/fd.hpp>
#include <base/quote.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(DebugQuote, EscapesQuotesBackslashesAndControls) {
    struct Case {
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"", "\"\""},
        {"plain é", "\"plain é\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\n\r\t", "\"\\n\\r\\t\""},
        {std::string("\0", 1), "\"\\0\""},
        {"\x01\x1f\x7f", "\"\\u{1}\\u{1f}\\u{7f}\""},
    };
    for (const auto& c : cases) EXPECT_EQ(base::debug_quote(c.in), c.out);
}

TEST(EnvFlag, OnlyANonEmptyTextOtherThanZeroTurnsItOn) {
    EXPECT_FALSE(base::flag_value_on(nullptr));
    EXPECT_FALSE(base::flag_value_on(""));
    EXPECT_FALSE(base::flag_value_on("0"));
    EXPECT_FALSE(base::flag_value_on("\xFF"));
    EXPECT_TRUE(base::flag_value_on("1"));
    EXPECT_TRUE(base::flag_value_on("00"));
    EXPECT_TRUE(base::flag_value_on("yes"));
}

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

TEST(Fd, ClosesOnceWhateverHandsItOver) {
    int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        base::Fd a(raw);
        base::Fd b(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(b.get(), raw);
        base::Fd c;
        c = std::move(b);
        EXPECT_TRUE(is_open(raw));
    }
    EXPECT_FALSE(is_open(raw));

    int kept = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(kept, 0);
    {
        base::Fd d(kept);
        EXPECT_EQ(d.release(), kept);
    }
    EXPECT_TRUE(is_open(kept));
    ::close(kept);
}

} // namespace
