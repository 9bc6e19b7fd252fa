#include <base/files.hpp>
#include "install/copy.hpp"
#include "install/engine.hpp"
#include "platform/system_paths.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace sfs = std::filesystem;

namespace {

using namespace std::chrono_literals;

void write_file(const std::string& path, const std::string& text, sfs::perms mode = sfs::perms(0644)) {
    sfs::create_directories(sfs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    sfs::permissions(path, mode);
}

std::string read_file(const std::string& path) { return base::read_file(path).value_or(""); }

TEST(CopyProgress, PercentOfALine) {
    struct Case {
        std::string line;
        std::optional<std::uint32_t> percent;
    };
    const std::vector<Case> cases = {
        {"    1,234,567  42%   10.00MB/s    0:00:01 (xfr#3, to-chk=10/20)", 42},
        {"100%", 100},
        {"  0%", 0},
        {"+7%", 7},
        {"sending incremental file list", std::nullopt},
        {"%", std::nullopt},
        {"12abc% x", std::nullopt},
        {"-5%", std::nullopt},
        {"4294967295%", 4294967295u},
        {"4294967296%", std::nullopt},
        // Only the text before the first "%" counts.
        {"x 3% 90%", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(install::progress_percent(c.line), c.percent) << c.line;
}

TEST(CopyProgress, FractionRange) {
    EXPECT_FLOAT_EQ(install::copy_fraction(0), 0.10f);
    EXPECT_FLOAT_EQ(install::copy_fraction(42), 0.415f);
    EXPECT_FLOAT_EQ(install::copy_fraction(100), 0.85f);
}

TEST(CopyFailure, TextKeepsTheLastFiveLines) {
    EXPECT_EQ(install::rsync_failure(12, "a\nb\r\nc\nd\ne\nf\ng\n"), "rsync failed (Some(12)): c\nd\ne\nf\ng");
    EXPECT_EQ(install::rsync_failure(std::nullopt, "only\n"), "rsync failed (None): only");
    EXPECT_EQ(install::rsync_failure(1, ""), "rsync failed (Some(1)): ");
}

TEST(CopyCommand, ArgumentsInOrder) {
    const install::Command want{
        "rsync", "-aHAXx", "--numeric-ids", "--no-inc-recursive", "--info=progress2",
        "--exclude", "/dev/*", "--exclude", "/proc/*", "--exclude", "/sys/*", "--exclude", "/run/*",
        "--exclude", "/tmp/*", "--exclude", "/var/tmp/*", "--exclude", "/mnt/*", "--exclude", "/media/*",
        "--exclude", "/boot/efi/*", "--exclude", "/lost+found", "/", "/run/tavix-install/root/"};
    EXPECT_EQ(install::rsync_command("/", "/run/tavix-install/root"), want);
    auto other = install::rsync_command("/srv/live", "/mnt/t");
    EXPECT_EQ(other[other.size() - 2], "/srv/live/");
    EXPECT_EQ(other.back(), "/mnt/t/");
}

// Copies with SystemPaths pointing at a source tree and a target directory;
// optionally with a stand-in rsync first on PATH.
class SystemCopy : public ::testing::Test {
protected:
    void SetUp() override {
        saved_paths_ = platform::paths();
        saved_path_env_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        source_ = dir_ / "source";
        target_ = dir_ / "target";
        sfs::create_directories(source_);
        sfs::create_directories(target_);
        platform::SystemPaths p = saved_paths_;
        p.host_root = source_;
        p.target_root = target_;
        platform::set_paths(p);
        install::CANCEL_FLAG.store(false);
    }
    void TearDown() override {
        platform::set_paths(saved_paths_);
        ::setenv("PATH", saved_path_env_.c_str(), 1);
        install::CANCEL_FLAG.store(false);
    }
    // Puts an executable script named rsync first on PATH.
    void stand_in(const std::string& script) {
        write_file(dir_ / "bin/rsync", "#!/bin/sh\n" + script, sfs::perms(0755));
        ::setenv("PATH", (dir_ / "bin:" + saved_path_env_).c_str(), 1);
    }

    support::TempDir dir_;
    std::string source_, target_;
    platform::SystemPaths saved_paths_;
    std::string saved_path_env_;
    install::InstallHandle handle_ = std::make_shared<install::InstallStatus>();
};

TEST_F(SystemCopy, RealRsyncCopiesTheTreeWithoutTheExcludedContents) {
    write_file(source_ + "/etc/hostname", "live\n");
    write_file(source_ + "/usr/bin/tool", std::string(300000, 'x'), sfs::perms(0755));
    sfs::create_symlink("usr/bin", source_ + "/bin");
    ASSERT_EQ(::link((source_ + "/usr/bin/tool").c_str(), (source_ + "/usr/bin/tool-hard").c_str()), 0);
    for (const char* d : {"dev", "proc", "sys", "run", "tmp", "var/tmp", "mnt", "media", "boot/efi"})
        write_file(source_ + "/" + d + "/leftover", "x");
    write_file(source_ + "/lost+found/x", "x");
    write_file(source_ + "/boot/vmlinuz", "kernel");

    auto r = install::copy_system(handle_);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(read_file(target_ + "/etc/hostname"), "live\n");
    EXPECT_EQ(sfs::status(target_ + "/usr/bin/tool").permissions(), sfs::perms(0755));
    EXPECT_EQ(sfs::read_symlink(target_ + "/bin"), "usr/bin");
    struct stat a {}, b {};
    ASSERT_EQ(::stat((target_ + "/usr/bin/tool").c_str(), &a), 0);
    ASSERT_EQ(::stat((target_ + "/usr/bin/tool-hard").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino) << "hard links stay hard links";
    EXPECT_EQ(read_file(target_ + "/boot/vmlinuz"), "kernel");
    // The excluded directories arrive empty; lost+found not at all.
    for (const char* d : {"dev", "proc", "sys", "run", "tmp", "var/tmp", "mnt", "media", "boot/efi"}) {
        EXPECT_TRUE(sfs::is_directory(target_ + "/" + d)) << d;
        EXPECT_FALSE(sfs::exists(target_ + "/" + d + "/leftover")) << d;
    }
    EXPECT_FALSE(sfs::exists(target_ + "/lost+found"));
    auto s = handle_->snapshot();
    EXPECT_EQ(s.phase, ipc::InstallPhase::Copy);
    // rsync counts hard-linked bytes in its total but never sends them
    // twice, so its last percentage need not be 100.
    EXPECT_GT(s.fraction, 0.10f);
    EXPECT_LE(s.fraction, 0.85f);
}

TEST_F(SystemCopy, ExitCodesAndProgressLines) {
    struct Case {
        const char* name;
        std::string script;
        std::optional<std::string> error; // nothing: success
        float fraction;
    };
    const std::vector<Case> cases = {
        {"partial transfer", "printf '  10  42%%  1MB/s 0:00:01\\r' ; exit 23\n", std::nullopt, 0.415f},
        {"vanished files", "printf '100%%\\n'; exit 24\n", std::nullopt, 0.85f},
        {"a line without a number changes nothing", "printf 'abc%%\\r 5%%\\rnothing\\r'; exit 0\n",
         std::nullopt, 0.1375f},
        {"exit 12 with its error tail",
         "for i in 1 2 3 4 5 6; do echo \"err $i\" >&2; done; printf ' 7%%\\r'; exit 12\n",
         std::string("rsync failed (Some(12)): err 2\nerr 3\nerr 4\nerr 5\nerr 6"), 0.1525f},
        {"killed by a signal", "echo dying >&2; kill -TERM $$\n", std::string("rsync failed (None): dying"), 0.0f},
    };
    for (const auto& c : cases) {
        stand_in(c.script);
        auto handle = std::make_shared<install::InstallStatus>();
        auto r = install::copy_system(handle);
        if (c.error) {
            ASSERT_FALSE(r) << c.name;
            EXPECT_EQ(r.error(), *c.error) << c.name;
        } else {
            EXPECT_TRUE(r) << c.name << ": " << r.error();
        }
        EXPECT_FLOAT_EQ(handle->snapshot().fraction, c.fraction) << c.name;
    }
}

TEST_F(SystemCopy, MissingRsyncCannotStart) {
    ::setenv("PATH", (dir_ / "empty-bin").c_str(), 1);
    auto r = install::copy_system(handle_);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "spawn rsync: No such file or directory");
}

// A cancel kills rsync and the processes it started, whether rsync keeps
// printing progress or has gone silent, and whatever it would have exited
// with.
TEST_F(SystemCopy, CancelKillsRsyncAndItsChildren) {
    struct Case {
        const char* name;
        std::string loop;
    };
    const std::vector<Case> cases = {
        {"printing", "while :; do printf ' 1  12%%  1MB/s\\r'; sleep 0.05; done\n"},
        {"silent", "printf ' 1 12%%\\r'; sleep 600\n"},
    };
    for (const auto& c : cases) {
        const std::string pidfile = dir_ / (std::string("child-") + c.name);
        // The child stands for rsync's receiver: same process group.
        stand_in("trap '' TERM\nsleep 600 & echo $! > " + pidfile + "\n" + c.loop);
        install::CANCEL_FLAG.store(false);
        auto handle = std::make_shared<install::InstallStatus>();
        std::thread canceller([&] {
            // Once rsync's progress has been seen it is either printing or
            // silent for good, whichever the case asks.
            support::wait_until([&] { return handle->snapshot().fraction >= 0.19f; });
            install::CANCEL_FLAG.store(true);
        });
        const auto started = std::chrono::steady_clock::now();
        auto r = install::copy_system(handle);
        canceller.join();
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error(), "cancelled") << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << c.name;
        pid_t child = std::atoi(read_file(pidfile).c_str());
        ASSERT_GT(child, 0) << c.name;
        // Gone, or at most a zombie waiting for its new parent.
        std::string stat = read_file("/proc/" + std::to_string(child) + "/stat");
        if (!stat.empty()) {
            EXPECT_NE(stat.find(") Z"), std::string::npos) << c.name << ": " << stat;
        }
    }
}

} // namespace
