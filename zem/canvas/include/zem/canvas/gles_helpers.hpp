#pragma once
// Pure pieces of the GLES canvas, kept apart so they can be checked without GL.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace zem {

// SipHash-1-3 with both keys zero.
std::uint64_t siphash13(std::span<const std::uint8_t> bytes);
// The cache key of an image's pixels: whole below 16 KiB, eight 512-byte
// samples above.
std::uint64_t image_content_hash(std::span<const std::uint8_t> bytes);

// The column-major matrix taking the unit quad to the pixel rectangle
// (x, y, w, h) of a W × H target, y down.
std::array<float, 16> ortho_rect(float x, float y, float w, float h, float W, float H);

// A shelf packer over a square atlas; a one-pixel gutter follows every glyph.
class AtlasPacker {
 public:
  static constexpr std::uint32_t SIDE = 2048;
  struct Spot {
    std::uint32_t x, y;
  };
  // Where a w × h glyph goes, or none when it is too big or the atlas is full.
  std::optional<Spot> place(std::uint32_t w, std::uint32_t h);
  void clear() { pen_x_ = pen_y_ = row_h_ = 0; }

 private:
  std::uint32_t pen_x_ = 0, pen_y_ = 0, row_h_ = 0;
};

}  // namespace zem
