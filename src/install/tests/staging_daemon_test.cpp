// Staging the account (and an encryption of the root) through the real daemon,
// rooted in a Debian tree inside a private mount namespace. The tree is an
// overlay whose mount source names the device the daemon is to take for its
// root; blkid reads that device for real. update-initramfs and mkimage are
// stand-ins: neither can rebuild anything on this machine.
#include "support/daemon_process.hpp"
#include "support/debian_root.hpp"
#include "support/files.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace {

namespace stdfs = std::filesystem;
using support::RootedOptions;

const std::string DONE = "{\"event\":\"done\"}\n";
std::string failed(const std::string& message) { return R"({"event":"failed","message":")" + message + "\"}\n"; }

std::string stage_line(const std::string& user, const std::string& host, const std::string& password, bool encrypt) {
    // The values below need no JSON escaping beyond what is written here.
    return R"({"cmd":"stage_account","username":")" + user + R"(","hostname":")" + host + R"(","password":")" +
           password + R"(","encrypt":)" + (encrypt ? "true" : "false") + "}\n";
}

using support::read_file;

unsigned mode_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The daemon rooted in `root`, with the configure marker in place.
struct Daemon {
    std::unique_ptr<support::RootedProcess> process;
    std::string state() const { return process->view() + "/var/lib/tavix-installer"; }
    support::Exchange send(const std::string& line) const {
        return support::exchange(process->view() + "/run/tavix-installer/daemon.sock", line);
    }
};

std::expected<Daemon, std::string> start_daemon(const std::string& root, RootedOptions options, bool pending = true) {
    options.args = {"daemon"};
    options.private_run_and_state = true;
    auto p = support::RootedProcess::start(TAVIX_INSTALLER_EXE, root, options);
    if (!p) return std::unexpected(p.error());
    if (!(*p)->wait_for_log("listening on")) return std::unexpected("daemon did not start: " + (*p)->log());
    Daemon d{std::move(*p)};
    if (pending) std::ofstream(d.state() + "/configure-pending");
    return d;
}

class Staging : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
        auto root = support::debian_root();
        if (!root) GTEST_SKIP() << root.error();
        pristine_ = *root;
    }
    // A fresh writable root whose "/" is mounted from `source`, with the
    // stand-ins in place.
    std::unique_ptr<support::OverlayRoot> make_root(const std::string& source) {
        auto o = support::OverlayRoot::create(pristine_, source);
        if (!o) {
            ADD_FAILURE() << o.error();
            return nullptr;
        }
        for (const char* s : {"update-initramfs", "mkimage"}) support::install_standin((*o)->path(), s);
        return std::move(*o);
    }
    std::string pristine_;
};

TEST_F(Staging, RefusedRequestsWriteNothing) {
    auto root = make_root("overlay");
    ASSERT_TRUE(root);
    struct Case {
        const char* name;
        bool pending;
        std::string line;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"no configure-pending", false, stage_line("ann", "box", "pw", false), failed("not-pending")},
        {"line break in the user name", true, stage_line("ann\\nroot", "box", "pw", false),
         failed("the user name must not contain a line break")},
        {"colon in the user name", true, stage_line("ann:x", "box", "pw", false),
         failed("the user name must not contain \\\":\\\"")},
        {"line break in the host name", true, stage_line("ann", "box\\r", "pw", false),
         failed("the host name must not contain a line break")},
        {"line break in the password", true, stage_line("ann", "box", "pw\\nroot:x", true),
         failed("the password must not contain a line break")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = start_daemon(root->path(), {}, c.pending);
        ASSERT_TRUE(d) << d.error();
        EXPECT_EQ(d->send(c.line).received, c.answer);
        EXPECT_FALSE(stdfs::exists(d->state() + "/account-staged"));
        EXPECT_FALSE(stdfs::exists(d->state() + "/reencrypt-key"));
    }
    EXPECT_TRUE(support::standin_calls(root->path()).empty());
}

TEST_F(Staging, AccountAloneTouchesNothingElse) {
    auto root = make_root("overlay");
    ASSERT_TRUE(root);
    auto d = start_daemon(root->path(), {});
    ASSERT_TRUE(d) << d.error();
    // A marker left readable to all by someone else is made private.
    std::ofstream(d->state() + "/account-staged") << "old\nold\nold\n";
    stdfs::permissions(d->state() + "/account-staged", stdfs::perms(0644));
    EXPECT_EQ(d->send(stage_line("ann", "box", "pass word:1 ", false)).received, DONE);
    EXPECT_EQ(read_file(d->state() + "/account-staged"), "ann\nbox\npass word:1 \n");
    EXPECT_EQ(mode_of(d->state() + "/account-staged"), 0600u);
    EXPECT_FALSE(stdfs::exists(d->state() + "/reencrypt-key"));
    EXPECT_FALSE(stdfs::exists(d->state() + "/reencrypt-device"));
    EXPECT_FALSE(stdfs::exists(root->path() + "/etc/crypttab"));
    EXPECT_TRUE(support::standin_calls(root->path()).empty());
    EXPECT_TRUE(d->process->wait_for_log("daemon: staging account ann (encrypt: false) for the next boot\n"));
}

TEST_F(Staging, EncryptionOfAPartitionRoot) {
    auto disk = support::LoopDisk::create(64 << 20);
    ASSERT_TRUE(disk) << disk.error();
    auto sf = support::run_command({"sfdisk", "-q", disk->path()}, "label: gpt\n,,L\n");
    ASSERT_EQ(sf.exit_code, 0) << sf.err;
    ASSERT_TRUE(disk->refresh());
    auto js = support::run_command({"sfdisk", "--json", disk->path()});
    auto at = js.out.find("\"uuid\":");
    ASSERT_NE(at, std::string::npos) << js.out;
    const std::string partuuid = lower(js.out.substr(js.out.find('"', at + 7) + 1, 36));
    const std::string part = disk->part(1);
    const std::string part_name = stdfs::path(part).filename().string();
    const std::string keyscript = "usr/share/initramfs-tools/scripts/unl0kr-keyscript";

    struct Case {
        const char* name;
        bool tpm;
        bool keyscript;
        bool boot_scr;
        std::string options;
    };
    const std::vector<Case> cases = {
        {"no TPM, no keyscript", false, false, false, "luks,discard"},
        {"no TPM, keyscript in the root", false, true, false,
         "luks,discard,keyscript=/usr/share/initramfs-tools/scripts/unl0kr-keyscript"},
        {"TPM present", true, true, false, "luks,discard"},
        {"board booting a boot script", false, false, true, "luks,discard"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto root = make_root(part);
        ASSERT_TRUE(root);
        // An existing crypttab is replaced as a whole and keeps its mode.
        std::ofstream(root->path() + "/etc/crypttab") << "old\tUUID=1\tnone\tluks\n";
        stdfs::permissions(root->path() + "/etc/crypttab", stdfs::perms(0640));
        if (c.keyscript) {
            stdfs::create_directories(stdfs::path(root->path() + "/" + keyscript).parent_path());
            std::ofstream(root->path() + "/" + keyscript) << "#!/bin/sh\n";
        }
        if (c.boot_scr) {
            std::ofstream(root->path() + "/boot/boot.scr") << "script";
            std::ofstream(root->path() + "/boot/initrd.img-6.1.0") << "ramdisk";
        }
        RootedOptions o;
        o.dev_nodes = {disk->name(), part_name};
        if (c.tpm) o.dev_files = {"tpmrm0"};
        auto d = start_daemon(root->path(), o);
        ASSERT_TRUE(d) << d.error();
        EXPECT_EQ(d->send(stage_line("ann", "box", "s3cret pass", true)).received, DONE);
        EXPECT_EQ(read_file(d->state() + "/account-staged"), "ann\nbox\ns3cret pass\n");
        EXPECT_EQ(read_file(d->state() + "/reencrypt-key"), "s3cret pass");
        EXPECT_EQ(read_file(d->state() + "/reencrypt-device"), partuuid);
        for (const char* m : {"/account-staged", "/reencrypt-key", "/reencrypt-device"})
            EXPECT_EQ(mode_of(d->state() + m), 0600u) << m;
        EXPECT_EQ(read_file(root->path() + "/etc/crypttab"), "tavix_crypt\tPARTUUID=" + partuuid + "\tnone\t" + c.options + "\n");
        EXPECT_EQ(mode_of(root->path() + "/etc/crypttab"), 0640u);
        std::vector<std::string> calls = {"update-initramfs -u"};
        if (c.boot_scr)
            calls.push_back(
                "mkimage -n uInitrd -A arm64 -O linux -T ramdisk -C gzip -d /boot/initrd.img-6.1.0 /boot/uInitrd-6.1.0");
        EXPECT_EQ(support::standin_calls(root->path()), calls);
        EXPECT_TRUE(d->process->wait_for_log("daemon: staging account ann (encrypt: true) for the next boot\n"));
    }
}

TEST_F(Staging, EncryptionRefusals) {
    auto disk = support::LoopDisk::create(64 << 20);
    ASSERT_TRUE(disk) << disk.error();
    struct Case {
        const char* name;
        std::string source; // what "/" is mounted from
        std::vector<std::string> prepare; // run on the loop device first
        std::string answer;
    };
    const std::string luks_input = "pw";
    const std::vector<Case> cases = {
        {"root not on a device", "overlay", {}, failed("cannot resolve the root partition")},
        {"root on the mapper", "/dev/mapper/tavix_crypt", {}, failed("the root is already encrypted")},
        {"root is a LUKS container", disk->path(),
         {"cryptsetup", "luksFormat", "--type", "luks2", "--batch-mode", "--pbkdf", "pbkdf2", "--pbkdf-force-iterations",
          "1000", "--key-file", "-", disk->path()},
         failed("the root is already encrypted")},
        {"root without a PARTUUID", disk->path(), {"mkfs.ext4", "-q", "-F", disk->path()},
         failed("no PARTUUID for " + disk->path())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.prepare.empty()) {
            auto r = support::run_command({"wipefs", "-a", "-q", disk->path()});
            auto p = support::run_command(c.prepare, luks_input);
            ASSERT_EQ(p.exit_code, 0) << p.err;
        }
        auto root = make_root(c.source);
        ASSERT_TRUE(root);
        RootedOptions o;
        o.dev_nodes = {disk->name()};
        auto d = start_daemon(root->path(), o);
        ASSERT_TRUE(d) << d.error();
        EXPECT_EQ(d->send(stage_line("ann", "box", "pw", true)).received, c.answer);
        // The account is staged before the root is looked at.
        EXPECT_EQ(read_file(d->state() + "/account-staged"), "ann\nbox\npw\n");
        EXPECT_FALSE(stdfs::exists(d->state() + "/reencrypt-key"));
        EXPECT_FALSE(stdfs::exists(d->state() + "/reencrypt-device"));
        EXPECT_FALSE(stdfs::exists(root->path() + "/etc/crypttab"));
        EXPECT_TRUE(support::standin_calls(root->path()).empty());
    }
}

TEST_F(Staging, FailedInitramfsRefreshIsTheAnswer) {
    auto disk = support::LoopDisk::create(64 << 20);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()}, "label: gpt\n,,L\n").exit_code, 0);
    ASSERT_TRUE(disk->refresh());
    auto root = make_root(disk->part(1));
    ASSERT_TRUE(root);
    support::standin_answer(root->path(), "update-initramfs", "", 1, "no space left\n");
    RootedOptions o;
    o.dev_nodes = {disk->name(), stdfs::path(disk->part(1)).filename().string()};
    auto d = start_daemon(root->path(), o);
    ASSERT_TRUE(d) << d.error();
    EXPECT_EQ(d->send(stage_line("ann", "box", "pw", true)).received,
              failed("update-initramfs exited with exit status: 1: no space left"));
    // Nothing is rolled back.
    EXPECT_TRUE(stdfs::exists(d->state() + "/reencrypt-key"));
    EXPECT_TRUE(stdfs::exists(root->path() + "/etc/crypttab"));
}

} // namespace
