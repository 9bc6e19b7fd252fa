// The configuration written into a target. Steps that run programs inside
// the target work on a writable overlay of the Debian test root, with its
// real usermod, chpasswd, fallocate, mkswap and ssh-keygen.
#include "install/encryption.hpp"
#include "install/target_config.hpp"
#include "platform/system_paths.hpp"
#include "support/debian_root.hpp"
#include "support/files.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

namespace stdfs = std::filesystem;

using support::read_file;
using support::write_file;
using support::PathsGuard;

platform::SystemPaths with_target(const std::string& root) {
    platform::SystemPaths p;
    p.target_root = root;
    return p;
}

TEST(AccountText, LineBreaksAndColonsAreRefused) {
    struct Case {
        std::string user, host, password;
        std::optional<std::string> error;
    };
    const std::vector<Case> cases = {
        {"ann", "box", "pass word: with colon", std::nullopt},
        {"ann\n", "box", "pw", "the user name must not contain a line break"},
        {"a\rb", "box", "pw", "the user name must not contain a line break"},
        {"ann:0", "box", "pw", "the user name must not contain \":\""},
        {"ann", "box\nevil", "pw", "the host name must not contain a line break"},
        {"ann", "box", "pw\nroot:x", "the password must not contain a line break"},
    };
    for (const auto& c : cases) {
        auto r = install::check_account_text(c.user, c.host, c.password);
        if (c.error) {
            ASSERT_FALSE(r) << c.user << "/" << c.host << "/" << c.password;
            EXPECT_EQ(r.error(), *c.error);
        } else {
            EXPECT_TRUE(r);
        }
    }
}

TEST(Locale, LanguageTableAndLocaleGen) {
    struct Case {
        const char* name;
        std::string code;
        std::optional<std::string> locale_gen_before;
        std::optional<std::string> locale_gen_after; // nothing: file absent
        bool applied;
    };
    const std::vector<Case> cases = {
        {"code outside the table", "it", "# en_US.UTF-8 UTF-8\n", "# en_US.UTF-8 UTF-8\n", false},
        {"entry already there with blanks", "de", "  de_DE.UTF-8 UTF-8  \n", "  de_DE.UTF-8 UTF-8  \n", true},
        {"entry appended", "de", "# de_DE.UTF-8 UTF-8\n", "# de_DE.UTF-8 UTF-8\nde_DE.UTF-8 UTF-8\n", true},
        {"last line without newline", "ja", "en_US.UTF-8 UTF-8", "en_US.UTF-8 UTF-8\nja_JP.UTF-8 UTF-8\n", true},
        {"missing file", "ko", std::nullopt, "ko_KR.UTF-8 UTF-8\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        support::TempDir dir;
        const std::string R = dir.path();
        stdfs::create_directories(R + "/etc/default");
        if (c.locale_gen_before) write_file(R + "/etc/locale.gen", *c.locale_gen_before);
        EXPECT_TRUE(install::apply_locale(R, c.code).has_value());
        EXPECT_EQ(read_file(R + "/etc/locale.gen"), c.locale_gen_after);
        if (!c.applied) {
            EXPECT_FALSE(stdfs::exists(R + "/etc/default/locale"));
            EXPECT_FALSE(stdfs::exists(R + "/etc/default/keyboard"));
            EXPECT_FALSE(stdfs::exists(R + "/etc/timezone"));
            EXPECT_FALSE(stdfs::is_symlink(R + "/etc/localtime"));
        }
    }
    support::TempDir dir;
    const std::string R = dir.path();
    stdfs::create_directories(R + "/etc/default");
    write_file(R + "/etc/localtime", "old");
    EXPECT_TRUE(install::apply_locale(R, "fr").has_value());
    EXPECT_EQ(read_file(R + "/etc/default/locale"), "LANG=fr_FR.UTF-8\n");
    EXPECT_EQ(read_file(R + "/etc/default/keyboard"),
              "XKBMODEL=\"pc105\"\nXKBLAYOUT=\"fr\"\nXKBVARIANT=\"\"\nXKBOPTIONS=\"\"\nBACKSPACE=\"guess\"\n");
    EXPECT_EQ(read_file(R + "/etc/timezone"), "Europe/Paris\n");
    EXPECT_EQ(stdfs::read_symlink(R + "/etc/localtime"), "/usr/share/zoneinfo/Europe/Paris");
}

TEST(TargetFiles, OsProberMachineIdAndMarkers) {
    support::TempDir dir;
    const std::string R = dir.path();
    PathsGuard guard(with_target(R));
    write_file(R + "/etc/default/grub",
          "GRUB_TIMEOUT=5\n  GRUB_DISABLE_OS_PROBER=true\n#GRUB_DISABLE_OS_PROBER=false\n# GRUB_DISABLE_OS_PROBER=x\n");
    install::enable_os_prober();
    EXPECT_EQ(read_file(R + "/etc/default/grub"),
              "GRUB_TIMEOUT=5\n# GRUB_DISABLE_OS_PROBER=x\nGRUB_DISABLE_OS_PROBER=false\n");

    write_file(R + "/etc/machine-id", "0123456789abcdef\n");
    write_file(R + "/var/lib/dbus/machine-id", "0123456789abcdef\n");
    install::reset_machine_id();
    EXPECT_EQ(read_file(R + "/etc/machine-id"), "");
    EXPECT_FALSE(stdfs::exists(R + "/var/lib/dbus/machine-id"));
    // A link to /etc/machine-id stays.
    stdfs::create_symlink("/etc/machine-id", R + "/var/lib/dbus/machine-id");
    install::reset_machine_id();
    EXPECT_TRUE(stdfs::is_symlink(R + "/var/lib/dbus/machine-id"));

    write_file(R + "/var/lib/tavix-installer/install-pending", "");
    install::write_markers();
    EXPECT_FALSE(stdfs::exists(R + "/var/lib/tavix-installer/install-pending"));
    EXPECT_EQ(read_file(R + "/var/lib/tavix-installer/configure-pending"), "");
}

// A writable Debian root with /proc mounted, as the engine mounts it before
// configuring the target (usermod copies a home across overlay layers through
// /proc). Leaving the overlay detaches both.
std::unique_ptr<support::OverlayRoot> target_root(const std::string& scratch = "/tmp") {
    auto o = support::OverlayRoot::create(*support::debian_root(), "overlay", scratch);
    if (!o) {
        ADD_FAILURE() << o.error();
        return nullptr;
    }
    if (::mount("proc", ((*o)->path() + "/proc").c_str(), "proc", 0, nullptr) != 0) ADD_FAILURE() << "mount proc";
    return std::move(*o);
}

class InTarget : public ::testing::Test {
protected:
    void SetUp() override {
        auto pristine = support::debian_root();
        if (!pristine) GTEST_SKIP() << pristine.error();
        root_ = target_root();
        ASSERT_TRUE(root_);
        R = root_->path();
    }
    std::unique_ptr<support::OverlayRoot> root_;
    std::string R;
};

TEST_F(InTarget, AccountReplacesTheImageUser) {
    struct Case {
        const char* name;
        std::string hosts_before;
        std::string hosts_after;
    };
    const std::vector<Case> cases = {
        {"no 127.0.1.1 line", "127.0.0.1\tlocalhost\n", "127.0.0.1\tlocalhost\n127.0.1.1\tbox\n"},
        {"two such lines", "127.0.1.1 old\n  127.0.1.1\tolder\r\n::1 localhost",
         "127.0.1.1\tbox\n127.0.1.1\tbox\n::1 localhost\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto fresh = target_root();
        ASSERT_TRUE(fresh);
        const std::string T = fresh->path();
        write_file(T + "/etc/hosts", c.hosts_before);
        auto applied = install::apply_account(T, {"ann", "box", "pw: two words"});
        ASSERT_TRUE(applied) << applied.error();
        EXPECT_EQ(read_file(T + "/etc/hosts"), c.hosts_after);
        EXPECT_EQ(read_file(T + "/etc/hostname"), "box\n");
        const std::string passwd = read_file(T + "/etc/passwd").value_or("");
        EXPECT_EQ(passwd.find("\nvessara:"), std::string::npos);
        EXPECT_NE(passwd.find(":/home/ann:"), std::string::npos);
        EXPECT_TRUE(stdfs::is_directory(T + "/home/ann"));
    }
}

TEST_F(InTarget, AccountWithALineBreakChangesNothing) {
    const std::string passwd = *read_file(R + "/etc/passwd"), shadow = *read_file(R + "/etc/shadow");
    const std::string hostname = *read_file(R + "/etc/hostname");
    auto r = install::apply_account(R, {"ann", "box", "pw\nroot:owned"});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "the password must not contain a line break");
    EXPECT_EQ(read_file(R + "/etc/passwd"), passwd);
    EXPECT_EQ(read_file(R + "/etc/shadow"), shadow);
    EXPECT_EQ(read_file(R + "/etc/hostname"), hostname);
}

TEST_F(InTarget, MissingImageUserEndsTheStep) {
    ASSERT_TRUE(install::apply_account(R, {"ann", "box", "pw"}));
    auto r = install::apply_account(R, {"bob", "box2", "pw"});
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().starts_with("chroot exited with exit status: 6: ")) << r.error();
    EXPECT_EQ(read_file(R + "/etc/hostname"), "box\n");
}

TEST_F(InTarget, SshHostKeysAreNew) {
    PathsGuard guard(with_target(R));
    write_file(R + "/etc/ssh/ssh_host_ed25519_key", "copied from the live system");
    install::regenerate_ssh_keys();
    auto key = read_file(R + "/etc/ssh/ssh_host_ed25519_key");
    ASSERT_TRUE(key);
    EXPECT_NE(key->find("OPENSSH PRIVATE KEY"), std::string::npos);
    EXPECT_TRUE(stdfs::exists(R + "/etc/ssh/ssh_host_rsa_key.pub"));
}

TEST_F(InTarget, SwapFileFollowsMemoryAndFreeSpace) {
    if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
    // Gigabyte swap files go to a sparse disk of their own, so the host's
    // free space (which other tests measure) stays as it is.
    auto disk = support::LoopDisk::create(5ull << 30);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(support::run_command({"mkfs.ext4", "-q", "-F", disk->path()}).exit_code, 0);
    auto space = support::Mounted::create(disk->path());
    ASSERT_TRUE(space) << space.error();
    support::TempDir proc;
    struct Case {
        const char* name;
        std::string meminfo;
        std::uint64_t swap_bytes; // 0: no swap file
    };
    const std::vector<Case> cases = {
        {"8 GiB of memory", "MemFree: 1 kB\nMemTotal:       8388608 kB\n", 2147483648ull},
        {"1 GiB of memory", "MemTotal: +1048576 kB\n", 1073741824ull},
        {"no MemTotal", "MemFree: 1048576 kB\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto fresh = target_root((*space)->path());
        ASSERT_TRUE(fresh);
        const std::string T = fresh->path();
        write_file(proc.path() + "/meminfo", c.meminfo);
        write_file(T + "/etc/fstab", "UUID=1\t/\text4\tdefaults\t0\t1\n");
        auto paths = with_target(T);
        paths.proc = proc.path();
        PathsGuard guard(paths);
        ::testing::internal::CaptureStderr();
        install::make_swapfile();
        const std::string err = ::testing::internal::GetCapturedStderr();
        if (c.swap_bytes == 0) {
            EXPECT_FALSE(stdfs::exists(T + "/swapfile"));
            EXPECT_EQ(err, "");
            continue;
        }
        ASSERT_TRUE(stdfs::exists(T + "/swapfile")) << err;
        EXPECT_EQ(stdfs::file_size(T + "/swapfile"), c.swap_bytes);
        struct stat st {};
        ASSERT_EQ(::stat((T + "/swapfile").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(read_file(T + "/etc/fstab"), "UUID=1\t/\text4\tdefaults\t0\t1\n/swapfile\tnone\tswap\tsw\t0\t0\n");
        auto blkid = support::run_command({"blkid", "-o", "value", "-s", "TYPE", T + "/swapfile"});
        EXPECT_EQ(blkid.out, "swap\n");
    }
}

TEST(SwapFile, TooLittleSpaceIsLogged) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    support::TempDir dir;
    const std::string T = dir.path() + "/target";
    stdfs::create_directories(T);
    ASSERT_EQ(::mount("tmpfs", T.c_str(), "tmpfs", 0, "size=16m"), 0);
    write_file(dir.path() + "/proc/meminfo", "MemTotal: 1048576 kB\n");
    auto paths = with_target(T);
    paths.proc = dir.path() + "/proc";
    {
        PathsGuard guard(paths);
        ::testing::internal::CaptureStderr();
        install::make_swapfile();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(err.starts_with("install: skipping swapfile, only ")) << err;
        EXPECT_TRUE(err.ends_with(" bytes free on target\n")) << err;
        EXPECT_FALSE(stdfs::exists(T + "/swapfile"));
    }
    ::umount2(T.c_str(), MNT_DETACH);
}

TEST(Fstab, LinesForTheLayout) {
    if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto disk = support::LoopDisk::create(96 << 20);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(support::run_command({"sfdisk", "-q", "--no-reread", disk->path()},
                                   "label: gpt\nsize=24MiB\nsize=24MiB\nsize=24MiB\n,\n")
                  .exit_code,
              0);
    ASSERT_TRUE(disk->refresh());
    ASSERT_EQ(support::run_command({"mkfs.ext4", "-q", "-F", disk->part(1)}).exit_code, 0);
    ASSERT_EQ(support::run_command({"mkfs.ext4", "-q", "-F", disk->part(2)}).exit_code, 0);
    ASSERT_EQ(support::run_command({"mkfs.vfat", disk->part(3)}).exit_code, 0);
    ASSERT_EQ(support::run_command({"cryptsetup", "luksFormat", "--type", "luks2", "--batch-mode", "--pbkdf", "pbkdf2",
                                    "--pbkdf-force-iterations", "1000", "--key-file", "-", disk->part(4)},
                                   "pw")
                  .exit_code,
              0);
    auto uuid = [](const std::string& node) {
        return support::run_command({"blkid", "-o", "value", "-s", "UUID", node}).out.substr(0, 36);
    };
    const std::string root_uuid = uuid(disk->part(1)), boot_uuid = uuid(disk->part(2));
    std::string esp_uuid = support::run_command({"blkid", "-o", "value", "-s", "UUID", disk->part(3)}).out;
    esp_uuid = esp_uuid.substr(0, esp_uuid.find('\n'));
    const std::string luks_uuid = uuid(disk->part(4));

    support::TempDir dir;
    const std::string R = dir.path();
    stdfs::create_directories(R + "/etc");
    PathsGuard guard(with_target(R));
    const std::string root_line = "UUID=" + root_uuid + "\t/\text4\terrors=remount-ro\t0\t1\n";
    struct Case {
        const char* name;
        install::TargetLayout layout;
        std::optional<std::string> fstab;
        std::optional<std::string> crypttab;
        std::optional<std::string> error;
    };
    const std::vector<Case> cases = {
        {"root only", {disk->part(1), std::nullopt, std::nullopt, std::nullopt, false}, root_line, std::nullopt,
         std::nullopt},
        {"boot and ESP",
         {disk->part(1), disk->part(3), disk->part(2), std::nullopt, true},
         root_line + "UUID=" + boot_uuid + "\t/boot\text4\tdefaults\t0\t2\nUUID=" + esp_uuid +
             "\t/boot/efi\tvfat\tumask=0077\t0\t1\n",
         std::nullopt, std::nullopt},
        {"a /boot without UUID is left out", {disk->part(1), std::nullopt, disk->path(), std::nullopt, false}, root_line,
         std::nullopt, std::nullopt},
        {"encrypted", {disk->part(1), std::nullopt, disk->part(2), disk->part(4), false},
         root_line + "UUID=" + boot_uuid + "\t/boot\text4\tdefaults\t0\t2\n",
         "tavix_crypt\tUUID=" + luks_uuid + "\tnone\tluks,discard\n", std::nullopt},
        {"root without UUID", {disk->path(), std::nullopt, std::nullopt, std::nullopt, false}, std::nullopt, std::nullopt,
         "no UUID for " + disk->path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stdfs::remove(R + "/etc/fstab");
        stdfs::remove(R + "/etc/crypttab");
        auto r = install::write_fstab(c.layout);
        if (c.error) {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error(), *c.error);
        } else {
            ASSERT_TRUE(r) << r.error();
        }
        EXPECT_EQ(read_file(R + "/etc/fstab"), c.fstab);
        EXPECT_EQ(read_file(R + "/etc/crypttab"), c.crypttab);
    }
}

} // namespace
