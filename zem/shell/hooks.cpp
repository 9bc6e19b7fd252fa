#include <zem/shell/hooks.hpp>

#include <zem/canvas/egl.hpp>
#include <zem/theme/active.hpp>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace zem {

Color page_background() { return theme::palette_bg_page(); }

void announce_render_backend(const std::string& reason) {
    announce_backend("SOFTWARE (" + reason + ")");
}

namespace {
std::atomic<MainFrameCommitted> g_main_frame_committed{nullptr};
}  // namespace

void set_main_frame_committed(MainFrameCommitted observer) { g_main_frame_committed.store(observer); }

MainFrameCommitted main_frame_committed() { return g_main_frame_committed.load(std::memory_order_relaxed); }

}  // namespace zem
