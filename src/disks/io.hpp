#pragma once
// Small helpers shared by the table codec and the disk edits.

#include <base/error.hpp>

#include <cstdint>
#include <cstring>
#include <expected>
#include <string>

namespace disks::io {

using base::errno_text;

// Whole-buffer positional read and write; a short read at the end of the
// device is an error.
[[nodiscard]] std::expected<void, std::string> read_at(int fd, void* buf, std::size_t len, std::uint64_t offset);
[[nodiscard]] std::expected<void, std::string> write_at(int fd, const void* buf, std::size_t len, std::uint64_t offset);

inline std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline std::uint64_t le64(const std::uint8_t* p) { return std::uint64_t(le32(p)) | std::uint64_t(le32(p + 4)) << 32; }
inline void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

inline std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
inline std::uint64_t sat_mul(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

} // namespace disks::io
