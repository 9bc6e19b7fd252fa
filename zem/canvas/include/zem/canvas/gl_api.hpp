#pragma once
// The OpenGL ES entry points the GLES canvas calls, taken from libGLESv2
// itself: eglGetProcAddress need not answer for core functions before EGL 1.5
// (Mesa hands back a stub even for names that do not exist), so a pointer from
// it proves nothing. Every entry is checked when the table is loaded.

#include <GLES2/gl2.h>
#include <GLES3/gl3.h>

#include <expected>
#include <memory>
#include <string>

namespace zem {

// Entries every context must have (ES 2.0 core).
#define ZEM_GL_CORE_ENTRIES(X)                                        \
  X(PFNGLACTIVETEXTUREPROC, glActiveTexture)                          \
  X(PFNGLATTACHSHADERPROC, glAttachShader)                            \
  X(PFNGLBINDATTRIBLOCATIONPROC, glBindAttribLocation)                \
  X(PFNGLBINDBUFFERPROC, glBindBuffer)                                \
  X(PFNGLBINDFRAMEBUFFERPROC, glBindFramebuffer)                      \
  X(PFNGLBINDTEXTUREPROC, glBindTexture)                              \
  X(PFNGLBLENDFUNCPROC, glBlendFunc)                                  \
  X(PFNGLBLENDFUNCSEPARATEPROC, glBlendFuncSeparate)                  \
  X(PFNGLBUFFERDATAPROC, glBufferData)                                \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatus)        \
  X(PFNGLCLEARPROC, glClear)                                          \
  X(PFNGLCLEARCOLORPROC, glClearColor)                                \
  X(PFNGLCOMPILESHADERPROC, glCompileShader)                          \
  X(PFNGLCOPYTEXSUBIMAGE2DPROC, glCopyTexSubImage2D)                  \
  X(PFNGLCREATEPROGRAMPROC, glCreateProgram)                          \
  X(PFNGLCREATESHADERPROC, glCreateShader)                            \
  X(PFNGLDELETEBUFFERSPROC, glDeleteBuffers)                          \
  X(PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffers)                \
  X(PFNGLDELETEPROGRAMPROC, glDeleteProgram)                          \
  X(PFNGLDELETESHADERPROC, glDeleteShader)                            \
  X(PFNGLDELETETEXTURESPROC, glDeleteTextures)                        \
  X(PFNGLDISABLEPROC, glDisable)                                      \
  X(PFNGLDRAWARRAYSPROC, glDrawArrays)                                \
  X(PFNGLENABLEPROC, glEnable)                                        \
  X(PFNGLENABLEVERTEXATTRIBARRAYPROC, glEnableVertexAttribArray)      \
  X(PFNGLDISABLEVERTEXATTRIBARRAYPROC, glDisableVertexAttribArray)    \
  X(PFNGLFINISHPROC, glFinish)                                        \
  X(PFNGLFRAMEBUFFERTEXTURE2DPROC, glFramebufferTexture2D)            \
  X(PFNGLGENBUFFERSPROC, glGenBuffers)                                \
  X(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffers)                      \
  X(PFNGLGENTEXTURESPROC, glGenTextures)                              \
  X(PFNGLGETERRORPROC, glGetError)                                    \
  X(PFNGLGETPROGRAMINFOLOGPROC, glGetProgramInfoLog)                  \
  X(PFNGLGETPROGRAMIVPROC, glGetProgramiv)                            \
  X(PFNGLGETSHADERINFOLOGPROC, glGetShaderInfoLog)                    \
  X(PFNGLGETSHADERIVPROC, glGetShaderiv)                              \
  X(PFNGLGETUNIFORMLOCATIONPROC, glGetUniformLocation)                \
  X(PFNGLLINKPROGRAMPROC, glLinkProgram)                              \
  X(PFNGLPIXELSTOREIPROC, glPixelStorei)                              \
  X(PFNGLREADPIXELSPROC, glReadPixels)                                \
  X(PFNGLSCISSORPROC, glScissor)                                      \
  X(PFNGLSHADERSOURCEPROC, glShaderSource)                            \
  X(PFNGLTEXIMAGE2DPROC, glTexImage2D)                                \
  X(PFNGLTEXPARAMETERIPROC, glTexParameteri)                          \
  X(PFNGLTEXSUBIMAGE2DPROC, glTexSubImage2D)                          \
  X(PFNGLUNIFORM1FPROC, glUniform1f)                                  \
  X(PFNGLUNIFORM1IPROC, glUniform1i)                                  \
  X(PFNGLUNIFORM2FPROC, glUniform2f)                                  \
  X(PFNGLUNIFORM4FPROC, glUniform4f)                                  \
  X(PFNGLUNIFORMMATRIX4FVPROC, glUniformMatrix4fv)                    \
  X(PFNGLUSEPROGRAMPROC, glUseProgram)                                \
  X(PFNGLVERTEXATTRIBPOINTERPROC, glVertexAttribPointer)              \
  X(PFNGLVIEWPORTPROC, glViewport)

// Entries an ES 3 context adds that the canvas uses.
#define ZEM_GL_ES3_ENTRIES(X)                                \
  X(PFNGLGENVERTEXARRAYSPROC, glGenVertexArrays)             \
  X(PFNGLBINDVERTEXARRAYPROC, glBindVertexArray)             \
  X(PFNGLDELETEVERTEXARRAYSPROC, glDeleteVertexArrays)

struct GlFunctions {
#define ZEM_GL_FIELD(type, name) type name = nullptr;
  ZEM_GL_CORE_ENTRIES(ZEM_GL_FIELD)
  ZEM_GL_ES3_ENTRIES(ZEM_GL_FIELD)
#undef ZEM_GL_FIELD
};

// Opens `library` (default "libGLESv2.so.2", else "libGLESv2.so") and
// resolves every core entry, and the ES 3 ones when `gles3`. Errors:
// "load libGLESv2: " + the loader's text, or "load libGLESv2: missing " + name.
std::expected<GlFunctions, std::string> load_gl_functions(bool gles3, const char* library = nullptr);

struct GlShared;

// One GL context's function table and the objects every canvas drawn in it
// shares: the compiled programs and the vertex buffers. They are built on
// first use and live as long as the context, so a tooltip or an overlay
// surface compiles nothing and leaks nothing.
class GlDevice {
 public:
  GlDevice(GlFunctions fn, bool gles3);
  ~GlDevice();
  GlDevice(const GlDevice&) = delete;
  GlDevice& operator=(const GlDevice&) = delete;

  GlFunctions& fn() { return fn_; }
  const GlFunctions& fn() const { return fn_; }
  bool gles3() const { return gles3_; }
  // Compiles on first call; needs the context current.
  const GlShared& shared();

 private:
  GlFunctions fn_;
  bool gles3_;
  std::unique_ptr<GlShared> shared_;
};

}  // namespace zem
