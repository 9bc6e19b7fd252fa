#include "app/pages/page_parts.hpp"

#include "app/scaffolds.hpp"

#include <base/files.hpp>
#include <base/utf8.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace app::parts {

namespace {

std::optional<std::string> read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::span<const std::uint8_t> as_bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

zem::Element button(const std::string& label, std::optional<Msg> msg, zem::ButtonStyle style) {
    zem::Button b;
    b.content = label;
    if (msg) b.on_press = send(std::move(*msg));
    b.font_size = control_font();
    b.height = control_height();
    b.style = style;
    return b;
}

} // namespace

float seconds_since(std::chrono::steady_clock::time_point epoch) {
    const auto d = std::max(std::chrono::steady_clock::duration::zero(), std::chrono::steady_clock::now() - epoch);
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(d);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d - s);
    return static_cast<float>(s.count()) + static_cast<float>(ns.count()) / 1.0e9f;
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

std::optional<zem::Element> fitted(const zem::PicturePtr& pic, std::uint32_t size) {
    if (!pic || pic->width == 0 || pic->height == 0) return std::nullopt;
    const float m = static_cast<float>(std::max(pic->width, pic->height));
    const float s = static_cast<float>(size);
    zem::Image img;
    img.width = zem::Length::px(s * static_cast<float>(pic->width) / m);
    img.height = zem::Length::px(s * static_cast<float>(pic->height) / m);
    img.image = zem::ImageData::from(pic);
    img.opacity = 1.0f;
    return img;
}

std::optional<zem::Element> svg_image(std::string_view svg, std::uint32_t size) {
    return fitted(zem::theme::rasterize_svg(as_bytes(svg), size), size);
}

zem::Element svg_or_flex(std::string_view svg, std::uint32_t size) {
    if (auto img = svg_image(svg, size)) return std::move(*img);
    return flex();
}

zem::Element icon_or_flex(std::string_view name, std::uint32_t px) {
    auto pic = zem::theme::icon(name, px);
    if (!pic) return flex();
    zem::Image img;
    img.width = zem::Length::px(static_cast<float>(px));
    img.height = zem::Length::px(static_cast<float>(px));
    img.image = zem::ImageData::from(pic);
    return img;
}

zem::Text text(std::string s, float px, zem::Color c, bool wrap, zem::TextAlign align) {
    zem::Text t;
    t.text = std::move(s);
    t.size = zem::Length::px(px);
    t.color = c;
    t.line_height = 1.0f;
    t.wrap = wrap;
    t.truncate = true;
    t.align = align;
    return t;
}

zem::Element plain_button(const std::string& label, std::optional<Msg> msg) {
    return button(label, std::move(msg), zem::ButtonStyle::Plain);
}

zem::Element filled_button(const std::string& label, std::optional<Msg> msg) {
    return button(label, std::move(msg), zem::ButtonStyle::Filled);
}

zem::Element with_overlay(zem::Element page, zem::Element overlay) {
    zem::Stack s;
    s.push(std::move(page), zem::Align::Stretch, zem::Align::Stretch, 0.0f);
    s.push(std::move(overlay), zem::Align::Stretch, zem::Align::Stretch, 0.0f);
    return s;
}

zem::Length dialog_width() { return zem::Length::responsive(480); }

std::optional<zem::Element> branding_logo_square(std::uint32_t size) {
    auto path = zem::theme::logo_square_path();
    if (!path) path = zem::theme::logo_path();
    if (!path) return std::nullopt;
    auto svg = read_bytes(*path);
    if (!svg || !base::utf8::is_valid(*svg)) return std::nullopt;
    // Only this exact spelling is the logo's dark ink; the splash shows it
    // white on navy whatever the theme mode.
    static constexpr std::string_view dark = "fill=\"#0A1421\"";
    static constexpr std::string_view white = "fill=\"#FFFFFF\"";
    for (std::size_t at = svg->find(dark); at != std::string::npos; at = svg->find(dark, at + white.size()))
        svg->replace(at, dark.size(), white);
    return svg_image(*svg, size);
}

std::optional<zem::Element> branding_logo(std::uint32_t size) {
    auto path = zem::theme::logo_path();
    if (!path) return std::nullopt;
    auto bytes = read_bytes(*path);
    if (!bytes) return std::nullopt;
    return svg_image(*bytes, size);
}

} // namespace app::parts
