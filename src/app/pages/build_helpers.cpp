#include "app/pages/build_helpers.hpp"

#include "app/scaffolds.hpp"

#include <algorithm>
#include <span>

namespace app::pages {

zem::Text text(std::string s, float px, zem::Color color, bool wrap, zem::TextAlign align) {
    zem::Text t;
    t.text = std::move(s);
    t.size = zem::Length::px(px);
    t.color = color;
    t.line_height = 1.0f;
    t.wrap = wrap;
    t.truncate = true;
    t.align = align;
    return t;
}

zem::Element flex() { return zem::Spacer{}; }

zem::Element scroll(zem::Column content) {
    zem::Scroll s;
    s.axis = zem::ScrollAxis::Vertical;
    s.child = zem::Element(std::move(content));
    return s;
}

zem::Column centring_column(float spacing, float padding) {
    zem::Column c;
    c.center_x = true;
    c.center_y = false;
    c.hug = false;
    c.max_width.reset();
    c.spacing = zem::Length::px(spacing);
    c.padding = zem::Length::px(padding);
    return c;
}

zem::Element plain_button(const std::string& label, Msg press) {
    zem::Button b;
    b.content = label;
    b.on_press = send(std::move(press));
    b.style = zem::ButtonStyle::Plain;
    b.font_size = control_font();
    b.height = control_height();
    return b;
}

zem::TextEdit text_field(std::string_view value, const std::string& placeholder, zem::TextCallback on_change,
                         bool password) {
    zem::TextEdit e;
    e.placeholder = placeholder;
    e.value = zem::WipingString(value);
    e.on_change = std::move(on_change);
    e.font_size = control_font();
    e.height = control_height();
    e.rows = 1;
    e.multiline = false;
    e.password = password;
    e.caret_to_end = true;
    return e;
}

std::optional<zem::Image> svg_image(std::string_view svg, std::uint32_t size) {
    auto bytes = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(svg.data()), svg.size());
    auto pic = zem::theme::rasterize_svg(bytes, size);
    if (!pic || pic->width == 0 || pic->height == 0) return std::nullopt;
    const float m = static_cast<float>(std::max(pic->width, pic->height));
    const float s = static_cast<float>(size);
    zem::Image img;
    img.width = zem::Length::px(s * static_cast<float>(pic->width) / m);
    img.height = zem::Length::px(s * static_cast<float>(pic->height) / m);
    img.opacity = 1.0f;
    img.image = zem::ImageData::from(pic);
    return img;
}

zem::Element svg_or_flex(std::string_view svg, std::uint32_t size) {
    if (auto img = svg_image(svg, size)) return std::move(*img);
    return flex();
}

zem::Element icon_or_flex(std::string_view name, std::uint32_t size) {
    auto pic = zem::theme::icon(name, size);
    if (!pic) return flex();
    zem::Image img;
    img.width = zem::Length::px(static_cast<float>(size));
    img.height = zem::Length::px(static_cast<float>(size));
    img.opacity = 1.0f;
    img.image = zem::ImageData::from(pic);
    return img;
}

} // namespace app::pages
