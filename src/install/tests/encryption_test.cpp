// LUKS and TPM steps. luksFormat is real; opening the container (no
// device-mapper here) and clevis (no TPM) are logging stand-ins on PATH.
#include "install/encryption.hpp"
#include "platform/system_paths.hpp"
#include "support/files.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace stdfs = std::filesystem;

using support::read_file;
using support::write_file;
using support::PathsGuard;

// Puts ROOT/usr/local/sbin first on this process's PATH while it lives.
class PathPrefix {
public:
    explicit PathPrefix(const std::string& root) : saved_(std::getenv("PATH") ? std::getenv("PATH") : "") {
        ::setenv("PATH", (root + "/usr/local/sbin:" + saved_).c_str(), 1);
    }
    ~PathPrefix() { ::setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

struct Machine {
    bool tpmrm0;
    std::optional<std::string> version; // sysfs tpm_version_major
};

platform::SystemPaths machine(const std::string& dir, const Machine& m) {
    platform::SystemPaths p;
    p.dev = dir + "/dev";
    p.sys = dir + "/sys";
    stdfs::create_directories(p.dev);
    stdfs::create_directories(p.sys);
    if (m.tpmrm0) write_file(p.dev + "/tpmrm0", "");
    if (m.version) write_file(p.sys + "/class/tpm/tpm0/tpm_version_major", *m.version);
    return p;
}

TEST(Tpm, PresenceAndCrypttabOptions) {
    const std::string with_script =
        "luks,discard,keyscript=/usr/share/initramfs-tools/scripts/unl0kr-keyscript";
    struct Case {
        const char* name;
        Machine m;
        bool present;
    };
    const std::vector<Case> cases = {
        {"resource manager node, no version file", {true, std::nullopt}, true},
        {"resource manager node, version 1", {true, "1\n"}, true},
        {"version 2 with a newline", {false, "2\n"}, true},
        {"version 1", {false, "1"}, false},
        {"nothing", {false, std::nullopt}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        support::TempDir dir;
        PathsGuard guard(machine(dir.path(), c.m));
        EXPECT_EQ(install::tpm_present(), c.present);
        const std::string R = dir.path() + "/target";
        stdfs::create_directories(R);
        EXPECT_EQ(install::crypttab_options(R), "luks,discard");
        write_file(R + "/usr/share/initramfs-tools/scripts/unl0kr-keyscript", "#!/bin/sh\n");
        EXPECT_EQ(install::crypttab_options(R), c.present ? "luks,discard" : with_script);
    }
}

TEST(Clevis, BindingListAndHookRemoval) {
    support::TempDir dir;
    const std::string R = dir.path();
    support::install_standin(R, "clevis");
    PathPrefix path(R);
    EXPECT_FALSE(install::clevis_bound("/dev/sdz2"));
    // The exit status is not looked at, only what is listed.
    support::standin_answer(R, "clevis", " 1: tpm2 '{\"hash\":\"sha256\"}'\n", 1);
    EXPECT_TRUE(install::clevis_bound("/dev/sdz2"));
    support::standin_answer(R, "clevis", " \n\t", 0);
    EXPECT_FALSE(install::clevis_bound("/dev/sdz2"));
    EXPECT_EQ(support::standin_calls(R), std::vector<std::string>(3, "clevis luks list -d /dev/sdz2"));
}

// Runs `body` in a child process with a private mount namespace whose
// /dev/mapper is an empty tmpfs; returns the child's standard error.
std::string in_private_mapper(const std::string& err_file, const std::function<void()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = ::open(err_file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ::dup2(fd, 2);
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(3);
        // A machine without device-mapper has no /dev/mapper until something
        // makes it: make it, as the driver would, then cover it.
        if ((::mkdir("/dev/mapper", 0755) != 0 && errno != EEXIST) ||
            ::mount("tmpfs", "/dev/mapper", "tmpfs", 0, nullptr) != 0)
            _exit(3);
        body();
        _exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return read_file(err_file).value_or("");
}

TEST(Luks, FormatOpenAndBind) {
    if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto disk = support::LoopDisk::create(40 << 20);
    ASSERT_TRUE(disk) << disk.error();
    const std::string node = disk->path();
    const std::string password = "two words\nand a line";
    struct Case {
        const char* name;
        Machine m;
        int bind_status;
        std::vector<std::string> clevis_calls;
        std::string log;
    };
    const std::string bind = "clevis luks bind -f -k - -d " + node + " tpm2 {\"pcr_ids\":\"7\"}";
    const std::vector<Case> cases = {
        {"with a TPM", {true, std::nullopt}, 0, {bind}, ""},
        {"failed binding", {true, std::nullopt}, 1, {bind},
         "install: TPM bind failed, boot will ask for the password: clevis exited with exit status: 1: no pcr\n"},
        {"without a TPM", {false, std::nullopt}, 0, {}, "install: no TPM 2.0 present, boot will ask for the password\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        support::TempDir dir;
        const std::string R = dir.path();
        support::install_standin(R, "clevis");
        support::standin_answer(R, "clevis", "", c.bind_status, c.bind_status ? "no pcr\n" : "");
        // cryptsetup: the real one formats; opening only records its key and
        // makes the mapper node.
        write_file(R + "/usr/local/sbin/cryptsetup",
              "#!/bin/sh\n"
              "if [ \"$1\" = luksFormat ]; then exec /usr/sbin/cryptsetup \"$@\" --pbkdf pbkdf2 --pbkdf-force-iterations 1000; fi\n"
              "echo \"cryptsetup $*\" >> " + R + "/cryptsetup.log\n"
              "cat > " + R + "/open-key\n"
              "for last; do :; done\n"
              ": > /dev/mapper/$last\n");
        stdfs::permissions(R + "/usr/local/sbin/cryptsetup", stdfs::perms(0755));
        const std::string result_file = R + "/result";
        std::string err;
        {
            PathsGuard guard(machine(R + "/machine", c.m));
            PathPrefix path(R);
            err = in_private_mapper(R + "/stderr", [&] {
                auto r = install::setup_luks(node, password);
                std::ofstream(result_file) << (r ? "ok " + *r : "error " + r.error());
            });
        }
        EXPECT_EQ(read_file(result_file), "ok /dev/mapper/tavix_crypt");
        EXPECT_EQ(err, c.log);
        EXPECT_EQ(read_file(R + "/cryptsetup.log"), "cryptsetup open --key-file - " + node + " tavix_crypt\n");
        EXPECT_EQ(read_file(R + "/open-key"), password);
        EXPECT_EQ(support::standin_calls(R), c.clevis_calls);
        // The container takes the password byte for byte, line break included.
        EXPECT_EQ(support::run_command({"cryptsetup", "open", "--test-passphrase", "--key-file", "-", node}, password)
                      .exit_code,
                  0);
        EXPECT_NE(support::run_command({"cryptsetup", "open", "--test-passphrase", "--key-file", "-", node}, "two words")
                      .exit_code,
                  0);
    }
}

TEST(Luks, FormatFailureEndsTheStep) {
    support::TempDir dir;
    auto r = install::setup_luks(dir.path() + "/missing", "pw");
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().starts_with("cryptsetup exited with exit status: ")) << r.error();
}

} // namespace
