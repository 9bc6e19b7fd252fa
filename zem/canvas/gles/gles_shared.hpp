#pragma once
// The programs and vertex buffers every canvas of one GL context draws with.

#include <zem/canvas/gl_api.hpp>

namespace zem {

struct RectProgram {
  GLuint id;
  GLint u_mvp, u_color, u_size, u_radii, u_stroke, u_pad;
};
struct TextureProgram {
  GLuint id;
  GLint u_mvp, u_opacity, u_sampler;
};
struct GlyphProgram {
  GLuint id;
  GLint u_color, u_opacity, u_sampler;
};
struct CopyProgram {
  GLuint id;
  GLint u_sampler;
};
struct FadeProgram {
  GLuint id;
  GLint u_mvp, u_sampler, u_opacity, u_fade_bottom_px, u_height_px;
};
struct GradientProgram {
  GLuint id;
  GLint u_mvp, u_lut, u_size, u_radii, u_pad, u_lut_domain_min, u_lut_domain_span;
  GLint u_dir, u_line_length;      // linear only
  GLint u_center, u_radius_frac;   // radial only
};
struct ShadowProgram {
  GLuint id;
  GLint u_mvp, u_size, u_padding, u_radii, u_spread, u_sigma, u_color;
  GLint u_offset;                  // inset kinds only
  GLint u_snapshot, u_canvas_size; // overlay only
};

struct GlShared {
  RectProgram rect;
  TextureProgram texture;
  GlyphProgram glyph;
  CopyProgram copy;
  FadeProgram fade;
  GradientProgram linear;
  GradientProgram radial;
  ShadowProgram shadow;
  ShadowProgram inset;
  ShadowProgram inset_overlay;
  // Vertex arrays exist on ES 3 only; ES 2 re-specifies the layout per draw.
  GLuint unit_quad_vao = 0, unit_quad_vbo = 0;
  GLuint text_vao = 0, text_vbo = 0;
};

GlShared build_shared(const GlFunctions& gl, bool gles3);

// The precision line every fragment shader starts with: highp where the
// driver has it, since mediump loses whole pixels past ~2048 on phone GPUs.
extern const char* const FRAGMENT_PRECISION;

}  // namespace zem
