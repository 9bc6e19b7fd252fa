#pragma once
// Pieces several pages share beyond the frame in scaffolds.hpp: pictures
// fitted into a square, theme icons, plain text runs, the two button styles
// of dialogs, and the theme's logos.

#include "app/msg.hpp"
#include "app/toolkit.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace app::parts {

zem::Element flex();

// The picture with its larger side `size` px, or none for a missing or
// empty one.
std::optional<zem::Element> fitted(const zem::PicturePtr& pic, std::uint32_t size);
// An SVG document rendered at `size` px and fitted; none when it fails.
std::optional<zem::Element> svg_image(std::string_view svg, std::uint32_t size);
// The theme icon `name` at `px`, shown px x px; a flexible Spacer when the
// theme has no such icon.
zem::Element icon_or_flex(std::string_view name, std::uint32_t px);

zem::Text text(std::string s, float px, zem::Color c, zem::TextAlign align = zem::TextAlign::Start);

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
