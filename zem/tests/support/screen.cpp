#include "support/screen.hpp"

#include <zem/shell/draw_frame.hpp>

#include <cairo.h>

#include <cstdlib>

namespace zem::test {

std::optional<Image> load_png(const std::string& path) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return std::nullopt;
    }
    cairo_surface_flush(s);
    Image img;
    img.width = static_cast<uint32_t>(cairo_image_surface_get_width(s));
    img.height = static_cast<uint32_t>(cairo_image_surface_get_height(s));
    int stride = cairo_image_surface_get_stride(s);
    const uint8_t* data = cairo_image_surface_get_data(s);
    bool alpha = cairo_image_surface_get_format(s) == CAIRO_FORMAT_ARGB32;
    img.rgba.resize(size_t(img.width) * img.height * 4);
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            uint32_t px = *reinterpret_cast<const uint32_t*>(data + size_t(y) * stride + x * 4);
            uint8_t* d = &img.rgba[(size_t(y) * img.width + x) * 4];
            d[0] = uint8_t(px >> 16);
            d[1] = uint8_t(px >> 8);
            d[2] = uint8_t(px);
            d[3] = alpha ? uint8_t(px >> 24) : 255;
        }
    cairo_surface_destroy(s);
    return img;
}

Image crop(const Image& img, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    Image out;
    out.width = w;
    out.height = h;
    out.rgba.assign(size_t(w) * h * 4, 0);
    for (uint32_t r = 0; r < h && y + r < img.height; ++r)
        for (uint32_t c = 0; c < w && x + c < img.width; ++c)
            for (int k = 0; k < 4; ++k)
                out.rgba[(size_t(r) * w + c) * 4 + k] = img.rgba[(size_t(y + r) * img.width + x + c) * 4 + k];
    return out;
}

Image render_scene(const Element& scene, uint32_t W, uint32_t H, int32_t scale, Color background,
                   const std::string& title, float top_inset) {
    Canvas canvas = Canvas::new_software(W, H);
    render_offscreen(canvas, scene, background, title, top_inset, scale);
    Image img;
    img.width = W;
    img.height = H;
    img.rgba.resize(size_t(W) * H * 4);
    canvas.copy_to_buffer(img.rgba, false);
    return img;
}

size_t differing_pixels(const Image& a, const Image& b, int tolerance) {
    if (a.width != b.width || a.height != b.height) return size_t(-1);
    size_t n = 0;
    for (size_t i = 0; i < a.rgba.size(); i += 4) {
        // Opaque comparison: the compositor shows colour, not alpha.
        for (int k = 0; k < 3; ++k)
            if (std::abs(int(a.rgba[i + k]) - int(b.rgba[i + k])) > tolerance) {
                ++n;
                break;
            }
    }
    return n;
}

}  // namespace zem::test
