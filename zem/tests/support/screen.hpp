#pragma once
// Pixels for toolkit tests: PNG screenshots against offscreen renderings.

#include <zem/shell/scene.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zem::test {

// Straight R,G,B,A bytes, row after row.
struct Image {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

std::optional<Image> load_png(const std::string& path);
Image crop(const Image& img, uint32_t x, uint32_t y, uint32_t w, uint32_t h);

// Renders `scene` offscreen as a full frame of a W × H buffer would show it.
Image render_scene(const Element& scene, uint32_t W, uint32_t H, int32_t scale, Color background,
                   const std::string& title = {}, float top_inset = 0);

// Number of pixels whose channels differ by more than `tolerance`.
size_t differing_pixels(const Image& a, const Image& b, int tolerance = 2);

}  // namespace zem::test
