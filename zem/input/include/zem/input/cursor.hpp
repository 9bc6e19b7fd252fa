#pragma once
// Cursor shapes as the cursor-shape protocol numbers them.
//
// Elements and hit regions carry `CursorShape`, which counts from 0 for the
// default arrow (the protocol's value minus one, with `None` meaning "no
// override"). Only protocol values ever go on the wire, and the shell
// remembers only protocol values, so the conversion happens here, once.

#include <cstdint>

#include <zem/widgets/kind.hpp>

namespace zem::cursor {

// No shape sent yet on this pointer entry: 0 is outside the protocol's
// range (1..34), so it never equals a shape we would send.
inline constexpr std::uint32_t kNoShapeSent = 0;

inline constexpr std::uint32_t kDefault = 1;
inline constexpr std::uint32_t kGrabbing = 17;
inline constexpr std::uint32_t kEResize = 18;
inline constexpr std::uint32_t kNResize = 19;
inline constexpr std::uint32_t kNeResize = 20;
inline constexpr std::uint32_t kNwResize = 21;
inline constexpr std::uint32_t kSResize = 22;
inline constexpr std::uint32_t kSeResize = 23;
inline constexpr std::uint32_t kSwResize = 24;
inline constexpr std::uint32_t kWResize = 25;

// The protocol value for a region's shape: stored + 1; "no override" is
// the default arrow.
std::uint32_t protocol_value(CursorShape shape);

// The resize shape for a pointer at (x, y) near the border of a w × h
// window (buffer pixels, border `margin` wide), or none inside.
std::uint32_t edge_shape(float x, float y, float w, float h, float margin);

// The xdg_toplevel resize edge under (x, y) in a w × h window with a border
// `margin` wide (buffer pixels), or 0 when the point is inside.
std::uint32_t resize_edge(float x, float y, float w, float h, float margin);

}  // namespace zem::cursor
