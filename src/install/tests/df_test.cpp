// Reading one figure of df's report, against a df stand-in on PATH.
#include "install/df.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

TEST(Df, SecondLineAsANumber) {
    support::TempDir dir;
    const std::string R = dir.path();
    support::install_standin(R, "df");
    const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (R + "/usr/local/sbin:" + saved).c_str(), 1);
    struct Case {
        const char* name;
        std::string out;
        int status;
        std::optional<std::uint64_t> value;
    };
    const std::vector<Case> cases = {
        {"plain", "   Avail\n123456789\n", 0, 123456789u},
        {"blanks and plus sign", "Used\n  +42  \n", 0, 42u},
        {"header only", "Avail\n", 0, std::nullopt},
        {"not a number", "Avail\n12k\n", 0, std::nullopt},
        {"df fails", "Avail\n1\n", 1, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        support::standin_answer(R, "df", c.out, c.status);
        EXPECT_EQ(install::df_field("/target", "avail"), c.value);
    }
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(support::standin_calls(R).front(), "df -B1 --output=avail /target");
    // The real df agrees with itself on a real file system.
    EXPECT_TRUE(install::df_field("/", "size").value_or(0) > 0);
}

} // namespace
