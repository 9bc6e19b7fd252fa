// The real outside world over temporary trees: what the wizard probes when
// it is built, the marker files, systemctl, and ending the process.

#include "app/installer_app.hpp"
#include "platform/system_paths.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

platform::SystemPaths tree(const support::TempDir& tmp) {
    platform::SystemPaths p;
    p.dev = tmp / "dev";
    p.sys = tmp / "sys";
    p.state_dir = tmp / "state";
    p.run_dir = tmp / "run";
    p.default_user_home = tmp / "home/vessara";
    for (const auto& d : {p.dev, p.sys + "/block", p.state_dir, p.run_dir}) fs::create_directories(d);
    return p;
}

TEST(RealEffects, ProbesAtConstruction) {
    struct Row {
        bool tpmrm0;
        std::optional<std::string> major;
        bool home;
        bool test;
        bool tpm, account;
    };
    const std::vector<Row> rows = {
        {true, std::nullopt, true, false, true, true},
        {false, "2\n", false, false, true, false},
        {false, "1\n", false, true, false, true},
        {false, std::nullopt, false, false, false, false},
    };
    for (const Row& r : rows) {
        support::TempDir tmp;
        auto p = tree(tmp);
        if (r.tpmrm0) std::ofstream(p.dev + "/tpmrm0") << "";
        if (r.major) {
            fs::create_directories(p.sys + "/class/tpm/tpm0");
            std::ofstream(p.sys + "/class/tpm/tpm0/tpm_version_major") << *r.major;
        }
        if (r.home) fs::create_directories(p.default_user_home);
        support::PathsGuard guard(p);
        app::InstallerApp a(std::nullopt, r.test, true, app::real_effects());
        EXPECT_EQ(a.tpm_present, r.tpm);
        EXPECT_EQ(a.encrypt, r.tpm);
        EXPECT_EQ(a.account_needed, r.account);
        EXPECT_TRUE(a.disk_rows.empty()); // an empty sysfs: never the host's disks
    }
}

// Disks come from the sysfs tree in force, over image files: never the
// host's own disks.
TEST(RealEffects, DiskRowsFromAFakeSysfs) {
    support::TempDir tmp;
    auto p = tree(tmp);
    for (const char* name : {"vdb", "vda"}) {
        const std::string d = p.sys + "/devices/virtual/block/" + name;
        fs::create_directories(d);
        std::ofstream(d + "/size") << (std::string(name) == "vda" ? "2097152\n" : "4194304\n");
        fs::create_directory_symlink(d, p.sys + "/block/" + name);
        std::ofstream(p.dev + "/" + name).close();
        fs::resize_file(p.dev + "/" + name, std::string(name) == "vda" ? 1ull << 30 : 2ull << 30);
    }
    support::PathsGuard guard(p);
    app::InstallerApp a(std::nullopt, true, false, app::real_effects());
    ASSERT_EQ(a.disk_rows.size(), 2u);
    EXPECT_EQ(a.disk_rows[0].path, p.dev + "/vda");
    EXPECT_EQ(a.disk_rows[0].size, 1ull << 30);
    EXPECT_EQ(a.disk_rows[1].path, p.dev + "/vdb");
    EXPECT_EQ(a.disk_rows[1].label, "Disk vdb"); // the disk model names a disk without a model by its name
}

TEST(RealEffects, MarkConfiguredSwapsTheMarkers) {
    support::TempDir tmp;
    auto p = tree(tmp);
    support::PathsGuard guard(p);
    auto fx = app::real_effects();
    auto missing = fx->mark_configured();
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().rfind("remove " + p.marker("configure-pending") + ": ", 0), 0u) << missing.error();
    EXPECT_FALSE(fs::exists(p.marker("configured")));

    std::ofstream(p.marker("configure-pending")) << "";
    ASSERT_TRUE(fx->mark_configured());
    EXPECT_FALSE(fs::exists(p.marker("configure-pending")));
    EXPECT_TRUE(fs::exists(p.marker("configured")));
    EXPECT_EQ(fs::file_size(p.marker("configured")), 0u);
}

// The real systemctl would restart this machine: a stand-in first on PATH
// logs its arguments and answers with the status it is told.
TEST(RealEffects, SystemctlStatusComesBack) {
    support::TempDir tmp;
    fs::create_directories(tmp / "bin");
    {
        std::ofstream s(tmp / "bin/systemctl");
        s << "#!/bin/sh\necho \"$@\" >>\"" << (tmp / "log") << "\"\nexit $(cat \"" << (tmp / "status") << "\")\n";
    }
    fs::permissions(tmp / "bin/systemctl", fs::perms::owner_all);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (tmp / "bin:" + old_path).c_str(), 1);
    auto fx = app::real_effects();
    for (int code : {0, 1}) {
        std::ofstream(tmp / "status") << code;
        auto r = fx->run_systemctl({"reboot"});
        ASSERT_TRUE(r);
        EXPECT_TRUE(WIFEXITED(*r));
        EXPECT_EQ(WEXITSTATUS(*r), code);
    }
    ::setenv("PATH", old_path.c_str(), 1);
    std::ifstream log(tmp / "log");
    std::string all((std::istreambuf_iterator<char>(log)), {});
    EXPECT_EQ(all, "reboot\nreboot\n");
}

// A global whose destructor would race a worker still using the heap; ending
// the process must skip it, yet lose nothing already written.
struct Noisy {
    ~Noisy() { std::fputs(" destroyed", stdout); }
};

TEST(RealEffects, EndProcessFlushesAndSkipsDestructorsWhileWorkersRun) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        static Noisy noisy;
        static std::atomic<bool> stop{false};
        std::thread([] {
            std::string s;
            while (!stop) s.append(64, 'x').resize(32);
        }).detach();
        std::fputs("ending", stdout); // buffered: the pipe is not a terminal
        app::real_effects()->end_process(7);
        std::_Exit(99); // not reached
    }
    ::close(fds[1]);
    std::string out;
    char buf[64];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(out, "ending");
}

} // namespace
