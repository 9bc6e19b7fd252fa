#pragma once
// Sizes in bytes.

#include <cstdint>

namespace base {

inline constexpr std::uint64_t KIB = 1024;
inline constexpr std::uint64_t MIB = 1024 * KIB;
inline constexpr std::uint64_t GIB = 1024 * MIB;

}  // namespace base
