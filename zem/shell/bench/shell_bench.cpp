// Frame figures of the gallery page on the software path at 1080 × 2340,
// each also as a ratio to a bare-Cairo baseline measured in the same run:
// a full frame, a partial hover frame, the time from `run` to the first
// frame shown under sway headless, and the frames an idle page draws in 2 s
// (expected: none).
#include "gallery_page.hpp"
#include "support/compositors.hpp"
#include "support/process.hpp"

#include <zem/shell/app.hpp>
#include <zem/shell/buffer_damage.hpp>
#include <zem/shell/draw_frame.hpp>
#include <zem/shell/input_internal.hpp>
#include <zem/shell/hooks.hpp>

#include <cairo.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t W = 1080, H = 2340;

template <class F>
double median_ms(int runs, F&& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        auto a = Clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Bare Cairo: one opaque fill of the whole 1080 × 2340 image.
double cairo_baseline() {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
    cairo_t* cr = cairo_create(s);
    double ms = median_ms(50, [&] {
        cairo_set_source_rgba(cr, 0.96, 0.96, 0.97, 1);
        cairo_paint(cr);
        cairo_surface_flush(s);
    });
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return ms;
}

struct FrameFigures {
    double full = 0, partial = 0, motion = 0;
    int motion_views = 0;
    bool motion_view_dirty = false;
};

// The gallery as the pointer bench's application: it counts `view` calls.
struct CountingGallery {
    using Msg = zem::gallery::Pressed;
    int* views;
    std::string app_id() { return "net.tavix.ZemPointerBench"; }
    std::vector<Msg> poll() { return {}; }
    void update(Msg) {}
    zem::Element view() {
        ++*views;
        return zem::gallery::page(true, 0.6f);
    }
    bool is_animating() { return false; }
};

FrameFigures frame_figures() {
    zem::SurfaceState s = zem::create_surface_state(zem::SurfaceRole{}, "", 0);
    s.size = {W, H};
    zem::FrameInputs in;
    zem::Element page = zem::gallery::page(true, 0.6f);
    in.root = &page;
    in.background = zem::page_background();
    // Two buffers taken in turn, each copied only where it is out of date,
    // as the frame step does.
    std::array<std::vector<uint8_t>, 2> buffers;
    for (auto& b : buffers) b.resize(size_t(W) * H * 4);
    std::array<zem::BufferDamage, 2> damage;
    std::array<zem::BufferDamage*, 2> all{&damage[0], &damage[1]};
    size_t turn = 0;
    auto copy_from = [&](const zem::SurfaceState& st, const std::vector<zem::Rect>& frame_damage) {
        const size_t i = turn++ % 2;
        if (auto areas = zem::plan_buffer_copy(damage[i], all, frame_damage))
            st.canvas->copy_rects_to_buffer(buffers[i], *areas, false);
        else
            st.canvas->copy_to_buffer(buffers[i], false);
    };
    auto copy = [&](const std::vector<zem::Rect>& frame_damage) { copy_from(s, frame_damage); };
    FrameFigures f;
    f.full = median_ms(30, [&] {
        s.relayout = true;
        zem::FramePlan p = zem::plan_frame(s);
        zem::paint_frame(s, in, p);
        copy(p.damage);
    });
    // Hover moves between the first two buttons.
    zem::LayoutId a = s.regions.at(0).id, b = s.regions.at(1).id;
    int flip = 0;
    f.partial = median_ms(30, [&] {
        s.hover = (flip++ % 2) ? a : b;
        zem::FramePlan p = zem::plan_frame(s);
        if (p.kind != zem::FrameKind::Partial) {
            std::fprintf(stderr, "bench: hover frame was not partial\n");
            std::exit(1);
        }
        zem::paint_frame(s, in, p);
        copy(p.damage);
    });
    // A pointer motion onto the other button, through the pointer's own
    // handling, to the hover frame in the buffer.
    zem::AppData d(std::make_unique<zem::AppAdapter<CountingGallery>>(CountingGallery{&f.motion_views}));
    d.view_dirty = false;
    d.main_surface = std::move(s);
    zem::SurfaceState& m = d.main_surface;
    auto centre = [&](zem::LayoutId id) {
        const zem::Rect& r = m.regions.at(id == a ? 0 : 1).rect;
        return std::pair<float, float>{r.x + r.w / 2, r.y + r.h / 2};
    };
    f.motion = median_ms(30, [&] {
        d.pointer_position = centre((flip++ % 2) ? a : b);
        zem::pointer_moved(d, zem::SurfaceKey::main());
        zem::FramePlan p = zem::plan_frame(m);
        zem::paint_frame(m, in, p);
        copy_from(m, p.damage);
        m.redraw = false;
    });
    f.motion_view_dirty = d.view_dirty;
    return f;
}

// The gallery, timed: the first frame callback marks the first frame shown.
// After half a second for the compositor's follow-up configures to settle,
// the page idles for 2 s and every frame drawn meanwhile is counted.
struct TimedGallery {
    using Msg = zem::gallery::Pressed;
    Clock::time_point* first_frame;
    std::atomic<int>* frame_callbacks;
    std::atomic<int>* idle_frames;

    std::string app_id() { return "net.tavix.ZemGalleryBench"; }
    std::vector<Msg> poll() { return {}; }
    void update(Msg) {}
    zem::Element view() { return zem::gallery::page(true, 0.6f); }
    bool is_animating() {
        if ((*frame_callbacks)++ == 0) {
            *first_frame = Clock::now();
            std::thread([calls = frame_callbacks, idle = idle_frames] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                int settled = calls->load();
                std::this_thread::sleep_for(std::chrono::seconds(2));
                idle->store(calls->load() - settled);
                raise(SIGTERM);
            }).detach();
        }
        return false;
    }
};

}  // namespace

int main() {
    // The project's default theme, from the source tree when not installed.
    setenv("ZEM_THEMES_DIR", ZEM_SOURCE_THEMES, 0);
    double base = cairo_baseline();
    std::printf("[zem][bench] bare-Cairo baseline (opaque fill %ux%u): %.3f ms\n", W, H, base);
    FrameFigures f = frame_figures();
    std::printf("[zem][bench] gallery full frame, software %ux%u: %.3f ms (%.1f× baseline)\n", W, H, f.full,
                f.full / base);
    std::printf("[zem][bench] gallery partial hover frame, software %ux%u: %.3f ms (%.1f× baseline)\n", W, H,
                f.partial, f.partial / base);

    std::printf("[zem][bench] pointer motion to hover frame, software %ux%u: %.3f ms (%.2f of a full frame, goal "
                "under 0.3); views rebuilt: %d, view marked dirty: %s (expected 0, no)\n",
                W, H, f.motion, f.motion / f.full, f.motion_views, f.motion_view_dirty ? "yes" : "no");

    auto sway = zem::test::Sway::start(W, H);
    if (!sway) {
        std::printf("[zem][bench] sway headless unavailable (%s): start-up figures skipped\n", sway.error().c_str());
        return 0;
    }
    setenv("WAYLAND_DISPLAY", (*sway)->display().c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    // Session files go to a throwaway place, not the user's state.
    setenv("XDG_STATE_HOME", zem::test::make_temp_dir("zem-bench-state").c_str(), 1);
    Clock::time_point first{};
    std::atomic<int> callbacks{0}, idle{-1};
    auto start = Clock::now();
    auto r = zem::run_handle(
        std::make_unique<zem::AppAdapter<TimedGallery>>(TimedGallery{&first, &callbacks, &idle}));
    if (!r) {
        std::printf("[zem][bench] run failed: %s\n", r.error().text().c_str());
        return 1;
    }
    double to_first = std::chrono::duration<double, std::milli>(first - start).count();
    std::printf("[zem][bench] start to first frame shown, sway headless %ux%u: %.3f ms (%.1f× baseline)\n", W, H,
                to_first, to_first / base);
    std::printf("[zem][bench] frames drawn by an idle page in 2 s: %d (expected 0)\n", idle.load());
    return 0;
}
