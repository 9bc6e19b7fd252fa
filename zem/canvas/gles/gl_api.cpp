#include <zem/canvas/gl_api.hpp>

#include <dlfcn.h>

#include "gles_shared.hpp"

namespace zem {

std::expected<GlFunctions, std::string> load_gl_functions(bool gles3, const char* library) {
  void* lib = nullptr;
  if (library != nullptr) {
    lib = dlopen(library, RTLD_NOW | RTLD_NODELETE);
  } else {
    lib = dlopen("libGLESv2.so.2", RTLD_NOW | RTLD_NODELETE);
    if (lib == nullptr) lib = dlopen("libGLESv2.so", RTLD_NOW | RTLD_NODELETE);
  }
  if (lib == nullptr) {
    const char* why = dlerror();
    return std::unexpected(std::string("load libGLESv2: ") + (why != nullptr ? why : "unknown error"));
  }
  GlFunctions fn;
#define ZEM_GL_LOAD(type, name)                                                  \
  fn.name = reinterpret_cast<type>(dlsym(lib, #name));                           \
  if (fn.name == nullptr) return std::unexpected(std::string("load libGLESv2: missing ") + #name);
  ZEM_GL_CORE_ENTRIES(ZEM_GL_LOAD)
  if (gles3) {
    ZEM_GL_ES3_ENTRIES(ZEM_GL_LOAD)
  }
#undef ZEM_GL_LOAD
  return fn;
}

GlDevice::GlDevice(GlFunctions fn, bool gles3) : fn_(fn), gles3_(gles3) {}
GlDevice::~GlDevice() = default;

const GlShared& GlDevice::shared() {
  if (!shared_) shared_ = std::make_unique<GlShared>(build_shared(fn_, gles3_));
  return *shared_;
}

}  // namespace zem
