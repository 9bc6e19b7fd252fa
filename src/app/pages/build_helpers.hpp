#pragma once
// Small builders the configure scenario's pages share: plain texts, the
// plain-style secondary button, the form's text fields, the vertical scroll
// that takes a page's free height, and pictures drawn from SVG held in the
// program.

#include "app/msg.hpp"
#include "app/toolkit.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app::pages {

// A one-run Text: no font family, line-height 1.0, cut with "..." when too wide.
zem::Text text(std::string s, float px, zem::Color color, bool wrap = false,
               zem::TextAlign align = zem::TextAlign::Start);

// A flexible Spacer of weight 1.
zem::Element flex();

// A vertical Scroll around `content`; in a page Column it takes the height
// left by the other children.
zem::Element scroll(zem::Column content);

// A Column with children centred horizontally.
zem::Column centring_column(float spacing, float padding);

// The plain (text only) button with one press message, as tall and with as
// large a label as the other controls.
zem::Element plain_button(const std::string& label, Msg press);

// A single-line text field: the whole new text goes to `on_change`.
zem::TextEdit text_field(std::string_view value, const std::string& placeholder, zem::TextCallback on_change,
                         bool password = false);

// `svg` rasterised with its larger side at `size` pixels and shown at that
// size with its proportions kept; nothing when it does not render.
std::optional<zem::Image> svg_image(std::string_view svg, std::uint32_t size);

// The same, or a flexible Spacer in its place.
zem::Element svg_or_flex(std::string_view svg, std::uint32_t size);

// A theme icon at `size` x `size` pixels, or a flexible Spacer in its place.
zem::Element icon_or_flex(std::string_view name, std::uint32_t size);

} // namespace app::pages
