// The software drawing target: a Cairo image surface (premultiplied ARGB32).
#include <zem/app/scene.hpp>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace zem {
namespace {

class CairoCanvas final : public FrameCanvas {
public:
    CairoCanvas(uint32_t w, uint32_t h) { allocate(w, h); }
    ~CairoCanvas() override { release(); }

    uint32_t width() const override { return w_; }
    uint32_t height() const override { return h_; }
    void resize(uint32_t w, uint32_t h) override {
        if (w == w_ && h == h_) return;
        release();
        allocate(w, h);
    }
    float scale() const override { return scale_; }
    void set_scale(float s) override { scale_ = s; }

    void reset_clip() override { cairo_reset_clip(cr_); }
    void set_clip_rects(std::span<const FRect> rects) override {
        cairo_reset_clip(cr_);
        cairo_new_path(cr_);
        for (const FRect& r : rects) cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
        cairo_clip(cr_);
    }
    void clear_color(RGBA c) override {
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a);
        cairo_paint(cr_);
        cairo_restore(cr_);
    }
    void clear() override {
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr_);
        cairo_restore(cr_);
    }
    void clear_rects(std::span<const FRect> rects) override {
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
        cairo_new_path(cr_);
        for (const FRect& r : rects) cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
        cairo_fill(cr_);
        cairo_restore(cr_);
    }
    void fill_rounded_rect(FRect r, RGBA c, float radius) override {
        path(r, radius);
        cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a);
        cairo_fill(cr_);
    }
    void stroke_rounded_rect(FRect r, RGBA c, float radius, float width) override {
        path(r, radius);
        cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a);
        cairo_set_line_width(cr_, width);
        cairo_stroke(cr_);
    }
    void draw_line(float x0, float y0, float x1, float y1, float width, RGBA c) override {
        cairo_new_path(cr_);
        cairo_move_to(cr_, x0, y0);
        cairo_line_to(cr_, x1, y1);
        cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a);
        cairo_set_line_width(cr_, width);
        cairo_stroke(cr_);
    }
    float measure_text(std::string_view text, float size) override {
        std::string t(text);
        font(size);
        cairo_text_extents_t ext;
        cairo_text_extents(cr_, t.c_str(), &ext);
        return static_cast<float>(ext.x_advance);
    }
    void draw_text(std::string_view text, float x, float baseline, float size, RGBA c) override {
        std::string t(text);
        font(size);
        cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a);
        cairo_move_to(cr_, x, baseline);
        cairo_show_text(cr_, t.c_str());
        cairo_new_path(cr_);
    }
    void copy_to_buffer(std::span<uint8_t> out, bool swap_rb) override {
        cairo_surface_flush(surface_);
        const uint8_t* src = cairo_image_surface_get_data(surface_);
        int stride = cairo_image_surface_get_stride(surface_);
        size_t row = static_cast<size_t>(w_) * 4;
        if (out.size() < row * h_) return;
        for (uint32_t y = 0; y < h_; ++y) {
            const uint8_t* s = src + static_cast<size_t>(y) * stride;
            uint8_t* d = out.data() + y * row;
            if (swap_rb) {
                // Cairo keeps B,G,R,A in memory on little-endian machines.
                std::memcpy(d, s, row);
            } else {
                for (uint32_t x = 0; x < w_; ++x) {
                    d[4 * x + 0] = s[4 * x + 2];
                    d[4 * x + 1] = s[4 * x + 1];
                    d[4 * x + 2] = s[4 * x + 0];
                    d[4 * x + 3] = s[4 * x + 3];
                }
            }
        }
    }

private:
    void allocate(uint32_t w, uint32_t h) {
        w_ = w;
        h_ = h;
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w), static_cast<int>(h));
        cr_ = cairo_create(surface_);
    }
    void release() {
        if (cr_) cairo_destroy(cr_);
        if (surface_) cairo_surface_destroy(surface_);
        cr_ = nullptr;
        surface_ = nullptr;
    }
    void path(FRect r, float radius) {
        cairo_new_path(cr_);
        float rad = std::min(radius, std::min(r.w / 2, r.h / 2));
        if (rad <= 0) {
            cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
            return;
        }
        double x = r.x, y = r.y, w = r.w, h = r.h;
        cairo_arc(cr_, x + w - rad, y + rad, rad, -M_PI / 2, 0);
        cairo_arc(cr_, x + w - rad, y + h - rad, rad, 0, M_PI / 2);
        cairo_arc(cr_, x + rad, y + h - rad, rad, M_PI / 2, M_PI);
        cairo_arc(cr_, x + rad, y + rad, rad, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr_);
    }
    void font(float size) {
        cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, size * scale_);
    }

    uint32_t w_ = 0, h_ = 0;
    float scale_ = 1;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
};

class EmptyScene final : public SceneNode {
public:
    void layout_and_draw(FrameCanvas&, FRect, FrameLayout&) const override {}
};

}  // namespace

std::unique_ptr<FrameCanvas> make_software_canvas(uint32_t w, uint32_t h) {
    return std::make_unique<CairoCanvas>(w, h);
}

Scene empty_scene() { return std::make_shared<EmptyScene>(); }

}  // namespace zem
