#include <zem/canvas/egl.hpp>

#include <EGL/eglext.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <fmt/format.h>

#include <base/utf8.hpp>

namespace zem {

std::string egl_error_text(EGLint code) {
  switch (code) {
    case 0x3001: return "NotInitialized";
    case 0x3002: return "BadAccess";
    case 0x3003: return "BadAlloc";
    case 0x3004: return "BadAttribute";
    case 0x3005: return "BadConfig";
    case 0x3006: return "BadContext";
    case 0x3007: return "BadCurrentSurface";
    case 0x3008: return "BadDisplay";
    case 0x3009: return "BadMatch";
    case 0x300A: return "BadNativePixmap";
    case 0x300B: return "BadNativeWindow";
    case 0x300C: return "BadParameter";
    case 0x300D: return "BadSurface";
    case 0x300E: return "ContextLost";
    default: return fmt::format("unknown EGL error 0x{:04x}", static_cast<unsigned>(code));
  }
}

SwapWithDamage swap_with_damage_kind(std::string_view extensions) {
  if (extensions.find("EGL_KHR_swap_buffers_with_damage") != std::string_view::npos) return SwapWithDamage::Khr;
  if (extensions.find("EGL_EXT_swap_buffers_with_damage") != std::string_view::npos) return SwapWithDamage::Ext;
  return SwapWithDamage::None;
}

void announce_backend(const std::string& what) {
  static std::once_flag once;
  std::call_once(once, [&] { std::fprintf(stderr, "[zem] render backend: %s\n", what.c_str()); });
}

// The EGL 1.4 entries, resolved from the library itself.
#define ZEM_EGL_ENTRIES(X)                                  \
  X(PFNEGLGETDISPLAYPROC, eglGetDisplay)                    \
  X(PFNEGLINITIALIZEPROC, eglInitialize)                    \
  X(PFNEGLBINDAPIPROC, eglBindAPI)                          \
  X(PFNEGLCHOOSECONFIGPROC, eglChooseConfig)                \
  X(PFNEGLCREATECONTEXTPROC, eglCreateContext)              \
  X(PFNEGLCREATEWINDOWSURFACEPROC, eglCreateWindowSurface)  \
  X(PFNEGLDESTROYSURFACEPROC, eglDestroySurface)            \
  X(PFNEGLMAKECURRENTPROC, eglMakeCurrent)                  \
  X(PFNEGLSWAPBUFFERSPROC, eglSwapBuffers)                  \
  X(PFNEGLSWAPINTERVALPROC, eglSwapInterval)                \
  X(PFNEGLGETERRORPROC, eglGetError)                        \
  X(PFNEGLQUERYSTRINGPROC, eglQueryString)                  \
  X(PFNEGLGETPROCADDRESSPROC, eglGetProcAddress)

struct EglContext::Egl {
#define ZEM_EGL_FIELD(type, name) type name = nullptr;
  ZEM_EGL_ENTRIES(ZEM_EGL_FIELD)
#undef ZEM_EGL_FIELD
  std::string error() const { return egl_error_text(eglGetError()); }
};

namespace {

std::expected<std::unique_ptr<EglContext::Egl>, std::string> load_egl(const char* library) {
  std::string last;
  const char* names[2] = {"libEGL.so.1", "libEGL.so"};
  if (library != nullptr) names[0] = names[1] = library;
  for (const char* name : names) {
    void* lib = dlopen(name, RTLD_NOW | RTLD_NODELETE);
    if (lib == nullptr) {
      const char* why = dlerror();
      last = why != nullptr ? why : name;
      continue;
    }
    auto egl = std::make_unique<EglContext::Egl>();
    bool complete = true;
#define ZEM_EGL_LOAD(type, name)                                          \
    egl->name = reinterpret_cast<type>(dlsym(lib, #name));                \
    if (complete && egl->name == nullptr) {                               \
      complete = false;                                                   \
      last = "missing EGL 1.4 entry point " #name;                        \
    }
    ZEM_EGL_ENTRIES(ZEM_EGL_LOAD)
#undef ZEM_EGL_LOAD
    if (complete) return egl;
  }
  return std::unexpected("load libEGL: " + last);
}

bool force_software() {
  const char* v = std::getenv("ZEM_FORCE_SOFTWARE");
  if (v == nullptr) return false;
  std::string_view s(v);
  return base::utf8::is_valid(s) && s != "0";
}

}  // namespace

std::expected<std::shared_ptr<EglContext>, std::string> EglContext::create(const EglOptions& options) {
  if (force_software()) return std::unexpected(std::string("ZEM_FORCE_SOFTWARE=1"));
  auto loaded = load_egl(options.egl_library);
  if (!loaded) return std::unexpected(loaded.error());
  std::shared_ptr<EglContext> ctx(new EglContext());
  ctx->egl_ = std::move(*loaded);
  Egl& e = *ctx->egl_;

  if (options.surfaceless) {
    auto get_platform = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        e.eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (get_platform != nullptr)
      ctx->display_ = get_platform(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  } else {
    ctx->display_ = e.eglGetDisplay(static_cast<EGLNativeDisplayType>(options.native_display));
  }
  if (ctx->display_ == EGL_NO_DISPLAY) return std::unexpected(std::string("eglGetDisplay returned NULL"));
  if (e.eglInitialize(ctx->display_, nullptr, nullptr) == EGL_FALSE)
    return std::unexpected("eglInitialize: " + e.error());
  if (e.eglBindAPI(EGL_OPENGL_ES_API) == EGL_FALSE) return std::unexpected("eglBindAPI: " + e.error());

  const EGLint config_attribs[] = {EGL_SURFACE_TYPE,
                                   options.surfaceless ? EGL_PBUFFER_BIT : EGL_WINDOW_BIT,
                                   EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                   EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_NONE};
  EGLint count = 0;
  if (e.eglChooseConfig(ctx->display_, config_attribs, &ctx->config_, 1, &count) == EGL_FALSE)
    return std::unexpected("eglChooseConfig: " + e.error());
  if (count < 1) return std::unexpected(std::string("no compatible EGL config"));

  const EGLint es3[] = {EGL_CONTEXT_CLIENT_VERSION, 3, EGL_NONE};
  const EGLint es2[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
  if (!options.force_es2) {
    ctx->context_ = e.eglCreateContext(ctx->display_, ctx->config_, EGL_NO_CONTEXT, es3);
    if (ctx->context_ != EGL_NO_CONTEXT) {
      ctx->gles3_ = true;
    } else {
      e.eglGetError();
    }
  }
  if (ctx->context_ == EGL_NO_CONTEXT) {
    ctx->context_ = e.eglCreateContext(ctx->display_, ctx->config_, EGL_NO_CONTEXT, es2);
    if (ctx->context_ == EGL_NO_CONTEXT) return std::unexpected("eglCreateContext (ES2/ES3): " + e.error());
  }

  auto fn = load_gl_functions(ctx->gles3_, options.gles_library);
  if (!fn) return std::unexpected(fn.error());
  ctx->device_ = std::make_shared<GlDevice>(*fn, ctx->gles3_);

  if (options.announce) announce_backend(ctx->label());

  const char* ext = e.eglQueryString(ctx->display_, EGL_EXTENSIONS);
  std::string_view extensions = ext != nullptr && base::utf8::is_valid(ext) ? std::string_view(ext) : std::string_view();
  switch (swap_with_damage_kind(extensions)) {
    case SwapWithDamage::Khr:
      ctx->swap_with_damage_ = reinterpret_cast<SwapWithDamageFn>(e.eglGetProcAddress("eglSwapBuffersWithDamageKHR"));
      break;
    case SwapWithDamage::Ext:
      ctx->swap_with_damage_ = reinterpret_cast<SwapWithDamageFn>(e.eglGetProcAddress("eglSwapBuffersWithDamageEXT"));
      break;
    case SwapWithDamage::None:
      break;
  }
  return ctx;
}

// The context and display stay: other threads' EGL state and the driver's
// exit handlers outlive any one run.
EglContext::~EglContext() = default;

const std::shared_ptr<GlDevice>& EglContext::gl() const {
  if (!made_current_) {
    std::fprintf(stderr, "EglContext::gl() called before make_current\n");
    std::fflush(stderr);
    std::abort();
  }
  return device_;
}

std::expected<EGLSurface, std::string> EglContext::create_window_surface(EGLNativeWindowType window) {
  EGLSurface s = egl_->eglCreateWindowSurface(display_, config_, window, nullptr);
  if (s == EGL_NO_SURFACE) return std::unexpected("eglCreateWindowSurface: " + egl_->error());
  return s;
}

void EglContext::destroy_surface(EGLSurface surface) {
  if (surface != EGL_NO_SURFACE) egl_->eglDestroySurface(display_, surface);
}

std::expected<void, std::string> EglContext::make_current(EGLSurface surface) {
  if (egl_->eglMakeCurrent(display_, surface, surface, context_) == EGL_FALSE)
    return std::unexpected("eglMakeCurrent: " + egl_->error());
  if (!made_current_) {
    made_current_ = true;
    // Frame callbacks pace our loop already; a blocking swap on a hidden
    // surface would stall it.
    if (surface != EGL_NO_SURFACE) egl_->eglSwapInterval(display_, 0);
  }
  return {};
}

std::expected<void, std::string> EglContext::swap_buffers(EGLSurface surface) {
  if (egl_->eglSwapBuffers(display_, surface) == EGL_FALSE)
    return std::unexpected("eglSwapBuffers: " + egl_->error());
  return {};
}

std::expected<void, std::string> EglContext::swap_buffers_with_damage(EGLSurface surface,
                                                                      std::span<const EGLint> rects) {
  if (swap_with_damage_ == nullptr) return swap_buffers(surface);
  if (swap_with_damage_(display_, surface, rects.data(), static_cast<EGLint>(rects.size() / 4)) == EGL_FALSE)
    return std::unexpected(std::string("eglSwapBuffersWithDamage failed"));
  return {};
}

void* EglContext::proc_address(const char* name) const {
  return reinterpret_cast<void*>(egl_->eglGetProcAddress(name));
}

}  // namespace zem
