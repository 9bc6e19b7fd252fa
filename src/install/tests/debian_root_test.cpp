// The Debian root that engine and first-boot tests install from and run in.
#include <base/files.hpp>
#include "support/debian_root.hpp"
#include "support/loop_disk.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string read(const std::string& path) { return base::read_file(path).value_or(""); }

TEST(DebianRoot, CopiesAreIndependentAndCarryTheImageUser) {
    auto root = support::debian_root();
    if (!root) GTEST_SKIP() << root.error();
    support::TempDir a, b;
    ASSERT_TRUE(support::copy_debian_root(a.path() + "/r"));
    ASSERT_TRUE(support::copy_debian_root(b.path() + "/r"));
    EXPECT_NE(read(a.path() + "/r/etc/passwd").find("\nvessara:"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(a.path() + "/r/home/vessara"));
    // Commands the engine runs inside the tree are there.
    for (const char* tool : {"usr/sbin/usermod", "usr/sbin/chpasswd", "usr/sbin/locale-gen", "usr/bin/ssh-keygen",
                             "usr/sbin/resize2fs", "usr/bin/partx"})
        EXPECT_TRUE(std::filesystem::exists(a.path() + "/r/" + tool)) << tool;
    std::ofstream(a.path() + "/r/etc/hostname") << "changed\n";
    EXPECT_NE(read(b.path() + "/r/etc/hostname"), "changed\n");
    EXPECT_NE(read(*root + "/etc/hostname"), "changed\n");
}

} // namespace
