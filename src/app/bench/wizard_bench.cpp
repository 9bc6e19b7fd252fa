// The wizard's own figures under sway headless on the software renderer,
// each beside a bare baseline measured in the same run:
//
//  - start to the first page committed: this executable started again as a
//    child that brings up the wizard (test mode, as the session's own start
//    does it, kiosk switch aside) and reports the moment its first frame was
//    committed; the baseline is the same executable started as a bare
//    Wayland client (xdg toplevel, one shared-memory buffer filled with one
//    colour) reporting its first commit. Both include the process start.
//  - a tap to the next page committed: the wizard in this process, tapped
//    with a virtual pointer through the compositor on the control that turns
//    the page (a language, Continue, Back), timed from the button's release
//    to the commit of the first frame that shows the new page; the baseline
//    is the bare client redrawing its whole surface on each release.
//
// Commits are seen from inside through the shell's commit observer: no
// client outside the process can see when a frame leaves for the compositor.

#include "app/bench/wizard_harness.hpp"

#include "support/compositors.hpp"
#include "support/process.hpp"
#include "support/virtual_pointer.hpp"

#include <zem/shell/app.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using bench::Clock;
using bench::ms;

namespace {

constexpr std::uint32_t W = 1080, H = 2340;
constexpr int START_ROUNDS = 5;
constexpr int TAP_ROUNDS = 8;
constexpr std::uint32_t LEFT_BUTTON = 0x110;

// The compositor this run started, if any: a failure anywhere (the loop's
// thread, the driver's) ends the process at once, and takes it along.
zem::test::Sway* g_sway = nullptr;
// The throwaway state directory the wizards of this run write to.
std::string g_state;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "wizard_bench: %s\n", what);
    std::fflush(stdout);
    if (g_sway) g_sway->kill_now();
    if (!g_state.empty()) zem::test::remove_tree(g_state);
    std::_Exit(1);
}

// --- the children -------------------------------------------------------------

// Both children print two stamps: their first commit, and their first
// commit at the output's size (the compositor makes a window full screen
// only once it is mapped, so the first frame has the size the client chose).
int bare_first_commit() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    auto c = bench::BareClient::start(display ? display : "");
    if (!c) die(c.error().c_str());
    bench::BareClient& bare = **c;
    bare.run_in_background();
    if (!zem::test::wait_until([&] { return bare.drawn_size() == std::pair<std::int32_t, std::int32_t>(W, H); }, 30s))
        die("the bare client never went full screen");
    std::printf("%s %s\n", bench::stamp(bare.commits().front()).c_str(), bench::stamp(bare.commits().back()).c_str());
    std::fflush(stdout);
    std::_Exit(0);
}

int wizard_first_commit() {
    if (!bench::prepare_wizard()) return 1;
    bench::record_commits();
    bench::on_commit([](const bench::Commit& c) {
        static std::optional<Clock::time_point> first;
        if (!first) first = c.at;
        if (c.width != W || c.height != H) return;
        std::printf("%s %s\n", bench::stamp(*first).c_str(), bench::stamp(c.at).c_str());
        std::fflush(stdout);
        std::_Exit(0);
    });
    app::InstallerApp wizard(std::nullopt, true, false, app::real_effects());
    auto r = zem::run_handle(std::make_unique<zem::AppAdapter<bench::BenchWizard>>(
        bench::BenchWizard(std::move(wizard), nullptr)));
    die(r ? "the loop ended before a full-screen frame was committed" : r.error().text().c_str());
    return 1;
}

// Start to the first commit and to the first full-screen commit of one
// child, in milliseconds.
std::pair<double, double> first_commit_ms(const char* mode) {
    std::string why;
    auto run = bench::run_self({mode}, {}, 60s, why);
    if (!run) die(why.c_str());
    const auto space = run->out.find(' ');
    auto first = bench::parse_stamp(run->out.substr(0, space));
    auto full = space == std::string::npos ? std::nullopt : bench::parse_stamp(run->out.substr(space + 1));
    if (!first || !full || !WIFEXITED(run->status) || WEXITSTATUS(run->status) != 0)
        die((std::string(mode) + " failed; it wrote: " + run->out).c_str());
    return {ms(*first - run->started), ms(*full - run->started)};
}

// --- taps -------------------------------------------------------------------------

// Waits until nothing was committed for 150 ms (a hover or press frame
// done), as a user's finger rests before it lifts.
void settle(const std::function<std::optional<Clock::time_point>()>& last_commit) {
    const auto since = Clock::now();
    const bool quiet = zem::test::wait_until(
        [&] {
            auto last = std::max(since, last_commit().value_or(since));
            return Clock::now() - last >= 150ms;
        },
        10s);
    if (!quiet) die("the surface never stopped committing frames");
}

// A tap at (x, y): move there and settle, press and settle, then release;
// the release's time.
Clock::time_point tap(zem::test::VirtualPointer& vp, double x, double y,
                      const std::function<std::optional<Clock::time_point>()>& last_commit) {
    if (!vp.move_to(x, y)) die(vp.error().c_str());
    settle(last_commit);
    if (!vp.button(LEFT_BUTTON, true)) die(vp.error().c_str());
    settle(last_commit);
    const auto t0 = Clock::now();
    if (!vp.button(LEFT_BUTTON, false)) die(vp.error().c_str());
    return t0;
}

std::vector<double> bare_taps(const std::string& display, zem::test::VirtualPointer& vp) {
    auto c = bench::BareClient::start(display);
    if (!c) die(c.error().c_str());
    bench::BareClient& bare = **c;
    bare.run_in_background();
    // Taps on the full screen, as the wizard gets them, once the pointer
    // is over it.
    if (!zem::test::wait_until([&] { return bare.drawn_size() == std::pair<std::int32_t, std::int32_t>(W, H); }, 10s))
        die("the bare client never went full screen");
    if (!vp.move_to(W / 2.0, H / 2.0)) die(vp.error().c_str());
    if (!zem::test::wait_until([&] { return bare.pointer_inside(); }, 10s)) die("the pointer never entered the bare client");
    auto last = [&]() -> std::optional<Clock::time_point> {
        auto v = bare.commits();
        return v.empty() ? std::nullopt : std::optional(v.back());
    };
    std::vector<double> out;
    for (int i = 0; i < TAP_ROUNDS; ++i) {
        const auto t0 = tap(vp, W / 2.0 + i, H / 2.0, last);
        std::optional<Clock::time_point> at;
        if (!zem::test::wait_until(
                [&] {
                    for (auto c : bare.commits())
                        if (c > t0) at = c;
                    return at.has_value();
                },
                10s))
            die("the bare client did not redraw after a tap");
        out.push_back(ms(*at - t0));
    }
    return out;
}

struct Transition {
    const char* name;
    app::Page from, to;
    std::function<bool(const app::Msg&)> pick;
    std::pair<double, double> at{};
    std::vector<double> times{};
};

template <class K>
bool is(const app::Msg& m) {
    return std::holds_alternative<K>(m.kind);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--bare-first-commit") == 0) return bare_first_commit();
    if (argc > 1 && std::strcmp(argv[1], "--wizard-first-commit") == 0) return wizard_first_commit();

    std::signal(SIGPIPE, SIG_IGN);
    setenv("ZEM_FORCE_SOFTWARE", "1", 1);
    auto sway = zem::test::Sway::start(W, H);
    if (!sway) {
        std::printf("[wizard][bench] sway headless unavailable (%s): wizard figures skipped\n", sway.error().c_str());
        return 0;
    }
    g_sway = sway->get();
    const std::string display = (*sway)->display();
    setenv("WAYLAND_DISPLAY", display.c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    g_state = zem::test::make_temp_dir("wizard-bench-state");
    setenv("XDG_STATE_HOME", g_state.c_str(), 1);

    // Start: the two kinds of child in turn, so that load on the machine
    // falls on both alike.
    std::vector<double> bare_first, bare_full, wizard_first, wizard_full;
    for (int i = 0; i < START_ROUNDS; ++i) {
        auto [bf, bu] = first_commit_ms("--bare-first-commit");
        auto [wf, wu] = first_commit_ms("--wizard-first-commit");
        bare_first.push_back(bf);
        bare_full.push_back(bu);
        wizard_first.push_back(wf);
        wizard_full.push_back(wu);
    }
    const double bf = bench::median(bare_first), bu = bench::median(bare_full);
    const double wf = bench::median(wizard_first), wu = bench::median(wizard_full);
    std::printf("[wizard][bench] bare client, start to first commit: %.1f ms; to first full-screen commit, sway "
                "headless %ux%u: %.1f ms (medians of %d)\n",
                bf, W, H, bu, START_ROUNDS);
    std::printf("[wizard][bench] wizard, start to first page committed: %.1f ms (%.1f× baseline); to first page "
                "committed full screen, software %ux%u: %.1f ms (%.1f× baseline)\n",
                wf, wf / bf, W, H, wu, wu / bu);

    auto vp = zem::test::VirtualPointer::connect(display);
    if (!vp) die(vp.error().c_str());

    const std::vector<double> bare_tap = bare_taps(display, **vp);
    const double bt = bench::median(bare_tap);
    std::printf("[wizard][bench] bare client, tap to whole redraw committed: %.2f ms (median of %d)\n", bt, TAP_ROUNDS);

    // Where each page's control is, laid out before the loop runs (the
    // toolkit's drawing is not shared between threads).
    if (!bench::prepare_wizard()) return 1;
    auto fx = app::real_effects();
    std::vector<Transition> cycle = {
        {"language -> welcome (a language picked)", app::Page::Language, app::Page::Welcome,
         [](const app::Msg& m) {
             auto* p = std::get_if<app::Msg::PickLanguage>(&m.kind);
             return p && p->code == "en";
         },
         {}, {}},
        {"welcome -> disk (Continue)", app::Page::Welcome, app::Page::Disk, is<app::Msg::Next>, {}, {}},
        {"disk -> welcome (Back)", app::Page::Disk, app::Page::Welcome, is<app::Msg::Back>, {}, {}},
        {"welcome -> language (Back)", app::Page::Welcome, app::Page::Language, is<app::Msg::Back>, {}, {}},
    };
    {
        app::InstallerApp replica(std::nullopt, true, false, fx);
        for (Transition& t : cycle) {
            replica.page = t.from;
            auto at = bench::locate(replica, W, H, t.pick);
            if (!at) die((std::string("no control found for ") + t.name).c_str());
            t.at = *at;
        }
    }

    // Picking a language lists the disks again, on the loop's thread: what
    // that costs alone, to read the language tap's figure against.
    std::vector<double> listing;
    for (int i = 0; i < TAP_ROUNDS; ++i) {
        const auto t0 = Clock::now();
        (void)fx->list_disks();
        listing.push_back(ms(Clock::now() - t0));
    }

    bench::record_commits();
    auto last = []() -> std::optional<Clock::time_point> {
        auto v = bench::commits();
        return v.empty() ? std::nullopt : std::optional(v.back().at);
    };
    auto committed_on = [](app::Page page, Clock::time_point after) -> std::optional<Clock::time_point> {
        for (const auto& c : bench::commits())
            if (c.at > after && c.page == page) return c.at;
        return std::nullopt;
    };
    std::atomic<bool> failed{false};
    std::string failure;
    std::thread driver([&] {
        // The splash turns to the language list on its own.
        if (!zem::test::wait_until([&] { return committed_on(app::Page::Language, Clock::time_point{}).has_value(); },
                                   30s)) {
            failure = "the language page never came";
            failed = true;
        }
        for (int round = 0; round < TAP_ROUNDS && !failed; ++round) {
            for (Transition& t : cycle) {
                const auto t0 = tap(**vp, t.at.first, t.at.second, last);
                std::optional<Clock::time_point> at;
                if (!zem::test::wait_until([&] { return (at = committed_on(t.to, t0)).has_value(); }, 10s)) {
                    failure = std::string("the tap did not turn the page: ") + t.name;
                    failed = true;
                    break;
                }
                t.times.push_back(ms(*at - t0));
            }
        }
        std::raise(SIGTERM);
    });
    auto r = zem::run_handle(std::make_unique<zem::AppAdapter<bench::BenchWizard>>(
        bench::BenchWizard(app::InstallerApp(std::nullopt, true, false, fx), nullptr)));
    driver.join();
    if (!r) die(r.error().text().c_str());
    if (failed) die(failure.c_str());
    std::printf("[wizard][bench] disk listing alone (made again on the loop's thread when a language is picked): "
                "%.2f ms (median of %d)\n",
                bench::median(listing), TAP_ROUNDS);
    for (const Transition& t : cycle) {
        const double m = bench::median(t.times);
        std::printf("[wizard][bench] wizard, tap to next page committed, %s: %.2f ms (%.1f× baseline)\n", t.name, m,
                    m / bt);
    }
    // Workers of the wizard may still run: end without static destructors,
    // after the compositor.
    g_sway = nullptr;
    sway->reset();
    zem::test::remove_tree(g_state);
    std::fflush(stdout);
    std::_Exit(0);
}
