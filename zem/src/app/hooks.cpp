#include <zem/app/hooks.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>

namespace zem {
namespace {
std::atomic<float> g_text_scale{1.0f};
std::atomic<uint64_t> g_physical{0};
std::atomic<bool> g_software{false};
std::mutex g_bg_mutex;
std::function<RGBA()> g_bg;
std::once_flag g_backend_once;
}  // namespace

float current_text_scale() { return g_text_scale.load(); }

void set_text_scale(float f) {
    if (std::isnan(f)) return;
    g_text_scale.store(std::clamp(f, 0.5f, 3.0f));
}

void set_physical_size(uint32_t w, uint32_t h) { g_physical.store((uint64_t(w) << 32) | h); }

std::pair<uint32_t, uint32_t> physical_size() {
    uint64_t v = g_physical.load();
    return {uint32_t(v >> 32), uint32_t(v & 0xffffffffu)};
}

RGBA page_background() {
    std::lock_guard lock(g_bg_mutex);
    if (g_bg) return g_bg();
    return RGBA{0.96f, 0.96f, 0.97f, 1.0f};
}

void set_page_background_provider(std::function<RGBA()> provider) {
    std::lock_guard lock(g_bg_mutex);
    g_bg = std::move(provider);
}

void set_software_renderer_active(bool on) { g_software.store(on); }
bool software_renderer_active() { return g_software.load(); }

void announce_render_backend(const std::string& reason) {
    std::call_once(g_backend_once, [&] { std::fprintf(stderr, "[zem] render backend: SOFTWARE (%s)\n", reason.c_str()); });
}

}  // namespace zem
