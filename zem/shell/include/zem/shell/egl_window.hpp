#pragma once
// A Wayland surface's EGL window: the wl_egl_window and the EGL surface drawn
// through it. Destroying it destroys both, the EGL surface first; it must go
// before the wl_surface it was made on.

#include <zem/canvas/egl.hpp>

#include <cstdint>
#include <expected>
#include <memory>
#include <string>

struct wl_surface;
struct wl_egl_window;

namespace zem {

class EglWindowSurface {
public:
    // Sizes below 1 are raised to 1. Errors: "wl_egl_window::new: InvalidSize"
    // or "InvalidId", or "eglCreateWindowSurface: " + the EGL error.
    static std::expected<EglWindowSurface, std::string> create(std::shared_ptr<EglContext> ctx, wl_surface* surface,
                                                               uint32_t w, uint32_t h);
    EglWindowSurface(EglWindowSurface&& o) noexcept { *this = std::move(o); }
    EglWindowSurface& operator=(EglWindowSurface&& o) noexcept;
    EglWindowSurface(const EglWindowSurface&) = delete;
    EglWindowSurface& operator=(const EglWindowSurface&) = delete;
    ~EglWindowSurface() { reset(); }

    void resize(uint32_t w, uint32_t h);
    EGLSurface surface() const { return surface_; }

private:
    EglWindowSurface() = default;
    void reset();
    std::shared_ptr<EglContext> ctx_;
    wl_egl_window* window_ = nullptr;
    EGLSurface surface_ = EGL_NO_SURFACE;
};

}  // namespace zem
