#include <zem/shell/egl_window.hpp>

#include <wayland-client.h>
#include <wayland-egl.h>

#include <algorithm>

namespace zem {

std::expected<EglWindowSurface, std::string> EglWindowSurface::create(std::shared_ptr<EglContext> ctx,
                                                                      wl_surface* surface, uint32_t w, uint32_t h) {
    if (surface == nullptr) return std::unexpected(std::string("wl_egl_window::new: InvalidId"));
    const int iw = static_cast<int>(std::clamp<uint32_t>(w, 1, 1u << 30));
    const int ih = static_cast<int>(std::clamp<uint32_t>(h, 1, 1u << 30));
    wl_egl_window* window = wl_egl_window_create(surface, iw, ih);
    if (window == nullptr) return std::unexpected(std::string("wl_egl_window::new: InvalidSize"));
    auto egl_surface = ctx->create_window_surface(reinterpret_cast<EGLNativeWindowType>(window));
    if (!egl_surface) {
        wl_egl_window_destroy(window);
        return std::unexpected(egl_surface.error());
    }
    EglWindowSurface s;
    s.ctx_ = std::move(ctx);
    s.window_ = window;
    s.surface_ = *egl_surface;
    return s;
}

EglWindowSurface& EglWindowSurface::operator=(EglWindowSurface&& o) noexcept {
    if (this != &o) {
        reset();
        ctx_ = std::move(o.ctx_);
        window_ = o.window_;
        surface_ = o.surface_;
        o.window_ = nullptr;
        o.surface_ = EGL_NO_SURFACE;
    }
    return *this;
}

void EglWindowSurface::resize(uint32_t w, uint32_t h) {
    if (window_ == nullptr) return;
    wl_egl_window_resize(window_, static_cast<int>(std::max<uint32_t>(w, 1)), static_cast<int>(std::max<uint32_t>(h, 1)),
                         0, 0);
}

void EglWindowSurface::reset() {
    if (ctx_ && surface_ != EGL_NO_SURFACE) ctx_->destroy_surface(surface_);
    if (window_ != nullptr) wl_egl_window_destroy(window_);
    window_ = nullptr;
    surface_ = EGL_NO_SURFACE;
}

}  // namespace zem
