#pragma once
// Pieces several pages share beyond the frame in scaffolds.hpp: plain text
// runs, pictures fitted into a square (from SVG held in the program or the
// theme's icons and logos), the form's text fields, the vertical scroll that
// takes a page's free height, and the button styles of pages and dialogs.

#include "app/msg.hpp"
#include "app/toolkit.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace app::parts {

// Seconds from `epoch` to now as a float that keeps sub-millisecond steps
// however long the program runs (whole seconds and the rest converted
// apart); 0 if the clock is behind it. Turning rings take their phase
// from it.
float seconds_since(std::chrono::steady_clock::time_point epoch);

// A flexible Spacer of weight 1.
zem::Element flex();

// A vertical Scroll around `content`; in a page Column it takes the height
// left by the other children.
zem::Element scroll(zem::Column content);

// A Column with children centred horizontally.
zem::Column centring_column(float spacing, float padding);

// A single-line text field: the whole new text goes to `on_change`.
zem::TextEdit text_field(std::string_view value, const std::string& placeholder, zem::TextCallback on_change,
                         bool password = false);

// The picture with its larger side `size` px, or none for a missing or
// empty one.
std::optional<zem::Element> fitted(const zem::PicturePtr& pic, std::uint32_t size);
// An SVG document rendered at `size` px and fitted; none when it fails.
std::optional<zem::Element> svg_image(std::string_view svg, std::uint32_t size);
// The theme icon `name` at `px`, shown px x px; a flexible Spacer when the
// theme has no such icon.
zem::Element icon_or_flex(std::string_view name, std::uint32_t px);
// The SVG picture, or a flexible Spacer in its place.
zem::Element svg_or_flex(std::string_view svg, std::uint32_t size);

// A one-run Text: no font family, line-height 1.0, cut with "..." when too
// wide.
zem::Text text(std::string s, float px, zem::Color c, bool wrap = false,
               zem::TextAlign align = zem::TextAlign::Start);

// Dialog and page buttons: control-sized, as wide as their label.
zem::Element plain_button(const std::string& label, std::optional<Msg> msg);
zem::Element filled_button(const std::string& label, std::optional<Msg> msg);

// Two layers over each other, both filling the page: the page, then a dialog.
zem::Element with_overlay(zem::Element page, zem::Element overlay);

// The dialogs' width: 480 px at a 412 px smaller window side, scaled with
// it, held within 336..720 px.
zem::Length dialog_width();

// The theme's square logo drawn white (its "#0A1421" fills), else its plain
// logo likewise; none when neither reads and renders.
std::optional<zem::Element> branding_logo_square(std::uint32_t size);
// The theme's logo in its own colours; none when it does not read or render.
std::optional<zem::Element> branding_logo(std::uint32_t size);

} // namespace app::parts
