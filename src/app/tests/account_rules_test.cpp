// The account form's rules, with the control characters the daemon and
// chpasswd would take as line ends.

#include "install/preflight.hpp"

#include <gtest/gtest.h>

namespace {

struct Row {
    std::string user, host, pw, confirm;
    bool valid;
};

TEST(AccountRules, FormTable) {
    const std::string nul("a\0b", 3);
    const std::vector<Row> rows = {
        {"ann", "box", "pw", "pw", true},
        {"_a-1", "Box-1", "p w", "p w", true},
        {std::string(32, 'a'), std::string(63, 'h'), "x", "x", true},
        {std::string(33, 'a'), "box", "pw", "pw", false},
        {"", "box", "pw", "pw", false},
        {"1ann", "box", "pw", "pw", false},
        {"Ann", "box", "pw", "pw", false},
        {"ann", std::string(64, 'h'), "pw", "pw", false},
        {"ann", "-box", "pw", "pw", false},
        {"ann", "box-", "pw", "pw", false},
        {"ann", "my.box", "pw", "pw", false},
        {"ann", "", "pw", "pw", false},
        {"ann", "box", "", "", false},
        {"ann", "box", "pw", "pW", false},
        // Control characters, in each of the three fields.
        {"an\nn", "box", "pw", "pw", false},
        {"ann\t", "box", "pw", "pw", false},
        {nul, "box", "pw", "pw", false},
        {"ann", "bo\rx", "pw", "pw", false},
        {"ann", "box\n", "pw", "pw", false},
        {"ann", nul, "pw", "pw", false},
        {"ann", "box", "p\nw", "p\nw", false},
        {"ann", "box", "p\tw", "p\tw", false},
        {"ann", "box", nul, nul, false},
        {"ann", "box", "pw\r", "pw\r", false},
        {"ann", "box", "pw\x7f", "pw\x7f", false},
        {"ann", "box", "pässwörd", "pässwörd", true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(install::account_form_valid({r.user, r.host, r.pw, r.confirm}), r.valid)
            << testing::PrintToString(r.user) << " " << testing::PrintToString(r.host) << " "
            << testing::PrintToString(r.pw);
    }
    EXPECT_TRUE(install::username_valid("_x"));
    EXPECT_FALSE(install::username_valid("-x"));
}

} // namespace
