#pragma once
// The one EGL display and OpenGL ES context of a run. Creating it either
// yields a context or a reason text; with a reason the program draws in
// software and never tries EGL again. No failure of EGL stops the program.

#include <EGL/egl.h>

#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include <zem/canvas/gl_api.hpp>

namespace zem {

// The name of an eglGetError code; "unknown EGL error 0x%04x" for a code
// outside the table (EGL_SUCCESS reported on a failed call included).
std::string egl_error_text(EGLint code);

enum class SwapWithDamage { None, Khr, Ext };
// Which swap-with-damage entry an extension list offers (KHR before EXT);
// a plain substring test.
SwapWithDamage swap_with_damage_kind(std::string_view extensions);

// Prints "[zem] render backend: " + what, once per process: the first of
// the GLES and the SOFTWARE announcements wins.
void announce_backend(const std::string& what);

struct EglOptions {
  void* native_display = nullptr;  // the wl_display
  // Tests: Mesa's surfaceless platform instead of the native display, and a
  // pbuffer-capable config (surfaceless has no window configs).
  bool surfaceless = false;
  // Tests: ask for ES 2.0 only, and draw with the ES 2 code paths.
  bool force_es2 = false;
  const char* egl_library = nullptr;   // seams: other libraries to load
  const char* gles_library = nullptr;
  bool announce = true;
};

// A swap-with-damage entry point: (display, surface, rects, n).
using SwapWithDamageFn = EGLBoolean (*)(EGLDisplay, EGLSurface, const EGLint*, EGLint);

class EglContext {
 public:
  // ZEM_FORCE_SOFTWARE set (valid UTF-8, not "0") → "ZEM_FORCE_SOFTWARE=1".
  static std::expected<std::shared_ptr<EglContext>, std::string> create(const EglOptions& options);
  ~EglContext();
  EglContext(const EglContext&) = delete;
  EglContext& operator=(const EglContext&) = delete;

  EGLDisplay display() const { return display_; }
  EGLConfig config() const { return config_; }
  EGLContext context() const { return context_; }
  bool gles3() const { return gles3_; }
  const char* label() const { return gles3_ ? "GLES3" : "GLES2"; }

  // The shared GL device; stops the program before the first make_current.
  const std::shared_ptr<GlDevice>& gl() const;

  std::expected<EGLSurface, std::string> create_window_surface(EGLNativeWindowType window);
  void destroy_surface(EGLSurface surface);
  // EGL_NO_SURFACE makes the context current without a surface.
  std::expected<void, std::string> make_current(EGLSurface surface);
  std::expected<void, std::string> swap_buffers(EGLSurface surface);
  // Rects as x, y, w, h with the origin at the bottom left; none means the
  // whole surface. A plain swap without the extension.
  std::expected<void, std::string> swap_buffers_with_damage(EGLSurface surface,
                                                            std::span<const EGLint> rects);
  SwapWithDamageFn swap_with_damage_entry() const { return swap_with_damage_; }
  // Tests: the extension is absent on this machine's drivers.
  void set_swap_with_damage_entry(SwapWithDamageFn fn) { swap_with_damage_ = fn; }

  // An extension entry point (may be null).
  void* proc_address(const char* name) const;

  struct Egl;

 private:
  EglContext() = default;
  std::unique_ptr<Egl> egl_;
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLConfig config_ = nullptr;
  EGLContext context_ = EGL_NO_CONTEXT;
  bool gles3_ = false;
  bool made_current_ = false;
  std::shared_ptr<GlDevice> device_;
  SwapWithDamageFn swap_with_damage_ = nullptr;
};

}  // namespace zem
