// GLSL ES 1.00 sources of the canvas's programs, and their compilation. Every
// fragment shader outputs premultiplied colour; v_uv.y grows upwards.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gles_shared.hpp"

namespace zem {

const char* const FRAGMENT_PRECISION =
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\n"
    "precision highp float;\n"
    "#else\n"
    "precision mediump float;\n"
    "#endif\n";

namespace {

[[noreturn]] void stop(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

const char* const QUAD_VS = R"(
attribute vec2 a_pos;
uniform mat4 u_mvp;
varying vec2 v_uv;
void main() { v_uv = a_pos; gl_Position = u_mvp * vec4(a_pos, 0.0, 1.0); }
)";

const char* const TEXT_VS = R"(
attribute vec2 a_pos;
attribute vec2 a_uv;
varying vec2 v_uv;
void main() { v_uv = a_uv; gl_Position = vec4(a_pos, 0.0, 1.0); }
)";

const char* const FULLSCREEN_VS = R"(
attribute vec2 a_pos;
varying vec2 v_uv;
void main() { v_uv = a_pos; gl_Position = vec4(a_pos * 2.0 - 1.0, 0.0, 1.0); }
)";

// The signed distance to a rounded box of half size h, radii (tl, tr, br, bl).
const char* const SDF = R"(
float corner_radius(vec2 c, vec4 R) {
  return c.y > 0.0 ? (c.x < 0.0 ? R.x : R.y) : (c.x < 0.0 ? R.w : R.z);
}
float rrect_sdf(vec2 c, vec2 h, vec4 R) {
  float r = min(corner_radius(c, R), min(h.x, h.y));
  vec2 q = abs(c) - (h - r);
  return min(max(q.x, q.y), 0.0) + length(max(q, 0.0)) - r;
}
)";

const char* const RECT_FRAG_SRC = R"(
varying vec2 v_uv;
uniform vec4 u_color;
uniform vec2 u_size;
uniform vec4 u_radii;
uniform float u_stroke;
uniform float u_pad;
void main() {
  vec2 p = v_uv * (u_size + 2.0 * u_pad) - u_pad;
  vec2 c = p - u_size * 0.5;
  float d = rrect_sdf(c, u_size * 0.5, u_radii);
  float cov = u_stroke > 0.0
      ? 1.0 - smoothstep(u_stroke * 0.5 - 1.0, u_stroke * 0.5 + 1.0, abs(d))
      : 1.0 - smoothstep(-1.0, 1.0, d);
  float a = u_color.a * cov;
  gl_FragColor = vec4(u_color.rgb * a, a);
}
)";

const char* const TEXTURE_FRAG = R"(
varying vec2 v_uv;
uniform float u_opacity;
uniform sampler2D u_sampler;
void main() { gl_FragColor = texture2D(u_sampler, vec2(v_uv.x, 1.0 - v_uv.y)) * u_opacity; }
)";

const char* const GLYPH_FRAG = R"(
varying vec2 v_uv;
uniform vec4 u_color;
uniform float u_opacity;
uniform sampler2D u_sampler;
void main() {
  float cov = texture2D(u_sampler, v_uv).r;
  float a = u_color.a * cov * u_opacity;
  gl_FragColor = vec4(u_color.rgb * a, a);
}
)";

const char* const COPY_FRAG = R"(
varying vec2 v_uv;
uniform sampler2D u_sampler;
void main() { gl_FragColor = texture2D(u_sampler, v_uv); }
)";

const char* const FADE_FRAG = R"(
varying vec2 v_uv;
uniform sampler2D u_sampler;
uniform float u_opacity;
uniform float u_fade_bottom_px;
uniform float u_height_px;
void main() {
  vec4 t = texture2D(u_sampler, v_uv);
  float fade = u_fade_bottom_px > 0.0 ? clamp(v_uv.y * u_height_px / u_fade_bottom_px, 0.0, 1.0) : 1.0;
  gl_FragColor = t * (u_opacity * fade);
}
)";

const char* const GRADIENT_HEAD = R"(
varying vec2 v_uv;
uniform sampler2D u_lut;
uniform vec2 u_size;
uniform vec4 u_radii;
uniform float u_pad;
uniform float u_lut_domain_min;
uniform float u_lut_domain_span;
)";

const char* const LINEAR_FRAG = R"(
uniform vec2 u_dir;
uniform float u_line_length;
void main() {
  vec2 p = v_uv * (u_size + 2.0 * u_pad) - u_pad;
  vec2 c = p - u_size * 0.5;
  float cov = 1.0 - smoothstep(-1.0, 1.0, rrect_sdf(c, u_size * 0.5, u_radii));
  float t = 0.5 + dot(c, u_dir) / u_line_length;
  float u = (t - u_lut_domain_min) / u_lut_domain_span;
  vec4 g = texture2D(u_lut, vec2(clamp(u, 0.0, 1.0), 0.5));
  float a = g.a * cov;
  gl_FragColor = vec4(g.rgb * a, a);
}
)";

const char* const RADIAL_FRAG = R"(
uniform vec2 u_center;
uniform float u_radius_frac;
void main() {
  vec2 p = v_uv * (u_size + 2.0 * u_pad) - u_pad;
  vec2 c = p - u_size * 0.5;
  float cov = 1.0 - smoothstep(-1.0, 1.0, rrect_sdf(c, u_size * 0.5, u_radii));
  float t = distance(p / u_size, u_center) / max(u_radius_frac, 1e-6);
  float u = (t - u_lut_domain_min) / u_lut_domain_span;
  vec4 g = texture2D(u_lut, vec2(clamp(u, 0.0, 1.0), 0.5));
  float a = g.a * cov;
  gl_FragColor = vec4(g.rgb * a, a);
}
)";

const char* const SHADOW_FRAG = R"(
varying vec2 v_uv;
uniform vec2 u_size;
uniform vec2 u_padding;
uniform vec4 u_radii;
uniform float u_spread;
uniform float u_sigma;
uniform vec4 u_color;
void main() {
  vec2 p = v_uv * (u_size + 2.0 * u_padding) - u_padding;
  vec2 c = p - u_size * 0.5;
  vec2 h = u_size * 0.5 + u_spread;
  vec4 R = max(u_radii + u_spread, 0.0);
  float d = rrect_sdf(c, h, R);
  float s = max(u_sigma, 0.5);
  float I = d <= 0.0 ? 1.0 : exp(-d * d / (2.0 * s * s));
  float a = u_color.a * I;
  gl_FragColor = vec4(u_color.rgb * a, a);
}
)";

// The inset intensity m at this fragment; shared by the plain and overlay kinds.
const char* const INSET_HEAD = R"(
varying vec2 v_uv;
uniform vec2 u_size;
uniform vec2 u_padding;
uniform vec4 u_radii;
uniform float u_spread;
uniform float u_sigma;
uniform vec2 u_offset;
uniform vec4 u_color;
float inset_intensity() {
  vec2 p = v_uv * (u_size + 2.0 * u_padding) - u_padding;
  vec2 c = p - u_size * 0.5;
  float outer = 1.0 - smoothstep(-1.0, 1.0, rrect_sdf(c, u_size * 0.5, u_radii));
  vec2 c1 = p - u_offset - u_size * 0.5;
  vec2 h1 = max(u_size * 0.5 - u_spread, 0.001);
  vec4 R1 = max(u_radii - u_spread, 0.0);
  float d1 = rrect_sdf(c1, h1, R1);
  float s = max(u_sigma, 0.5);
  float I = d1 >= 0.0 ? 1.0 : exp(-d1 * d1 / (2.0 * s * s));
  return I * outer;
}
)";

const char* const SHADOW_INSET_FRAG_SRC = R"(
void main() {
  float a = u_color.a * inset_intensity();
  gl_FragColor = vec4(u_color.rgb * a, a);
}
)";

const char* const INSET_OVERLAY_FRAG = R"(
uniform sampler2D u_snapshot;
uniform vec2 u_canvas_size;
void main() {
  float m = u_color.a * inset_intensity();
  vec4 s = texture2D(u_snapshot, gl_FragCoord.xy / u_canvas_size);
  vec3 base = s.a > 0.0 ? s.rgb / s.a : vec3(0.0);
  vec3 src = u_color.rgb;
  vec3 lo = 2.0 * base * src;
  vec3 hi = 1.0 - 2.0 * (1.0 - base) * (1.0 - src);
  vec3 o = vec3(base.r < 0.5 ? lo.r : hi.r, base.g < 0.5 ? lo.g : hi.g, base.b < 0.5 ? lo.b : hi.b);
  gl_FragColor = vec4(o * m, m);
}
)";

GLuint compile_shader(const GlFunctions& gl, GLenum kind, const std::string& src, const char* what) {
  GLuint s = gl.glCreateShader(kind);
  const char* text = src.c_str();
  gl.glShaderSource(s, 1, &text, nullptr);
  gl.glCompileShader(s);
  GLint ok = 0;
  gl.glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (ok == 0) {
    char log[2048] = {};
    gl.glGetShaderInfoLog(s, sizeof log, nullptr, log);
    stop(std::string(what) + log);
  }
  return s;
}

GLuint compile_program(const GlFunctions& gl, const char* vs, const std::string& fs, bool with_uv) {
  GLuint p = gl.glCreateProgram();
  GLuint v = compile_shader(gl, GL_VERTEX_SHADER, vs, "VS: ");
  GLuint f = compile_shader(gl, GL_FRAGMENT_SHADER, std::string(FRAGMENT_PRECISION) + fs, "FS: ");
  gl.glAttachShader(p, v);
  gl.glAttachShader(p, f);
  gl.glBindAttribLocation(p, 0, "a_pos");
  if (with_uv) gl.glBindAttribLocation(p, 1, "a_uv");
  gl.glLinkProgram(p);
  GLint ok = 0;
  gl.glGetProgramiv(p, GL_LINK_STATUS, &ok);
  if (ok == 0) {
    char log[2048] = {};
    gl.glGetProgramInfoLog(p, sizeof log, nullptr, log);
    stop(std::string("Link: ") + log);
  }
  gl.glDeleteShader(v);
  gl.glDeleteShader(f);
  return p;
}

struct Lookup {
  const GlFunctions& gl;
  GLuint program;
  GLint operator()(const char* name) const {
    GLint loc = gl.glGetUniformLocation(program, name);
    if (loc < 0) stop(std::string("uniform not found: ") + name);
    return loc;
  }
};

}  // namespace

GlShared build_shared(const GlFunctions& gl, bool gles3) {
  GlShared s{};
  const std::string sdf = SDF;
  s.rect.id = compile_program(gl, QUAD_VS, sdf + RECT_FRAG_SRC, false);
  s.texture.id = compile_program(gl, QUAD_VS, TEXTURE_FRAG, false);
  s.glyph.id = compile_program(gl, TEXT_VS, GLYPH_FRAG, true);
  s.copy.id = compile_program(gl, FULLSCREEN_VS, COPY_FRAG, false);
  s.fade.id = compile_program(gl, QUAD_VS, FADE_FRAG, false);
  s.linear.id = compile_program(gl, QUAD_VS, std::string(GRADIENT_HEAD) + sdf + LINEAR_FRAG, false);
  s.radial.id = compile_program(gl, QUAD_VS, std::string(GRADIENT_HEAD) + sdf + RADIAL_FRAG, false);
  s.shadow.id = compile_program(gl, QUAD_VS, sdf + SHADOW_FRAG, false);
  s.inset.id = compile_program(gl, QUAD_VS, sdf + INSET_HEAD + SHADOW_INSET_FRAG_SRC, false);
  s.inset_overlay.id = compile_program(gl, QUAD_VS, sdf + INSET_HEAD + INSET_OVERLAY_FRAG, false);

  {
    Lookup u{gl, s.rect.id};
    s.rect.u_mvp = u("u_mvp"); s.rect.u_color = u("u_color"); s.rect.u_size = u("u_size");
    s.rect.u_radii = u("u_radii"); s.rect.u_stroke = u("u_stroke"); s.rect.u_pad = u("u_pad");
  }
  {
    Lookup u{gl, s.texture.id};
    s.texture.u_mvp = u("u_mvp"); s.texture.u_opacity = u("u_opacity"); s.texture.u_sampler = u("u_sampler");
  }
  {
    Lookup u{gl, s.glyph.id};
    s.glyph.u_color = u("u_color"); s.glyph.u_opacity = u("u_opacity"); s.glyph.u_sampler = u("u_sampler");
  }
  s.copy.u_sampler = Lookup{gl, s.copy.id}("u_sampler");
  {
    Lookup u{gl, s.fade.id};
    s.fade.u_mvp = u("u_mvp"); s.fade.u_sampler = u("u_sampler"); s.fade.u_opacity = u("u_opacity");
    s.fade.u_fade_bottom_px = u("u_fade_bottom_px"); s.fade.u_height_px = u("u_height_px");
  }
  for (GradientProgram* g : {&s.linear, &s.radial}) {
    Lookup u{gl, g->id};
    g->u_mvp = u("u_mvp"); g->u_lut = u("u_lut"); g->u_size = u("u_size"); g->u_radii = u("u_radii");
    g->u_pad = u("u_pad"); g->u_lut_domain_min = u("u_lut_domain_min");
    g->u_lut_domain_span = u("u_lut_domain_span");
    g->u_dir = g->u_line_length = g->u_center = g->u_radius_frac = -1;
  }
  {
    Lookup u{gl, s.linear.id};
    s.linear.u_dir = u("u_dir"); s.linear.u_line_length = u("u_line_length");
  }
  {
    Lookup u{gl, s.radial.id};
    s.radial.u_center = u("u_center"); s.radial.u_radius_frac = u("u_radius_frac");
  }
  for (ShadowProgram* p : {&s.shadow, &s.inset, &s.inset_overlay}) {
    Lookup u{gl, p->id};
    p->u_mvp = u("u_mvp"); p->u_size = u("u_size"); p->u_padding = u("u_padding");
    p->u_radii = u("u_radii"); p->u_spread = u("u_spread"); p->u_sigma = u("u_sigma");
    p->u_color = u("u_color");
    p->u_offset = p == &s.shadow ? -1 : u("u_offset");
    p->u_snapshot = p->u_canvas_size = -1;
  }
  {
    Lookup u{gl, s.inset_overlay.id};
    s.inset_overlay.u_snapshot = u("u_snapshot");
    s.inset_overlay.u_canvas_size = u("u_canvas_size");
  }

  static const float quad[12] = {0, 0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 1};
  if (gles3) {
    gl.glGenVertexArrays(1, &s.text_vao);
    gl.glBindVertexArray(s.text_vao);
  }
  gl.glGenBuffers(1, &s.text_vbo);
  gl.glBindBuffer(GL_ARRAY_BUFFER, s.text_vbo);
  if (gles3) {
    gl.glEnableVertexAttribArray(0);
    gl.glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(0));
    gl.glEnableVertexAttribArray(1);
    gl.glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
    gl.glGenVertexArrays(1, &s.unit_quad_vao);
    gl.glBindVertexArray(s.unit_quad_vao);
  }
  gl.glGenBuffers(1, &s.unit_quad_vbo);
  gl.glBindBuffer(GL_ARRAY_BUFFER, s.unit_quad_vbo);
  gl.glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
  if (gles3) {
    gl.glEnableVertexAttribArray(0);
    gl.glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 8, nullptr);
    gl.glBindVertexArray(0);
  }
  gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
  return s;
}

}  // namespace zem
