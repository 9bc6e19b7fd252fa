#include "app/scaffolds.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "i18n/translate.hpp"

namespace app {

namespace {

using parts::flex;
using parts::text;

// Which dot of how many a page lights, when it shows dots at all.
std::optional<std::pair<std::size_t, std::size_t>> dots_of(Page p, std::uint8_t step, bool configure) {
    switch (p) {
    case Page::GesturesTutorial:
    case Page::DockTutorial: return std::pair<std::size_t, std::size_t>{step == 0 ? 0 : 1, 2};
    default: break;
    }
    if (!configure) return std::nullopt;
    switch (p) {
    case Page::Welcome: return std::pair<std::size_t, std::size_t>{0, 6};
    case Page::Wifi: return std::pair<std::size_t, std::size_t>{1, 6};
    case Page::Navigation: return std::pair<std::size_t, std::size_t>{2, 6};
    case Page::Storage:
    case Page::Proton: return std::pair<std::size_t, std::size_t>{3, 6};
    case Page::Permissions: return std::pair<std::size_t, std::size_t>{4, 6};
    case Page::Security:
    case Page::FingerprintEnroll:
    case Page::FingerprintDone: return std::pair<std::size_t, std::size_t>{5, 6};
    default: return std::nullopt;
    }
}

} // namespace

zem::Length control_font() { return zem::Length::percent_height(2).with_min(12).with_max(14); }
zem::Length control_height() { return zem::Length::percent_height(5).with_min(24).with_max(40); }

zem::Element page_background(zem::Column content) {
    zem::Container c{zem::Element(std::move(content))};
    c.fill = zem::Paint{PAGE_GREY};
    c.radii = {};
    c.insets(zem::Length::px(0));
    return c;
}

zem::Element page_header(Page page, std::uint8_t step, bool show_back, bool configure) {
    const zem::Palette pal = zem::theme::palette();
    zem::Row row;
    row.spacing = zem::Length::px(8);
    row.padding = zem::Length::px(0);
    row.shrink = true;
    if (show_back) {
        zem::Row back;
        back.spacing = zem::Length::px(6);
        back.shrink = true;
        if (auto pic = zem::theme::icon("general/left", 16)) {
            zem::Image img;
            img.width = zem::Length::px(16);
            img.height = zem::Length::px(16);
            img.image = zem::ImageData::from(pic);
            back.children.push_back(std::move(img));
        } else {
            back.children.push_back(flex());
        }
        back.children.push_back(text(i18n::translate("common.back"), 15, pal.text_primary));
        zem::GestureArea g;
        g.on_tap = send(Msg::Back{});
        g.child = zem::Element(std::move(back));
        row.children.push_back(std::move(g));
    } else {
        row.children.push_back(flex());
    }
    if (auto d = dots_of(page, step, configure)) {
        row.children.push_back(flex());
        row.children.push_back(progress_dots(d->first, d->second));
    }
    return row;
}

zem::Element progress_dots(std::size_t index, std::size_t count) {
    const zem::Palette pal = zem::theme::palette();
    zem::Row row;
    row.spacing = zem::Length::px(6);
    row.shrink = true;
    for (std::size_t i = 0; i < count; ++i) {
        const bool current = i == index;
        zem::Spacer dot;
        dot.width = zem::Length::px(current ? 18 : 6);
        dot.height = zem::Length::px(6);
        zem::Container c{zem::Element(dot)};
        c.fill = zem::Paint{current ? pal.text_primary : pal.divider};
        c.radii = {3, 3, 3, 3};
        row.children.push_back(std::move(c));
    }
    return row;
}

zem::Element page_title(const std::string& title, const std::optional<std::string>& subtitle, bool live) {
    const zem::Palette pal = zem::theme::palette();
    zem::Column col;
    col.center_x = true;
    col.spacing = zem::Length::px(8);
    col.padding = zem::Length::px(16);
    zem::Text t = text(title, 26, pal.text_primary);
    // A title longer than the screen is wide (many languages' are) takes a
    // second line rather than losing its end.
    t.wrap = true;
    t.align = zem::TextAlign::Center;
    t.live = live;
    col.children.push_back(std::move(t));
    if (subtitle) {
        zem::Text s = text(*subtitle, 14, pal.text_secondary);
        s.wrap = true;
        s.align = zem::TextAlign::Center;
        col.children.push_back(std::move(s));
    }
    return col;
}

zem::Element primary_button(const std::string& label, std::optional<Msg> msg) {
    zem::Button b;
    b.content = label;
    if (msg) b.on_press = send(std::move(*msg));
    b.font_size = control_font();
    b.height = control_height();
    b.style = zem::ButtonStyle::Filled;
    zem::Row row;
    row.spacing = zem::Length::px(0);
    row.padding = zem::Length::px(0);
    row.children.push_back(std::move(b));
    return row;
}

zem::Element info_card(const std::optional<std::string>& heading, const std::vector<std::string>& lines,
                       bool live) {
    const zem::Palette pal = zem::theme::palette();
    zem::Column col;
    col.center_x = true;
    col.spacing = zem::Length::px(8);
    col.padding = zem::Length::px(16);
    // Sentences wrap: in most languages they are wider than the card.
    if (heading) col.children.push_back(text(*heading, 15, pal.text_primary, true));
    for (const std::string& l : lines) {
        zem::Text t = text(l, 15, pal.text_primary, true);
        t.live = live;
        col.children.push_back(std::move(t));
    }
    zem::Container c{zem::Element(std::move(col))};
    c.fill = zem::Paint{pal.surface};
    c.radii = {16, 16, 16, 16};
    return c;
}

zem::Element choice_row(const std::string& label, std::optional<std::span<const std::uint8_t>> svg, bool selected,
                        Msg msg) {
    const zem::Palette pal = zem::theme::palette();
    zem::Row row;
    row.spacing = zem::Length::px(8);
    row.padding = zem::Length::px(14);
    row.shrink = true;
    row.children.push_back(flex());
    if (svg) {
        if (auto pic = zem::theme::rasterize_svg(*svg, 20); pic && pic->width > 0 && pic->height > 0) {
            const float m = static_cast<float>(std::max(pic->width, pic->height));
            zem::Image img;
            img.width = zem::Length::px(20.0f * static_cast<float>(pic->width) / m);
            img.height = zem::Length::px(20.0f * static_cast<float>(pic->height) / m);
            img.image = zem::ImageData::from(pic);
            row.children.push_back(std::move(img));
        }
    }
    row.children.push_back(text(label, 15, pal.text_primary));
    row.children.push_back(flex());
    zem::Container c{zem::Element(std::move(row))};
    c.fill = zem::Paint{selected ? pal.accent : pal.surface};
    c.radii = {28, 28, 28, 28};
    zem::GestureArea g;
    g.on_tap = send(std::move(msg));
    g.child = zem::Element(std::move(c));
    return g;
}

zem::Element error_text(const std::string& s) {
    zem::Text t = text(s, 14, zem::theme::palette().danger);
    t.wrap = true;
    t.align = zem::TextAlign::Center;
    return t;
}

zem::Element scaffold_page(const InstallerApp& app, Scaffold s) {
    zem::Column col;
    col.center_x = true;
    col.spacing = zem::Length::px(24);
    col.padding = zem::Length::px(24);
    if (s.header) col.children.push_back(page_header(app.page, app.tutorial_step, s.show_back, app.configure));
    std::optional<std::string> sub;
    if (s.subtitle_key) sub = i18n::translate(*s.subtitle_key);
    col.children.push_back(page_title(i18n::translate(s.title_key), sub));
    for (auto& e : s.body) col.children.push_back(std::move(e));
    col.children.push_back(flex());
    if (s.forward) col.children.push_back(std::move(*s.forward));
    return page_background(std::move(col));
}

} // namespace app
