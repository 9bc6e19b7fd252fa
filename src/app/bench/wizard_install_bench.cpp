// A whole install driven from the wizard beside the same install asked of
// the daemon directly, on the same tree, in the same run. Needs root, loop
// devices, the tests' Debian root and sway headless.
//
// Both go through the real daemon in a private mount namespace whose root is
// an overlay of the Debian root (support::LiveDaemon, a fresh one and a
// fresh loop disk per install), and through the same engine. The direct
// side is this process as a client: the request, then its progress until
// done. The wizard side is this executable started again as a child that
// runs the wizard in its real mode on the toolkit's loop under sway, on the
// software renderer, fed the user's choices as messages from its own loop
// (the disk, the confirmation, the account, Continue); it is timed from the
// message that starts the install to the commit of the finish page's first
// frame, so the progress page's frames and polling during the copy count.
//
// The wizard's plan check measures the space the running system uses on "/"
// of this machine (the wizard runs outside the namespace), so the disk is
// sized to pass it; the image is sparse and both sides get the same size.
// Stand-ins, as in the engine's end-to-end tests, replace what cannot run
// here: on the live side mount/umount for FAT, cryptsetup open/close and
// clevis; inside the copied system the boot-loader and initramfs tools.

#include "app/bench/wizard_harness.hpp"

#include "client/client.hpp"
#include "install/preflight.hpp"
#include "platform/system_paths.hpp"
#include "support/compositors.hpp"
#include "support/debian_root.hpp"
#include "support/live_daemon.hpp"
#include "support/live_standins.hpp"
#include "support/loop_disk.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <base/units.hpp>
#include <zem/shell/app.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace sfs = std::filesystem;
using namespace std::chrono_literals;
using bench::Clock;

namespace {

constexpr std::uint32_t W = 1080, H = 2340;
constexpr int ROUNDS = 5;
constexpr auto INSTALL_LIMIT = std::chrono::minutes(20);
const char* const USER = "bench";
const char* const HOST = "benchbox";
const char* const PASSWORD = "bench password";

// In the wizard's child: ends it at once (its workers may still run).
[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "wizard_install_bench: %s\n", what.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

// In the parent: unwinds to main, so that daemons, loop disks and the
// compositor go on the way out.
struct Failure {
    std::string what;
};
[[noreturn]] void fail(const std::string& what) { throw Failure{what}; }

void write_file(const std::string& path, const std::string& text, sfs::perms mode = sfs::perms(0644)) {
    sfs::create_directories(sfs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    sfs::permissions(path, mode);
}

// --- the wizard's side (child) -------------------------------------------------------

int wizard_install(const std::string& disk, const std::string& run_dir) {
    platform::SystemPaths paths;
    paths.run_dir = run_dir;
    platform::set_paths(paths);
    if (!bench::prepare_wizard()) return 1;
    app::InstallerApp wizard(std::nullopt, false, false, app::real_effects());
    std::optional<std::size_t> row;
    std::string rows;
    for (std::size_t i = 0; i < wizard.disk_rows.size(); ++i) {
        rows += " " + wizard.disk_rows[i].path;
        if (wizard.disk_rows[i].path == disk) row = i;
    }
    if (!row) die("the wizard does not list " + disk + "; it lists:" + rows);

    static std::atomic<std::int64_t> started{0}; // the install's start, as a stamp; 0 before
    bench::record_commits();
    bench::on_commit([](const bench::Commit& c) {
        const auto t0 = started.load();
        if (t0 == 0 || c.page != app::Page::Finish) return;
        std::printf("%.3f\n", bench::ms(c.at.time_since_epoch() - std::chrono::nanoseconds(t0)) / 1000.0);
        std::fflush(stdout);
        std::_Exit(0);
    });
    auto script = [row = *row, sent = false](app::InstallerApp& a) mutable -> std::vector<app::Msg> {
        using M = app::Msg;
        if (sent) {
            // A refusal or failure puts the wizard back on the disk page with its text.
            if (a.error) die("the wizard says: " + *a.error);
            return {};
        }
        if (bench::commits().empty()) return {};
        sent = true;
        std::vector<M> out = {M{M::GoTo{static_cast<std::uint8_t>(app::Page::Disk), 0}},
                              M{M::SelectDisk{row}},
                              M{M::AskInstall{}},
                              M{M::ConfirmInstall{}},
                              M{M::SetUsername{USER}},
                              M{M::SetHostname{HOST}},
                              M{M::SetPassword{PASSWORD}},
                              M{M::SetPasswordConfirm{PASSWORD}}};
        if (a.encrypt) out.push_back(M{M::ToggleEncrypt{}});
        out.push_back(M{M::Next{}}); // the account page's Continue: the install starts
        started = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
        return out;
    };
    auto r = zem::run_handle(
        std::make_unique<zem::AppAdapter<bench::BenchWizard>>(bench::BenchWizard(std::move(wizard), script)));
    die(r ? "the loop ended before the finish page" : r.error().text());
}

// --- the parent ------------------------------------------------------------------------

struct Setup {
    std::string tree, layer, standins;
    std::uint64_t disk_bytes = 0;
};

struct Live {
    support::LoopDisk disk;
    std::unique_ptr<support::LiveDaemon> daemon;
};

Live fresh(const Setup& s) {
    auto disk = support::LoopDisk::create(s.disk_bytes);
    if (!disk) fail("loop disk: " + disk.error());
    auto daemon = support::LiveDaemon::start(TAVIX_INSTALLER_EXE, s.tree, {s.layer}, s.standins);
    if (!daemon) fail("daemon: " + daemon.error());
    return Live{std::move(*disk), std::move(*daemon)};
}

void check_finished(const Live& live) {
    if (!live.daemon->wait_for_log("daemon: install finished")) fail("the daemon did not finish: " + live.daemon->log());
}

double engine_seconds(const Setup& s) {
    Live live = fresh(s);
    platform::set_paths(live.daemon->client_paths());
    ipc::InstallPlan plan;
    plan.disk = live.disk.path();
    plan.mode = ipc::TargetMode::WholeDisk{};
    plan.locale = "en";
    plan.account = ipc::AccountSetup{USER, HOST, PASSWORD};
    const auto t0 = Clock::now();
    auto handle = client::start_install(plan);
    install::InstallSnapshot end;
    std::optional<Clock::time_point> t1;
    zem::test::wait_until(
        [&] {
            end = handle->snapshot();
            if (end.done || end.error) t1 = Clock::now();
            return t1.has_value();
        },
        INSTALL_LIMIT);
    if (!t1) fail("the install did not end: " + live.daemon->log());
    if (end.error) fail("the install failed: " + *end.error);
    check_finished(live);
    return bench::ms(*t1 - t0) / 1000.0;
}

double wizard_seconds(const Setup& s) {
    Live live = fresh(s);
    std::string why;
    auto run = bench::run_self({"--wizard-install", live.disk.path(), live.daemon->client_paths().run_dir}, {},
                               std::chrono::duration_cast<std::chrono::seconds>(INSTALL_LIMIT), why);
    if (!run) fail("the wizard: " + why);
    if (!WIFEXITED(run->status) || WEXITSTATUS(run->status) != 0) fail("the wizard failed; it wrote: " + run->out);
    check_finished(live);
    const double seconds = std::strtod(run->out.substr(run->out.rfind('\n', run->out.size() - 2) + 1).c_str(), nullptr);
    if (!(seconds > 0)) fail("the wizard reported no time; it wrote: " + run->out);
    return seconds;
}

} // namespace

namespace {
int run();
} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--wizard-install") == 0) return wizard_install(argv[2], argv[3]);

    try {
        return run();
    } catch (const Failure& f) {
        std::fprintf(stderr, "wizard_install_bench: %s\n", f.what.c_str());
        return 1;
    }
}

namespace {

int run() {
    std::signal(SIGPIPE, SIG_IGN);
    if (::geteuid() != 0) fail("needs root (loop devices, the daemon's namespace)");
    if (auto why = support::LoopDisk::unavailable()) fail(*why);
    auto tree = support::debian_root();
    if (!tree) fail(tree.error());
    setenv("ZEM_FORCE_SOFTWARE", "1", 1);
    auto sway = zem::test::Sway::start(W, H);
    if (!sway) {
        std::printf("[wizard][bench] sway headless unavailable (%s): install from the wizard skipped\n",
                    sway.error().c_str());
        return 0;
    }
    setenv("WAYLAND_DISPLAY", (*sway)->display().c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    support::TempDir work;
    sfs::create_directories(work / "state");
    setenv("XDG_STATE_HOME", (work / "state").c_str(), 1);

    Setup s;
    s.tree = *tree;
    s.standins = work / "standins";
    support::write_live_standins(s.standins);
    // The live system's own additions: the scenario marker, an old host key,
    // an extlinux board (no FAT partition to stand in for), and the
    // programs the engine runs inside the copy that cannot work here.
    s.layer = work / "layer";
    write_file(s.layer + "/var/lib/tavix-installer/install-pending", "");
    write_file(s.layer + "/etc/ssh/ssh_host_ed25519_key", "old host key\n", sfs::perms(0600));
    write_file(s.layer + "/boot/extlinux/extlinux.conf", "label tavix\n");
    write_file(s.layer + "/etc/default/u-boot", "U_BOOT_PARAMETERS=\"quiet\"\n");
    for (const char* n : {"u-boot-update", "update-initramfs", "update-grub", "grub-install", "mkimage"})
        write_file(s.layer + "/usr/local/sbin/" + n,
                   std::string("#!/bin/sh\n# Stand-in: cannot run on this machine.\necho \"") + n +
                       " $*\" >> /var/log/tavix-standins.log\n",
                   sfs::perms(0755));
    // What the wizard's plan check asks for on this machine, and a margin
    // for what other work on it writes meanwhile.
    const auto used = install::df_field("/", "used");
    if (!used) fail("df cannot tell what / uses");
    const std::uint64_t need = *used + *used / 10 + install::NEED_EXTRA + install::WHOLE_DISK_RESERVE + 4096 * base::MIB;
    s.disk_bytes = (need + base::MIB - 1) / base::MIB * base::MIB;
    std::printf("[wizard][bench] install: Debian root %s onto a %.1f GB sparse loop disk, %d rounds\n", s.tree.c_str(),
                double(s.disk_bytes) / 1e9, ROUNDS);

    // Alternating order, and the median of the ratios: other work on the
    // machine disturbs single runs.
    std::vector<double> ratios, wizard_all, engine_all;
    for (int round = 0; round < ROUNDS; ++round) {
        double w = 0, e = 0;
        if (round % 2 == 0) {
            w = wizard_seconds(s);
            e = engine_seconds(s);
        } else {
            e = engine_seconds(s);
            w = wizard_seconds(s);
        }
        wizard_all.push_back(w);
        engine_all.push_back(e);
        ratios.push_back(w / e);
        std::printf("[wizard][bench] install round %d: from the wizard %.2f s, engine directly %.2f s, ratio %.3f\n",
                    round + 1, w, e, w / e);
        std::fflush(stdout);
    }
    std::printf("[wizard][bench] whole install, from the wizard (software %ux%u) %.2f s, engine directly %.2f s "
                "(medians); ratio wizard / engine (median of %d): %.3f\n",
                W, H, bench::median(wizard_all), bench::median(engine_all), ROUNDS, bench::median(ratios));
    return 0;
}

} // namespace
