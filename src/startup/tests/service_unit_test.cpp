// The service unit as a distribution installs it: it must start the
// executable where this build puts it.

#include "support/command.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The program a unit line "Key=PROGRAM args" runs.
std::vector<std::string> programs(const std::string& unit, const std::string& key) {
    std::vector<std::string> out;
    std::istringstream in(unit);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key + "=")) out.push_back(line.substr(key.size() + 1, line.find(' ') - key.size() - 1));
    return out;
}

TEST(ServiceUnit, InstalledUnitStartsTheInstalledExecutable) {
    support::TempDir dest;
    auto r = support::run_command(
        {"env", "DESTDIR=" + dest.path(), "cmake", "--install", TAVIX_BINARY_DIR});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    // The unit lies below the prefix, as the executable does.
    std::string unit_path;
    std::istringstream listing(r.out);
    for (std::string line; std::getline(listing, line);)
        if (auto at = line.find(dest.path()); at != std::string::npos && line.ends_with("/tavix-installer-daemon.service"))
            unit_path = line.substr(at);
    ASSERT_FALSE(unit_path.empty()) << r.out;
    auto unit = support::read_file(unit_path);
    ASSERT_TRUE(unit);
    const auto start = programs(*unit, "ExecStart"), pre = programs(*unit, "ExecStartPre");
    ASSERT_EQ(start.size(), 1u) << *unit;
    ASSERT_EQ(pre, start) << *unit;
    EXPECT_TRUE(start[0].starts_with("/")) << start[0];
    struct stat st {};
    ASSERT_EQ(::stat((dest.path() + start[0]).c_str(), &st), 0) << start[0] << " is not installed";
    EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & 0111)) << start[0];
    EXPECT_NE(unit->find(start[0] + " daemon\n"), std::string::npos) << *unit;
    EXPECT_NE(unit->find(start[0] + " firstboot\n"), std::string::npos) << *unit;
    // Nothing else of the unit depends on where it is installed.
    auto source = support::read_file(std::string(TAVIX_SOURCE_DIR) + "/data/tavix-installer-daemon.service.in");
    ASSERT_TRUE(source);
    std::string expected = *source;
    for (std::size_t at; (at = expected.find("@TAVIX_INSTALLER_PATH@")) != std::string::npos;)
        expected.replace(at, 22, start[0]);
    EXPECT_EQ(*unit, expected);
}

} // namespace
