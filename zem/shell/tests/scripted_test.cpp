// Exact request sequences and start-up failures against the scripted
// compositor.
#include "gallery_page.hpp"
#include "support/process.hpp"
#include "support/scripted_compositor.hpp"

#include <zem/shell/app.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/draw_frame.hpp>
#include <zem/shell/hooks.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace zem::test;
using namespace std::chrono_literals;

namespace {

struct TestApp {
    using Msg = int;

    std::optional<zem::WindowConfig> config;
    std::optional<std::pair<uint32_t, uint32_t>> size;
    bool animating = false;
    int post_from_worker = 0;  // messages a worker posts at start
    std::vector<int>* updates = nullptr;
    std::vector<size_t>* updates_per_iteration = nullptr;
    std::vector<std::pair<uint32_t, uint32_t>>* resizes = nullptr;
    std::thread* worker = nullptr;
    std::function<std::vector<zem::OverlayDecl>()> overlay_fn;
    std::function<std::optional<std::chrono::milliseconds>()> poll_interval_fn;

    std::string app_id() { return "org.example.Test"; }
    std::optional<zem::WindowConfig> window_config() { return config; }
    std::optional<std::pair<uint32_t, uint32_t>> window_size() { return size; }
    void set_channel_sender(zem::MessageSender<int> s) {
        if (post_from_worker > 0 && worker)
            *worker = std::thread([s, n = post_from_worker] {
                for (int i = 0; i < n; ++i) s.send(i);
            });
    }
    std::vector<int> poll() {
        if (updates_per_iteration && updates) updates_per_iteration->push_back(updates->size());
        return {};
    }
    void update(int m) {
        if (updates) updates->push_back(m);
        if (post_from_worker > 0 && updates && int(updates->size()) == post_from_worker) raise(SIGTERM);
    }
    zem::Element view() { return zem::gallery::page(true, 0.5f); }
    bool is_animating() { return animating; }
    std::optional<std::chrono::milliseconds> poll_interval() {
        return poll_interval_fn ? poll_interval_fn() : std::nullopt;
    }
    std::vector<zem::OverlayDecl> overlays() { return overlay_fn ? overlay_fn() : std::vector<zem::OverlayDecl>{}; }
    void resized(uint32_t w, uint32_t h) {
        if (resizes) resizes->emplace_back(w, h);
    }
};

std::expected<void, zem::RunError> run_on(const ScriptedCompositor& c, TestApp app) {
    setenv("WAYLAND_DISPLAY", c.socket().c_str(), 1);
    // The desktop's own text scale must not redraw these pages: settings
    // come from gsettings' in-memory defaults.
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes", 1);
    // Session files of this test process only, not the user's.
    static const std::string state = zem::test::make_temp_dir("zem-scripted-state");
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    return zem::run_handle(std::make_unique<zem::AppAdapter<TestApp>>(std::move(app)));
}

std::unique_ptr<ScriptedCompositor> compositor(ScriptedOptions o) {
    auto c = ScriptedCompositor::start(o);
    if (!c) ADD_FAILURE() << c.error();
    return c ? std::move(*c) : nullptr;
}

// The requests of interest, without the ones every run makes alike.
std::vector<std::string> shell_requests(const ScriptedCompositor& c) {
    std::vector<std::string> out;
    for (auto& l : c.log())
        if (l.rfind("wl_output.", 0) != 0 && l.rfind("xdg_wm_base.pong", 0) != 0) out.push_back(l);
    return out;
}

TEST(Scripted, FullScreenStartUpAndFirstFrameSendExactlyTheseRequests) {
    ScriptedOptions o;
    o.close_after_frames = 1;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    std::vector<std::pair<uint32_t, uint32_t>> resizes;
    TestApp app;
    app.resizes = &resizes;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, app));
    testing::internal::GetCapturedStderr();
    const std::vector<std::string> want = {
        "wl_compositor.create_surface(new)",
        "xdg_wm_base.get_xdg_surface(new,wl_surface)",
        "xdg_surface.get_toplevel(new)",
        "xdg_toplevel.set_title(zem)",
        "xdg_toplevel.set_app_id(org.example.Test)",
        "xdg_toplevel.set_fullscreen(nil)",
        "wl_surface.commit()",
        "xdg_surface.ack_configure(1)",
        // The first configure repeats the full-screen request once.
        "xdg_toplevel.set_fullscreen(nil)",
        "xdg_surface.set_window_geometry(0,0,320,240)",
        "wl_surface.set_buffer_scale(1)",
        "wl_surface.attach(wl_buffer,0,0) format=875708993 size=320x240 alpha=255",
        "wl_surface.damage_buffer(0,0,320,240)",
        "wl_surface.set_input_region(nil)",
        "wl_surface.frame(new)",
        "wl_surface.commit()",
    };
    auto got = shell_requests(*c);
    ASSERT_GE(got.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + want.size()), want);
    EXPECT_EQ(resizes, (std::vector<std::pair<uint32_t, uint32_t>>{{320, 240}}));
}

TEST(Scripted, SizedWindowWithConfigurationUsesItsSizeTitleAndAppId) {
    ScriptedOptions o;
    o.close_after_frames = 1;
    o.configure_width = 0;  // the client chooses
    o.configure_height = 0;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    TestApp app;
    app.config = zem::WindowConfig{"Title", "other.id"};
    app.size = std::make_pair(400u, 300u);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, app));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("zem: window_config app_id \"other.id\" differs from App::app_id \"org.example.Test\"; "
                       "App::app_id wins\n"),
              std::string::npos)
        << err;
    auto got = shell_requests(*c);
    auto has = [&](const std::string& s) { return std::find(got.begin(), got.end(), s) != got.end(); };
    EXPECT_TRUE(has("xdg_toplevel.set_title(Title)"));
    EXPECT_TRUE(has("xdg_toplevel.set_app_id(org.example.Test)"));
    EXPECT_TRUE(has("xdg_toplevel.set_min_size(400,300)"));
    EXPECT_TRUE(has("xdg_toplevel.set_max_size(400,300)"));
    EXPECT_FALSE(has("xdg_toplevel.set_fullscreen(nil)"));
    EXPECT_TRUE(has("xdg_surface.set_window_geometry(0,0,400,300)"));
    EXPECT_TRUE(has("wl_surface.attach(wl_buffer,0,0) format=875708993 size=400x300 alpha=255"));
}

TEST(Scripted, ConfigureWithoutSizeAndWithoutWindowSizeGives800By600) {
    ScriptedOptions o;
    o.configure_width = o.configure_height = 0;
    o.close_after_frames = 1;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, TestApp{}));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(c->matching("xdg_surface.set_window_geometry").size(), 1u);
    EXPECT_EQ(c->matching("xdg_surface.set_window_geometry(0,0,800,600)").size(), 1u);
    EXPECT_EQ(c->matching("wl_surface.attach(wl_buffer,0,0) format=875708993 size=800x600").size(), 1u);
}

TEST(Scripted, MissingRequiredGlobalsFailStartUpOptionalOnesDoNot) {
    struct Case {
        const char* name;
        ScriptedOptions opts;
        std::optional<std::string> error;
    };
    ScriptedOptions no_shm;
    no_shm.shm = false;
    ScriptedOptions no_xdg;
    no_xdg.wm_base_version = 0;
    ScriptedOptions no_compositor;
    no_compositor.compositor_version = 0;
    ScriptedOptions bare;  // no seat, no output, none of the optional protocols
    bare.output = false;
    bare.close_after_frames = 1;
    const std::vector<Case> cases = {
        {"no wl_shm", no_shm,
         "Wayland protocol `wl_shm` unavailable: the requested global was not found in the registry"},
        {"no xdg_wm_base", no_xdg,
         "Wayland protocol `xdg_wm_base` unavailable: the requested global was not found in the registry"},
        {"no wl_compositor", no_compositor,
         "Wayland protocol `wl_compositor` unavailable: the requested global was not found in the registry"},
        {"only the required globals", bare, std::nullopt},
    };
    for (const auto& k : cases) {
        auto c = compositor(k.opts);
        ASSERT_TRUE(c);
        testing::internal::CaptureStderr();
        auto r = run_on(*c, TestApp{});
        testing::internal::GetCapturedStderr();
        if (k.error) {
            ASSERT_FALSE(r) << k.name;
            EXPECT_EQ(r.error().text(), *k.error) << k.name;
        } else {
            EXPECT_TRUE(r) << k.name << ": " << r.error().text();
        }
    }
}

TEST(Scripted, OldCompositorVersionsGetTheRequestsTheyKnow) {
    struct Case {
        uint32_t version;
        bool scale_request, buffer_damage;
    };
    for (Case k : {Case{2, false, false}, Case{3, true, false}, Case{4, true, true}, Case{5, true, true}}) {
        ScriptedOptions o;
        o.compositor_version = k.version;
        o.close_after_frames = 1;
        auto c = compositor(o);
        ASSERT_TRUE(c);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(run_on(*c, TestApp{}));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(!c->matching("wl_surface.set_buffer_scale").empty(), k.scale_request) << k.version;
        EXPECT_EQ(!c->matching("wl_surface.damage_buffer").empty(), k.buffer_damage) << k.version;
        EXPECT_EQ(!c->matching("wl_surface.damage(0,0,320,240)").empty(), !k.buffer_damage) << k.version;
    }
}

TEST(Scripted, WithoutAb24BuffersAreArgb8888) {
    ScriptedOptions o;
    o.shm_ab24 = false;
    o.close_after_frames = 1;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, TestApp{}));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(c->matching("wl_surface.attach"),
              std::vector<std::string>{"wl_surface.attach(wl_buffer,0,0) format=0 size=320x240 alpha=255"});
}

TEST(Scripted, AnimationKeepsDrawingWhenTheCompositorHoldsEveryBuffer) {
    ScriptedOptions o;
    o.release_buffers = false;
    o.close_after_frames = 6;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    TestApp app;
    app.animating = true;
    testing::internal::CaptureStderr();
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(run_on(*c, app));
    auto took = std::chrono::steady_clock::now() - start;
    testing::internal::GetCapturedStderr();
    // Every frame got a fresh buffer although none came back (the close may
    // arrive together with a due frame callback, which still draws).
    EXPECT_GE(c->matching("wl_surface.attach").size(), 6u);
    // Software frames are at least 33 ms apart.
    EXPECT_GE(took, 5 * 33ms);
}

TEST(Scripted, AnIdlePageDrawsOneFrameAndThenNothing) {
    ScriptedOptions o;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    // After the first frame the page is watched for a while: a second
    // frame is the fault, so only its absence takes the whole while.
    bool drew_again = true;
    std::thread closer([&] {
        c->wait_for("wl_surface.attach");
        drew_again = c->wait_for("wl_surface.attach", 2, 1500ms);
        c->close_toplevel();
    });
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, TestApp{}));
    testing::internal::GetCapturedStderr();
    closer.join();
    EXPECT_FALSE(drew_again);
    EXPECT_EQ(c->matching("wl_surface.attach").size(), 1u);
}

TEST(Scripted, ProtocolErrorEndsTheRunLikeALostConnection) {
    ScriptedOptions o;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    std::thread poster([&] {
        c->wait_for("wl_surface.commit");  // the toplevel exists
        c->post_error_on_toplevel(3, "scripted failure");
    });
    testing::internal::CaptureStderr();
    auto r = run_on(*c, TestApp{});
    std::string err = testing::internal::GetCapturedStderr();
    poster.join();
    ASSERT_TRUE(r);
    EXPECT_NE(err.find("zem: wayland protocol error — interface=xdg_toplevel object_id="), std::string::npos) << err;
    EXPECT_NE(err.find(" code=3: scripted failure\n"), std::string::npos) << err;
}

TEST(Scripted, ConfigureOutOfRangeIsIgnored) {
    ScriptedOptions o;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    std::thread driver([&] {
        c->wait_for("wl_surface.attach");
        c->configure_toplevel(20000, 20000);
        c->roundtrip();  // the configure has been looked at
        c->close_toplevel();
    });
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, TestApp{}));
    std::string err = testing::internal::GetCapturedStderr();
    driver.join();
    EXPECT_NE(err.find("[zem] on_configure: size 20000×20000 (physical 20000×20000) out of range — ignoring\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(c->matching("wl_surface.attach").size(), 1u) << "the surface keeps its first frame";
}

// Waits (with a deadline) until the log holds a request beginning with `prefix`.
bool wait_for_request(const ScriptedCompositor& c, const std::string& prefix, size_t n = 1) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (c.matching(prefix).size() >= n) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

TEST(Scripted, ConfigureOfTheSameSizeKeepsBuffersAndView) {
    auto c = compositor(ScriptedOptions{});
    ASSERT_TRUE(c);
    std::vector<std::pair<uint32_t, uint32_t>> resizes;
    TestApp app;
    app.resizes = &resizes;
    bool steps_ok = true;
    std::thread driver([&] {
        steps_ok = wait_for_request(*c, "wl_surface.attach");
        c->configure_toplevel(320, 240);  // a state-only configure: same size
        steps_ok = steps_ok && wait_for_request(*c, "xdg_surface.ack_configure(2)");
        c->configure_toplevel(400, 300);
        steps_ok = steps_ok && wait_for_request(*c, "wl_surface.attach(wl_buffer,0,0) format=875708993 size=400x300");
        c->close_toplevel();
    });
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, app));
    testing::internal::GetCapturedStderr();
    driver.join();
    ASSERT_TRUE(steps_ok);
    // The same size neither told the application of a resize nor drew again.
    EXPECT_EQ(resizes, (std::vector<std::pair<uint32_t, uint32_t>>{{320, 240}, {400, 300}}));
    auto attaches = c->matching("wl_surface.attach");
    ASSERT_EQ(attaches.size(), 2u);
    EXPECT_NE(attaches[0].find("size=320x240"), std::string::npos);
    // The acknowledged state-only configure is still committed.
    auto log = shell_requests(*c);
    auto ack = std::find(log.begin(), log.end(), "xdg_surface.ack_configure(2)");
    ASSERT_NE(ack, log.end());
    auto next_ack = std::find(ack, log.end(), "xdg_surface.ack_configure(3)");
    EXPECT_NE(std::find(ack, next_ack, "wl_surface.commit()"), next_ack);
}

TEST(Scripted, WorkerMessagesAreAllAppliedInOrderOverSeveralWakeUps) {
    ScriptedOptions o;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    std::vector<int> updates;
    std::vector<size_t> per_iteration;
    std::thread worker;
    TestApp app;
    app.post_from_worker = 2000;
    app.updates = &updates;
    app.updates_per_iteration = &per_iteration;
    app.worker = &worker;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, app));
    std::string err = testing::internal::GetCapturedStderr();
    if (worker.joinable()) worker.join();
    ASSERT_EQ(updates.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(updates[i], i);
    // No wake-up takes more than 1024 of them.
    size_t before = 0, growing = 0;
    for (size_t n : per_iteration) {
        EXPECT_LE(n - before, 1024u);
        if (n > before) ++growing;
        before = n;
    }
    EXPECT_GE(growing, 2u);
    EXPECT_NE(err.find("zem: SIGTERM received, exiting cleanly\n"), std::string::npos);
}

TEST(Scripted, ActivationTokenIsTakenOutOfTheEnvironmentUnlessEmpty) {
    for (const char* value : {"token-123", ""}) {
        ScriptedOptions o;
        o.close_after_frames = 1;
        auto c = compositor(o);
        ASSERT_TRUE(c);
        setenv("XDG_ACTIVATION_TOKEN", value, 1);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(run_on(*c, TestApp{}));
        testing::internal::GetCapturedStderr();
        const char* left = std::getenv("XDG_ACTIVATION_TOKEN");
        if (value[0]) EXPECT_EQ(left, nullptr);
        else EXPECT_NE(left, nullptr);
        unsetenv("XDG_ACTIVATION_TOKEN");
    }
}

// Runs the app against `c` and closes the main window once `ready` returns
// (it waits for what the test needs to have happened).
std::string run_until(ScriptedCompositor& c, TestApp app, const std::function<void()>& ready) {
    std::thread closer([&] {
        ready();
        c.close_toplevel();
    });
    testing::internal::CaptureStderr();
    auto r = run_on(c, std::move(app));
    std::string err = testing::internal::GetCapturedStderr();
    closer.join();
    EXPECT_TRUE(r);
    return err;
}

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

zem::OverlayDecl popup(zem::OverlayId id, std::string anchor) {
    zem::OverlayDecl d;
    d.id = id;
    d.element = zem::Element{};
    d.width = zem::Length::px(0);  // the anchor's width
    d.height = zem::Length::px(50);
    d.anchor = std::move(anchor);
    return d;
}

TEST(ScriptedOverlays, PopupHangsFromItsAnchorAndClearsToTransparent) {
    auto c = compositor(ScriptedOptions{});
    ASSERT_TRUE(c);
    TestApp app;
    app.overlay_fn = [] { return std::vector<zem::OverlayDecl>{popup(7, "button.primary")}; };
    std::string err = run_until(*c, app, [&] {
        c->wait_for("wl_surface.attach(wl_buffer,0,0) format=875708993 size=100x50");  // the popup drawn
    });
    // Before the first frame of the main surface nothing carries the key.
    EXPECT_GE(count(err, "zem: popup overlay OverlayId(7) could not find anchor widget id button.primary\n"), 1u)
        << err;
    auto log = shell_requests(*c);
    auto at = [&](const std::string& s) { return std::find(log.begin(), log.end(), s); };
    // Where the page puts its anchor at 320 × 240.
    zem::Canvas canvas = zem::Canvas::new_software(320, 240);
    std::vector<zem::HitRegion> regions;
    zem::render_offscreen(canvas, zem::gallery::page(true, 0.5f), zem::page_background(), "", 0, 1, &regions);
    auto anchor = std::find_if(regions.begin(), regions.end(),
                               [](const zem::HitRegion& r) { return r.key && *r.key == "button.primary"; });
    ASSERT_NE(anchor, regions.end());
    auto n = [](float v) { return std::to_string(static_cast<int>(std::round(v))); };
    const zem::Rect& a = anchor->rect;
    const std::vector<std::string> settings = {
        "xdg_positioner.set_size(" + n(a.w) + ",50)",  // the anchor's width is the popup's
        "xdg_positioner.set_anchor_rect(" + n(a.x) + "," + n(a.y) + "," + n(a.w) + "," + n(a.h) + ")",
        "xdg_positioner.set_anchor(2)",
        "xdg_positioner.set_gravity(2)",
        "xdg_positioner.set_constraint_adjustment(9)",
    };
    auto pos = at(settings[0]);
    ASSERT_NE(pos, log.end()) << settings[0];
    ASSERT_GE(size_t(log.end() - pos), settings.size());
    EXPECT_EQ(std::vector<std::string>(pos, pos + settings.size()), settings);
    EXPECT_NE(at("xdg_surface.get_popup(new,xdg_surface,xdg_positioner)"), log.end());
    // One popup only: once created it is updated, not created again.
    EXPECT_EQ(c->matching("xdg_surface.get_popup").size(), 1u);
    EXPECT_EQ(c->matching("wl_surface.attach(wl_buffer,0,0) format=875708993 size=100x50 alpha=0").size(), 1u)
        << "the popup clears to transparent";
}

TEST(ScriptedOverlays, WindowOverlayOfZeroSizeGetsTheDefaultSizeAndThePageBackground) {
    ScriptedOptions o;
    o.configure_width = o.configure_height = 0;
    auto c = compositor(o);
    ASSERT_TRUE(c);
    TestApp app;
    app.overlay_fn = [] {
        zem::OverlayDecl d;
        d.id = 3;
        d.element = zem::Element{};
        d.kind = zem::OverlayKind::Window;
        return std::vector<zem::OverlayDecl>{d};
    };
    run_until(*c, app, [&] { c->wait_for("wl_surface.attach(wl_buffer,0,0) format=875708993 size=1x1"); });
    EXPECT_EQ(c->matching("xdg_toplevel.set_min_size(480,320)").size(), 1u);
    EXPECT_EQ(c->matching("xdg_toplevel.set_max_size(480,320)").size(), 1u);
    EXPECT_EQ(c->matching("xdg_toplevel.set_title(org.example.Test)").size(), 1u);
    // The overlay's configure carries no size and it declared none: it gets
    // the default size, not 1 × 1.
    EXPECT_EQ(c->matching("wl_surface.attach(wl_buffer,0,0) format=875708993 size=1x1").size(), 0u);
    EXPECT_EQ(c->matching("wl_surface.attach(wl_buffer,0,0) format=875708993 size=480x320 alpha=255").size(), 1u);
}

TEST(ScriptedOverlays, LayerOverlayWithoutLayerShellIsSkippedWithALineEachIteration) {
    auto c = compositor(ScriptedOptions{});
    ASSERT_TRUE(c);
    TestApp app;
    app.overlay_fn = [] {
        zem::OverlayDecl d;
        d.id = 5;
        d.element = zem::Element{};
        d.kind = zem::OverlayKind::LayerTop;
        return std::vector<zem::OverlayDecl>{d};
    };
    std::string err = run_until(*c, app, [&] { c->wait_for("wl_surface.attach"); c->roundtrip(); });
    EXPECT_GE(count(err, "zem: ignoring layer-shell overlay OverlayId(5) — wlr-layer-shell not available\n"), 1u)
        << err;
}

TEST(ScriptedOverlays, AnOverlayThatDisappearsAndReappearsGetsNewObjects) {
    auto c = compositor(ScriptedOptions{});
    ASSERT_TRUE(c);
    auto shown = std::make_shared<std::atomic<int>>(1);
    TestApp app;
    app.overlay_fn = [shown] {
        if (shown->load() == 0) return std::vector<zem::OverlayDecl>{};
        return std::vector<zem::OverlayDecl>{popup(9, "button.secondary")};
    };
    // The loop only runs when something wakes it: each step below sends a
    // configure of a new size, which also makes the application ask for its
    // overlays again (a configure of the same size changes nothing).
    std::thread driver([&] {
        c->wait_for("xdg_surface.get_popup");
        shown->store(0);
        c->configure_toplevel(321, 240);
        c->wait_for("xdg_popup.destroy");
        shown->store(1);
        c->configure_toplevel(320, 240);
        c->wait_for("xdg_surface.get_popup", 2);
        c->close_toplevel();
    });
    testing::internal::CaptureStderr();
    ASSERT_TRUE(run_on(*c, app));
    testing::internal::GetCapturedStderr();
    driver.join();
    EXPECT_EQ(c->matching("xdg_surface.get_popup").size(), 2u);
    EXPECT_EQ(c->matching("xdg_popup.destroy").size(), 1u);
}

TEST(ScriptedPoll, ThePeriodAskedAtStartDecidesWhetherAPollTimerExists) {
    // poll_interval is asked once at start, then at every tick of the timer.
    struct Case {
        const char* name;
        std::optional<std::chrono::milliseconds> first, later;
        size_t asked;                      // asks to wait for
        std::chrono::milliseconds quiet;   // then no further ask for this long
        std::chrono::milliseconds last_gap;  // at least this between the last two asks
    };
    const std::vector<Case> cases = {
        {"none at start, a duration later: never a timer", std::nullopt, 50ms, 1, 1300ms, 0ms},
        // The timer's own period after a tick that names none: a second
        // (a little less allowed for when the timer was armed).
        {"50 ms at start, none later: the timer ticks once a second", 50ms, std::nullopt, 3, 500ms, 900ms},
    };
    for (const auto& k : cases) {
        auto c = compositor(ScriptedOptions{});
        ASSERT_TRUE(c);
        struct Asks {
            std::mutex m;
            std::vector<std::chrono::steady_clock::time_point> at;
            size_t size() {
                std::lock_guard l(m);
                return at.size();
            }
        };
        auto asks = std::make_shared<Asks>();
        TestApp app;
        app.poll_interval_fn = [asks, k]() {
            std::lock_guard l(asks->m);
            asks->at.push_back(std::chrono::steady_clock::now());
            return asks->at.size() == 1 ? k.first : k.later;
        };
        bool reached = false, more = true;
        run_until(*c, app, [&] {
            reached = wait_until([&] { return asks->size() >= k.asked; });
            more = wait_until([&] { return asks->size() > k.asked; }, k.quiet);
        });
        EXPECT_TRUE(reached) << k.name;
        EXPECT_FALSE(more) << k.name;
        ASSERT_EQ(asks->size(), k.asked) << k.name;
        if (k.asked >= 2) {
            EXPECT_GE(asks->at[k.asked - 1] - asks->at[k.asked - 2], k.last_gap) << k.name;
        }
    }
}

TEST(PollIntervalWarning, OnlyWithPerformanceWarningsAndUnder100Ms) {
    // The variable is read once per process and kept: each case runs in a
    // fresh process (the binary started again for it), never in a fork of
    // this one, which may have read it already in an earlier test.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* env;  // nullptr: unset
        int period_ms;
        const char* want;
    };
    const std::vector<Case> cases = {
        {"1", 50,
         "^\\[zem\\]\\[perf\\] poll_interval\\(\\) of 50ms defeats the event-driven idle model [^\n]* wake the loop "
         "from your worker with set_channel_sender instead of polling\\.\n$"},
        {"1", 100, "^$"},
        {"0", 50, "^$"},
        {"", 50, "^$"},
        {nullptr, 50, "^$"},
    };
    for (const auto& k : cases) {
        EXPECT_EXIT(
            {
                if (k.env) setenv("ZEM_PERF_WARN", k.env, 1);
                else unsetenv("ZEM_PERF_WARN");
                zem::PerfGuard g;
                g.warn_poll_interval(std::chrono::milliseconds(k.period_ms));
                g.warn_poll_interval(std::chrono::milliseconds(k.period_ms));  // given once only
                std::exit(0);
            },
            testing::ExitedWithCode(0), k.want)
            << (k.env ? k.env : "unset") << " " << k.period_ms;
    }
    GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
