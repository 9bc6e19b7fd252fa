#pragma once
// What the wizard's benchmarks share: the wizard on the toolkit's loop with
// every frame of its main surface timed as it is committed, a script that
// feeds it messages from its own loop thread, a bare Wayland client to
// measure against, and the bench re-running itself as a child process.

#include "app/installer_app.hpp"
#include "app/toolkit.hpp"

#include <zem/frame/hit_region.hpp>

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d);
double median(std::vector<double> v);

// The process-wide record of the wizard's committed main-surface frames:
// when, which page the last built view showed, and the surface's size in
// buffer pixels.
struct Commit {
    Clock::time_point at;
    app::Page page;
    std::uint32_t width = 0, height = 0;
};
// Starts recording (installs the shell's commit observer).
void record_commits();
// Every commit so far.
std::vector<Commit> commits();
// Called with each commit on the loop's thread, after it was recorded.
void on_commit(std::function<void(const Commit&)> f);

// The wizard as the toolkit runs it, with the page of each built view noted
// for the commit record and `script` asked for messages at every poll (on
// the loop's thread, so it may read the state).
class BenchWizard {
public:
    using Msg = app::Msg;
    using Script = std::function<std::vector<Msg>(app::InstallerApp&)>;

    BenchWizard(app::InstallerApp wizard, Script script) : app_(std::move(wizard)), script_(std::move(script)) {}

    std::string app_id() const { return app_.app_id(); }
    std::optional<zem::WindowConfig> window_config() const { return app_.window_config(); }
    std::optional<app::WindowSize> window_size() const { return app_.window_size(); }
    std::optional<std::chrono::milliseconds> poll_interval() const { return app_.poll_interval(); }
    bool is_animating() const { return app_.is_animating(); }
    void resized(std::uint32_t w, std::uint32_t h);
    std::vector<Msg> poll();
    void update(Msg m) { app_.update(std::move(m)); }
    zem::Element view() const;

private:
    app::InstallerApp app_;
    Script script_;
};

// Loads the project's theme (from the source tree unless ZEM_THEMES_DIR
// says otherwise) and sets the language, as the wizard's start does.
bool prepare_wizard();

// Lays out `wizard`'s current page at w × h exactly as a frame would and
// returns the centre of the first control whose message `pick` accepts.
std::optional<std::pair<double, double>> locate(const app::InstallerApp& wizard, std::uint32_t w, std::uint32_t h,
                                                const std::function<bool(const app::Msg&)>& pick);

// A Wayland client with nothing of the toolkit: a full-screen xdg toplevel
// filled with one colour from shared memory. It draws once at start and
// again, in another colour, at every pointer button release.
class BareClient {
public:
    // Connects to `display` and commits the first frame.
    [[nodiscard]] static std::expected<std::unique_ptr<BareClient>, std::string> start(const std::string& display);
    ~BareClient();
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;
    // Commit times since start, the first frame's first.
    std::vector<Clock::time_point> commits() const;
    bool pointer_inside() const;
    // The size of the last frame committed.
    std::pair<std::int32_t, std::int32_t> drawn_size() const;
    // Runs the client's events on a thread of its own from now on.
    void run_in_background();

    struct Impl;

private:
    BareClient() = default;
    std::unique_ptr<Impl> impl_;
};

// This executable again with `args`, standard output to a pipe; the output
// once it ended, or the reason it failed. `env` is added to the
// environment.
struct ChildRun {
    Clock::time_point started;
    std::string out;
    int status = -1;
};
std::optional<ChildRun> run_self(const std::vector<std::string>& args,
                                 const std::vector<std::pair<std::string, std::string>>& env,
                                 std::chrono::seconds limit, std::string& why);

// Clock readings cross process boundaries as nanoseconds of CLOCK_MONOTONIC
// (steady_clock's clock on Linux).
std::string stamp(Clock::time_point t);
std::optional<Clock::time_point> parse_stamp(const std::string& text);

} // namespace bench
