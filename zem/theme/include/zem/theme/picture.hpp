#pragma once
// Pixels of an icon, logo or other rendered image.

#include <cstdint>
#include <memory>
#include <vector>

namespace zem {

// RGBA, 8 bits per channel, red first, rows top to bottom, each row exactly
// width × 4 bytes. Colours are straight (not premultiplied by alpha): both
// canvas backends premultiply image input themselves.
struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba;
};

using PicturePtr = std::shared_ptr<const Picture>;

}  // namespace zem
