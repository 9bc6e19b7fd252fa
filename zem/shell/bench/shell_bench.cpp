// Frame figures of the gallery page at 1080 × 2340, each also as a ratio to
// a bare-Cairo baseline measured in the same run: a full frame and a partial
// hover frame on the software path and through GLES (Mesa llvmpipe,
// surfaceless), with the allocations one steady-state frame makes; the time
// from `run` to the first frame shown under sway headless, and the frames an
// idle page draws in 2 s (expected: none).
#include "gallery_page.hpp"
#include "support/compositors.hpp"
#include "support/process.hpp"

#include <zem/shell/app.hpp>
#include <zem/shell/buffer_damage.hpp>
#include <zem/shell/draw_frame.hpp>
#include <zem/shell/input_internal.hpp>
#include <zem/shell/hooks.hpp>
#include <zem/canvas/egl.hpp>
#include <zem/theme/fonts.hpp>

#include <cairo.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

// Every allocation of the process is counted, so the bench can say what one
// steady-state frame allocates.
namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

__attribute__((noinline)) void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr uint32_t W = 1080, H = 2340;

// Allocations per run of the last `median_ms`, the first (warming) run left out.
double g_allocs_per_run = 0;

template <class F>
double median_ms(int runs, F&& f) {
    std::vector<double> t;
    t.reserve(size_t(runs));
    f();
    const std::uint64_t before = g_allocations.load();
    for (int i = 0; i < runs; ++i) {
        auto a = Clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    g_allocs_per_run = double(g_allocations.load() - before) / runs;
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
    double full_allocs = 0, partial_allocs = 0, motion_allocs = 0;
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

// The frame figures of one back end: `egl` null draws in software and
// copies into two alternating buffers as the frame step does; with a
// context the frames go through a GLES canvas and end when the GPU is done.
FrameFigures frame_figures(zem::EglContext* egl) {
    zem::SurfaceState s = zem::create_surface_state(zem::SurfaceRole{}, "", 0);
    s.size = {W, H};
    if (egl) {
        zem::Canvas c = zem::Canvas::new_gles(egl->gl(), W, H, egl->gles3());
        if (auto fonts = zem::theme_fonts()) c.set_theme_fonts(std::make_shared<const zem::FontRegistry>(std::move(*fonts)));
        s.canvas = std::move(c);
    }
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
    // Kept across frames as the shell keeps them: the copy plan's list and
    // the storage of each frame plan's damage.
    std::vector<zem::Rect> areas, plan_damage;
    auto copy_from = [&](const zem::SurfaceState& st, const std::vector<zem::Rect>& frame_damage) {
        if (egl) {
            egl->gl()->fn().glFinish();
            return;
        }
        const size_t i = turn++ % 2;
        if (zem::plan_buffer_copy(damage[i], all, frame_damage, areas))
            st.canvas->copy_rects_to_buffer(buffers[i], areas, false);
        else
            st.canvas->copy_to_buffer(buffers[i], false);
    };
    auto copy = [&](const std::vector<zem::Rect>& frame_damage) { copy_from(s, frame_damage); };
    FrameFigures f;
    f.full = median_ms(30, [&] {
        s.relayout = true;
        zem::FramePlan p = zem::plan_frame(s, std::move(plan_damage));
        zem::paint_frame(s, in, p);
        copy(p.damage);
        plan_damage = std::move(p.damage);
    });
    f.full_allocs = g_allocs_per_run;
    // Hover moves between the first two buttons.
    zem::LayoutId a = s.regions.at(0).id, b = s.regions.at(1).id;
    int flip = 0;
    f.partial = median_ms(30, [&] {
        s.hover = (flip++ % 2) ? a : b;
        zem::FramePlan p = zem::plan_frame(s, std::move(plan_damage));
        if (p.kind != zem::FrameKind::Partial) {
            std::fprintf(stderr, "bench: hover frame was not partial\n");
            std::exit(1);
        }
        zem::paint_frame(s, in, p);
        copy(p.damage);
        plan_damage = std::move(p.damage);
    });
    f.partial_allocs = g_allocs_per_run;
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
        zem::FramePlan p = zem::plan_frame(m, std::move(plan_damage));
        zem::paint_frame(m, in, p);
        copy_from(m, p.damage);
        plan_damage = std::move(p.damage);
        m.redraw = false;
    });
    f.motion_allocs = g_allocs_per_run;
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
    FrameFigures f = frame_figures(nullptr);
    std::printf("[zem][bench] gallery full frame, software %ux%u: %.3f ms (%.1f× baseline), %.1f allocations\n", W, H,
                f.full, f.full / base, f.full_allocs);
    std::printf("[zem][bench] gallery partial hover frame, software %ux%u: %.3f ms (%.1f× baseline, %.2f of a full "
                "frame), %.1f allocations\n",
                W, H, f.partial, f.partial / base, f.partial / f.full, f.partial_allocs);
    std::printf("[zem][bench] pointer motion to hover frame, software %ux%u: %.3f ms (%.2f of a full frame, goal "
                "under 0.3), %.1f allocations; views rebuilt: %d, view marked dirty: %s (expected 0, no)\n",
                W, H, f.motion, f.motion / f.full, f.motion_allocs, f.motion_views, f.motion_view_dirty ? "yes" : "no");

    {
        // The GLES figures need EGL whatever the caller's environment says;
        // the start-up run below gets the environment back as it was.
        const char* forced = std::getenv("ZEM_FORCE_SOFTWARE");
        const std::string saved = forced ? forced : "";
        unsetenv("ZEM_FORCE_SOFTWARE");
        auto egl = zem::EglContext::create(zem::EglOptions{.surfaceless = true, .announce = false});
        if (forced) setenv("ZEM_FORCE_SOFTWARE", saved.c_str(), 1);
        if (!egl || !(*egl)->make_current(EGL_NO_SURFACE)) {
            std::printf("[zem][bench] no surfaceless EGL context (%s): GLES figures skipped\n",
                        egl ? "make_current failed" : egl.error().c_str());
        } else {
            FrameFigures g = frame_figures(egl->get());
            std::printf("[zem][bench] gallery full frame, GLES (llvmpipe) %ux%u: %.3f ms (%.1f× baseline), %.1f "
                        "allocations\n",
                        W, H, g.full, g.full / base, g.full_allocs);
            std::printf("[zem][bench] gallery partial hover frame, GLES (llvmpipe) %ux%u: %.3f ms (%.1f× baseline, "
                        "%.2f of a full frame), %.1f allocations\n",
                        W, H, g.partial, g.partial / base, g.partial / g.full, g.partial_allocs);
            std::printf("[zem][bench] pointer motion to hover frame, GLES (llvmpipe) %ux%u: %.3f ms (%.2f of a full "
                        "frame), %.1f allocations\n",
                        W, H, g.motion, g.motion / g.full, g.motion_allocs);
        }
    }

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
