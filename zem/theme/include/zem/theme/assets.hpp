#pragma once
// Branding images and icons of the active theme, SVG rasterising and tinting.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include <zem/theme/color.hpp>
#include <zem/theme/picture.hpp>

namespace zem::theme {

// Rasterising refuses sizes whose pixel buffer would be larger than this.
inline constexpr std::size_t max_raster_bytes = 64u * 1024u * 1024u;

// "branding/<mode>/<stem>.<ext>", then the other mode's folder, then
// "branding/<stem>.<ext>" of the active theme's directory.
std::optional<std::filesystem::path> branding_asset(std::string_view stem, std::string_view extension);
std::optional<std::filesystem::path> logo_path();
std::optional<std::filesystem::path> logo_square_path();

// "icons/catalogue/filled/<name>.svg", else the same under "line".
std::optional<std::filesystem::path> icon_path(std::string_view name);

// The named icon rendered with its larger side at size pixels; cached per file
// and size until the active theme changes.
PicturePtr icon(std::string_view name, std::uint32_t size);

// Renders SVG (plain or gzip-compressed) with its larger side at size pixels;
// none for size 0, a document that does not parse or render, or a buffer above
// max_raster_bytes. Never cached.
PicturePtr rasterize_svg(std::span<const std::uint8_t> bytes, std::uint32_t size);

// Recolours straight RGBA: every pixel takes the tint's colour, and its alpha
// becomes tint alpha × pixel alpha. A trailing partial pixel is dropped.
std::vector<std::uint8_t> tint_rgba(std::span<const std::uint8_t> rgba, Color tint);

// Empties the rendered-icon cache.
void clear_icon_cache();

}  // namespace zem::theme
