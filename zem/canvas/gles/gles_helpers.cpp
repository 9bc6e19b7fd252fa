#include <zem/canvas/gles_helpers.hpp>

#include <algorithm>
#include <cstring>

namespace zem {

namespace {

std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct Sip {
  std::uint64_t v0 = 0x736f6d6570736575ULL, v1 = 0x646f72616e646f6dULL, v2 = 0x6c7967656e657261ULL,
                v3 = 0x7465646279746573ULL;
  std::uint64_t tail = 0;
  std::uint64_t length = 0;

  void round() {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
  }
  void word(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
  void write(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
      tail |= static_cast<std::uint64_t>(b) << (8 * (length % 8));
      ++length;
      if (length % 8 == 0) {
        word(tail);
        tail = 0;
      }
    }
  }
  void write_u64(std::uint64_t v) {
    std::uint8_t le[8];
    for (int i = 0; i < 8; ++i) le[i] = static_cast<std::uint8_t>(v >> (8 * i));
    write(le);
  }
  std::uint64_t finish() {
    word(tail | (length & 0xFF) << 56);
    v2 ^= 0xFF;
    round(); round(); round();
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

}  // namespace

std::uint64_t siphash13(std::span<const std::uint8_t> bytes) {
  Sip s;
  s.write(bytes);
  return s.finish();
}

std::uint64_t image_content_hash(std::span<const std::uint8_t> bytes) {
  Sip s;
  const std::uint64_t len = bytes.size();
  s.write_u64(len);
  if (len <= 16384) {
    s.write_u64(len);
    s.write(bytes);
  } else {
    for (std::uint64_t k = 0; k < 8; ++k) {
      const std::uint64_t at = std::min(k * (len / 8), len - 512);
      s.write_u64(512);
      s.write(bytes.subspan(at, 512));
    }
  }
  return s.finish();
}

std::array<float, 16> ortho_rect(float x, float y, float w, float h, float W, float H) {
  std::array<float, 16> m{};
  m[0] = 2 * w / W;
  m[5] = 2 * h / H;
  m[10] = 1;
  m[12] = 2 * x / W - 1;
  m[13] = 1 - 2 * y / H - 2 * h / H;
  m[15] = 1;
  return m;
}

std::optional<AtlasPacker::Spot> AtlasPacker::place(std::uint32_t w, std::uint32_t h) {
  if (w + 1 > SIDE || h + 1 > SIDE) return std::nullopt;
  if (pen_x_ + w + 1 > SIDE) {
    pen_y_ += row_h_;
    pen_x_ = 0;
    row_h_ = 0;
  }
  if (pen_y_ + h + 1 > SIDE) return std::nullopt;
  Spot s{pen_x_, pen_y_};
  pen_x_ += w + 1;
  row_h_ = std::max(row_h_, h + 1);
  return s;
}

}  // namespace zem
