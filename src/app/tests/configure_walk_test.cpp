// The configure scenario as it runs on the first boot of an installed system,
// for real: the executable without "--test", rooted in a Debian system that
// carries the image's default user and the configure marker, with the real
// daemon running beside it in the same mount namespace and root. The wizard
// is walked under a headless sway through every configure page by keys and
// typed text (wtype), read through AT-SPI (src/app/tests/wizard_walk.py), and
// ends the process itself. Then the system is checked as the next boot finds
// it (the language applied, the account staged, the restart asked for), and
// the first-boot step runs on the same root and must apply the account.
//
// What comes from the host, and why: the compositor's socket and the
// accessibility bus's socket live in the host's /tmp, which is bound into the
// root; the fonts and the project's theme are bound where an installed image
// carries them. The root has no keyboard descriptions (no xkb-data): the
// wizard types with the compositor's keymap alone. "systemctl" is a logging stand-in in the root: PID 1 is not
// systemd here, and the walk must never restart the machine. There is no
// network manager in the root, so the Wi-Fi page goes on with cellular data.

#include "support/command.hpp"
#include "support/debian_root.hpp"
#include "support/files.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"

#include "support/compositors.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;
using support::read_file;
using support::write_file;
using zem::test::run_capture;

const std::string STATE = "/var/lib/tavix-installer";

// What the walk enters; checked afterwards on the system. The language is
// not the default one, so that applying it shows; the password holds a
// blank, which must reach the account unchanged.
const std::string LANGUAGE = "Deutsch", CODE = "de";
const std::string USER = "walker", HOST = "walkbox", PASSWORD = "Walk 1234";

bool in_path(const std::string& name) { return run_capture({"/bin/sh", "-c", "command -v " + name}).first == 0; }
bool executable(const char* path) { return ::access(path, X_OK) == 0; }

std::set<std::string> markers(const std::string& root) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(root + STATE, ec)) names.insert(e.path().filename().string());
    return names;
}

// The line of `name` in a colon-separated account file, split at the colons.
std::vector<std::string> account_entry(const std::string& file, const std::string& name) {
    std::istringstream in(read_file(file).value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with(name + ":")) continue;
        std::vector<std::string> fields;
        std::string f;
        std::istringstream l(line);
        while (std::getline(l, f, ':')) fields.push_back(f);
        if (line.ends_with(":")) fields.emplace_back();
        return fields;
    }
    return {};
}

bool password_verifies(const std::string& hash, const std::string& password) {
    auto r = support::run_command({"python3", "-W", "ignore", "-c",
                                   "import crypt, sys; sys.exit(0 if crypt.crypt(sys.argv[1], sys.argv[2]) == sys.argv[2] else 1)",
                                   password, hash});
    return r.exit_code == 0;
}

struct Case {
    std::string name;
    // Encryption switched on: the root must then be a real partition, so
    // that the daemon can name it by its PARTUUID for the next boot.
    bool encrypt = false;
    // The image's user is there (its home): the account page is shown and
    // the account staged. Without it the wizard ends the scenario itself.
    bool image_user = true;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ConfigureWalk : public testing::TestWithParam<Case> {};

TEST_P(ConfigureWalk, EveryPageThenTheFirstBootAppliesIt) {
    const Case& c = GetParam();
    if (getuid() != 0) GTEST_SKIP() << "a private mount namespace needs root";
    for (const char* tool : {"dbus-run-session", "wtype", "grim", "nsenter"})
        if (!in_path(tool)) GTEST_SKIP() << tool << " is missing";
    if (!executable("/usr/libexec/at-spi2-registryd") || !executable("/usr/libexec/at-spi-bus-launcher"))
        GTEST_SKIP() << "the AT-SPI registry is missing";
    if (run_capture({"/usr/bin/python3", "-c", "import pyatspi"}).first != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import pyatspi";
    auto pristine = support::debian_root();
    if (!pristine) GTEST_SKIP() << pristine.error();

    // With encryption "/" is mounted, as the mount table tells, from a GPT
    // partition of a loop disk; nothing is written to it (the early boot
    // encrypts it, which is not this program's part).
    std::optional<support::LoopDisk> disk;
    std::string source = "overlay", partuuid;
    support::RootedOptions o;
    if (c.encrypt) {
        if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
        auto d = support::LoopDisk::partitioned(64 << 20, "label: gpt\n,32MiB\n");
        ASSERT_TRUE(d) << d.error();
        disk.emplace(std::move(*d));
        source = disk->part(1);
        auto id = support::capture_output({"blkid", "-o", "value", "-s", "PARTUUID", source});
        ASSERT_TRUE(id) << id.error();
        partuuid = id->substr(0, id->find_last_not_of(" \n") + 1);
        ASSERT_FALSE(partuuid.empty());
        o.dev_nodes = {disk->name(), disk->name() + "p1"};
    }

    // The installed system: the image's user, the configure marker, and the
    // stand-ins that take the restart and the initramfs refresh.
    auto overlay = support::OverlayRoot::create(*pristine, source);
    ASSERT_TRUE(overlay) << overlay.error();
    const std::string R = (*overlay)->path();
    ASSERT_TRUE(stdfs::is_directory(R + "/home/vessara"));
    if (!c.image_user) stdfs::remove_all(R + "/home/vessara");
    const auto image_user = account_entry(R + "/etc/passwd", "vessara");
    ASSERT_GE(image_user.size(), 7u);
    write_file(R + STATE + "/configure-pending", "");
    support::install_standin(R, "systemctl");
    support::install_standin(R, "update-initramfs");

    o.args = {"daemon"};
    o.binds = {{"/tmp", "/tmp"},
               {"/usr/share/fonts", "/usr/share/fonts"},
               {TAVIX_SOURCE_DIR "/themes", "/usr/share/zem/themes"}};
    auto daemon = support::RootedProcess::start(TAVIX_INSTALLER_EXE, R, o);
    ASSERT_TRUE(daemon) << daemon.error();
    ASSERT_TRUE((*daemon)->wait_for_log("listening on", 60s)) << (*daemon)->log();

    auto sway = zem::test::Sway::start(412, 915);
    if (!sway) GTEST_SKIP() << "no headless sway: " << sway.error();
    // One key sent is one press, however late its release comes.
    auto [repeat_status, repeat_out] = (*sway)->msg({"input", "type:keyboard", "repeat_delay", "10000"});
    ASSERT_EQ(repeat_status, 0) << repeat_out;

    // Below /tmp, so the wizard in the root finds the same sockets by the same paths.
    const std::string dir = zem::test::make_temp_dir("tavix-cwalk");
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    const std::string shots = TAVIX_BINARY_DIR "/screens/walk-configure-real-" + c.name;
    stdfs::remove_all(shots);
    std::vector<std::string> argv = {"dbus-run-session", "--", "/usr/bin/python3",
                                     TAVIX_SOURCE_DIR "/src/app/tests/wizard_walk.py", "--scenario", "configure-real",
                                     "--texts", TAVIX_SOURCE_DIR "/locales/" + CODE + ".json", "--language", LANGUAGE,
                                     "--user", USER, "--host", HOST, "--password", PASSWORD, "--shots", shots,
                                     "--pointer", ZEM_TEST_POINTER_EXE};
    if (c.encrypt) argv.push_back("--encrypt");
    if (!c.image_user) argv.push_back("--no-account");
    argv.push_back("--");
    for (auto& a : (*daemon)->enter_command(
             {"--windowsize", "412x915", "--configure"},
             {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "ZEM_THEMES_DIR=/usr/share/zem/themes"}))
        argv.push_back(a);
    auto client = zem::test::spawn(argv,
                                   {{"XDG_RUNTIME_DIR", dir},
                                    {"WAYLAND_DISPLAY", (*sway)->display()},
                                    {"GSETTINGS_BACKEND", "memory"},
                                    {"ZEM_FORCE_SOFTWARE", "1"},
                                    {"XDG_STATE_HOME", dir + "/state"},
                                    {"DBUS_SESSION_BUS_ADDRESS", ""},
                                    {"AT_SPI_BUS_ADDRESS", ""}},
                                   dir, "walk");
    ASSERT_TRUE(client.has_value());
    auto status = zem::test::wait_for(client->pid, 420s);
    if (!status) {
        ::kill(-client->pid, SIGKILL);
        ::kill(client->pid, SIGKILL);
        ::waitpid(client->pid, nullptr, 0);
    }
    const std::string out = zem::test::read_file(client->out_path), err = zem::test::read_file(client->err_path);
    zem::test::remove_tree(dir);
    ASSERT_TRUE(status.has_value()) << "the walk did not finish\n" << out << err;
    ASSERT_TRUE(WIFEXITED(*status)) << out << err;
    if (WEXITSTATUS(*status) == 77) GTEST_SKIP() << out;
    ASSERT_EQ(WEXITSTATUS(*status), 0) << out << err << (*daemon)->log();
    std::cout << out;

    // The wizard reported no failure at the end of the scenario.
    EXPECT_EQ(err.find("installer: "), std::string::npos) << err;
    const std::string dlog = (*daemon)->log();
    EXPECT_NE(dlog.find("daemon: applying locale " + CODE + " to the running system\n"), std::string::npos) << dlog;
    const std::string flag = c.encrypt ? "true" : "false";
    if (c.image_user) {
        EXPECT_NE(dlog.find("daemon: staging account " + USER + " (encrypt: " + flag + ") for the next boot\n"),
                  std::string::npos)
            << dlog;
    }

    // The language is applied to the running system at once.
    EXPECT_EQ(read_file(R + "/etc/default/locale"), "LANG=de_DE.UTF-8\n");
    EXPECT_NE(read_file(R + "/etc/locale.gen").value_or("").find("\nde_DE.UTF-8 UTF-8\n"), std::string::npos);
    EXPECT_EQ(read_file(R + "/etc/default/keyboard"),
              "XKBMODEL=\"pc105\"\nXKBLAYOUT=\"de\"\nXKBVARIANT=\"\"\nXKBOPTIONS=\"\"\nBACKSPACE=\"guess\"\n");
    EXPECT_EQ(read_file(R + "/etc/timezone"), "Europe/Berlin\n");
    std::error_code ec;
    EXPECT_EQ(stdfs::read_symlink(R + "/etc/localtime", ec), "/usr/share/zoneinfo/Europe/Berlin");

    if (!c.image_user) {
        // No account to stage: the wizard switched the markers itself, asked
        // the daemon nothing more and did not restart the machine.
        EXPECT_EQ(dlog.find("daemon: staging account"), std::string::npos) << dlog;
        EXPECT_EQ(markers(R), std::set<std::string>{"configured"});
        EXPECT_EQ(read_file(R + STATE + "/configured"), "");
        EXPECT_TRUE(support::standin_calls(R).empty());
        // The next boot has nothing to do.
        daemon->reset();
        support::RootedOptions boot;
        boot.args = {"firstboot"};
        auto r = support::run_rooted(TAVIX_INSTALLER_EXE, R, boot);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(r->status, 0);
        EXPECT_EQ(r->err, "");
        EXPECT_EQ(read_file(R + "/etc/passwd"), read_file(*pristine + "/etc/passwd"));
        EXPECT_EQ(read_file(R + "/etc/hostname"), read_file(*pristine + "/etc/hostname"));
        EXPECT_EQ(markers(R), std::set<std::string>{"configured"});
        return;
    }

    // The account waits for the next boot, readable by root alone; the
    // scenario is left to the first-boot step, which applies it; the
    // machine was asked to restart.
    EXPECT_EQ(read_file(R + STATE + "/account-staged"), USER + "\n" + HOST + "\n" + PASSWORD + "\n");
    struct stat st {};
    ASSERT_EQ(::stat((R + STATE + "/account-staged").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::set<std::string> staged = {"account-staged", "configure-pending"};
    if (c.encrypt) {
        // The key and the partition for the early boot, readable by root
        // alone; the root opened under the mapper name from then on.
        staged.insert({"reencrypt-key", "reencrypt-device"});
        EXPECT_EQ(read_file(R + STATE + "/reencrypt-key"), PASSWORD);
        EXPECT_EQ(read_file(R + STATE + "/reencrypt-device"), partuuid);
        for (const char* m : {"reencrypt-key", "reencrypt-device"}) {
            ASSERT_EQ(::stat((R + STATE + "/" + m).c_str(), &st), 0) << m;
            EXPECT_EQ(st.st_mode & 07777, 0600u) << m;
        }
        const std::string crypttab = read_file(R + "/etc/crypttab").value_or("");
        EXPECT_TRUE(crypttab.starts_with("tavix_crypt\tPARTUUID=" + partuuid + "\tnone\tluks,discard"))
            << crypttab;
        EXPECT_EQ(std::count(crypttab.begin(), crypttab.end(), '\n'), 1) << crypttab;
        EXPECT_EQ(support::standin_calls(R), (std::vector<std::string>{"update-initramfs -u", "systemctl reboot"}));
    } else {
        // Nothing is prepared for the root.
        EXPECT_EQ(read_file(R + "/etc/crypttab"), read_file(*pristine + "/etc/crypttab"));
        EXPECT_EQ(support::standin_calls(R), std::vector<std::string>{"systemctl reboot"});
    }
    EXPECT_EQ(markers(R), staged);
    EXPECT_FALSE(account_entry(R + "/etc/passwd", "vessara").empty()) << "nothing is renamed before the next boot";

    // The next boot: the daemon is gone, the first-boot step runs on the same root.
    daemon->reset();
    support::RootedOptions boot;
    boot.args = {"firstboot"};
    boot.dev_nodes = o.dev_nodes;
    auto r = support::run_rooted(TAVIX_INSTALLER_EXE, R, boot);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->err, "firstboot: applying staged account " + USER + "\n");

    // The image's user became the account: same user id, new name, its home
    // moved, the password set, an administrator.
    EXPECT_TRUE(account_entry(R + "/etc/passwd", "vessara").empty());
    const auto user = account_entry(R + "/etc/passwd", USER);
    ASSERT_GE(user.size(), 7u);
    EXPECT_EQ(user[2], image_user[2]);
    EXPECT_EQ(user[5], "/home/" + USER);
    EXPECT_FALSE(stdfs::exists(R + "/home/vessara"));
    ASSERT_EQ(::stat((R + "/home/" + USER).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(std::to_string(st.st_uid), image_user[2]);
    const auto shadow = account_entry(R + "/etc/shadow", USER);
    ASSERT_GE(shadow.size(), 2u);
    EXPECT_TRUE(password_verifies(shadow[1], PASSWORD)) << shadow[1];
    const auto sudo = account_entry(R + "/etc/group", "sudo");
    ASSERT_GE(sudo.size(), 4u);
    EXPECT_NE(("," + sudo[3] + ",").find("," + USER + ","), std::string::npos) << sudo[3];
    EXPECT_EQ(read_file(R + "/etc/hostname"), HOST + "\n");
    EXPECT_NE(read_file(R + "/etc/hosts").value_or("").find("127.0.1.1\t" + HOST + "\n"), std::string::npos);

    // The configure scenario is over: the next start of the wizard would not
    // run it again, and the staged account is gone with its password. The
    // encryption key stays until a boot finds the root opened through the
    // mapper; this one still found the plain partition.
    std::set<std::string> left = {"configured"};
    if (c.encrypt) left.insert({"reencrypt-key", "reencrypt-device"});
    EXPECT_EQ(markers(R), left);
    EXPECT_EQ(read_file(R + STATE + "/configured"), "");
    // The language stays as the wizard left it.
    EXPECT_EQ(read_file(R + "/etc/default/locale"), "LANG=de_DE.UTF-8\n");
}

INSTANTIATE_TEST_SUITE_P(Accounts, ConfigureWalk,
                         testing::Values(Case{"plain", false}, Case{"encrypted", true},
                                         Case{"no_image_user", false, false}),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

} // namespace
