#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"

#include <zem/widgets/divider_paint.hpp>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace app {

namespace {

// Each language under its own name, in its own script; the order never
// follows the current language.
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> LANGUAGES = {{
    {"en", "English"},
    {"es", "Español"},
    {"zh", "中文"},
    {"hi", "हिन्दी"},
    {"fr", "Français"},
    {"de", "Deutsch"},
    {"pt", "Português"},
    {"ja", "日本語"},
    {"ru", "Русский"},
    {"ko", "한국어"},
}};

// A cyan disc with a translation glyph: an ideogram beside a Latin A.
constexpr std::string_view EMBLEM = R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="56" height="56" viewBox="0 0 56 56" fill="none">
<rect width="56" height="56" rx="28" fill="#04D9FE"/>
<defs><clipPath id="glyph"><rect x="12" y="12" width="32" height="32"/></clipPath></defs>
<g clip-path="url(#glyph)" fill="#0A032E">
<path d="M14.5 16.5h12v2.4h-4.6c-.5 2.9-1.6 5.5-3.3 7.7 1.4 1.2 3.1 2.2 5 2.9l-.9 2.2c-2.1-.8-4-1.9-5.6-3.3-1.6 1.4-3.5 2.5-5.7 3.3l-.9-2.2c1.9-.7 3.6-1.6 5-2.8-1.1-1.4-2-3-2.6-4.7h2.5c.4 1.1 1 2.1 1.7 3 1.2-1.6 2-3.6 2.4-6.1h-5V16.5z"/>
<path d="M19.3 13.5h2.4v3h-2.4z"/>
<path d="M33.2 22.5h2.9l6.2 17.5h-2.7l-1.6-4.6h-6.8L29.6 40h-2.6l6.2-17.5zm-1.2 10.6h5.3l-2.6-7.7h-.1l-2.6 7.7z"/>
</g>
</svg>)svg";

} // namespace

zem::Element language_page(const InstallerApp& app) {
    const zem::Palette pal = zem::theme::palette();
    const auto [w, h] = app.layout_size;

    zem::Column page;
    page.spacing = zem::Length::px(24);
    page.padding = zem::Length::px(24);
    page.center_x = true;
    if (w > h) page.max_width = zem::Length::px(0.4f * static_cast<float>(w));
    page.children.push_back(page_header(Page::Language, 0, false, app.configure));

    const auto emblem_px = static_cast<std::uint32_t>(static_cast<float>(std::min(w, h)) * 0.12f);
    page.children.push_back(parts::svg_image(EMBLEM, emblem_px).value_or(parts::flex()));

    zem::Column list;
    list.spacing = zem::Length::px(0);
    list.padding = zem::Length::px(16);
    list.center_x = true;
    for (std::size_t i = 0; i < LANGUAGES.size(); ++i) {
        const auto& [code, name] = LANGUAGES[i];
        if (i > 0) list.children.push_back(zem::theme::divider_paint());
        zem::Row row;
        row.spacing = zem::Length::px(16);
        row.padding = zem::Length::px(14);
        row.children.push_back(parts::text(std::string(name), 15, pal.text_primary));
        row.children.push_back(parts::flex());
        row.children.push_back(parts::icon_or_flex("general/right", 13));
        zem::GestureArea press;
        press.on_tap = send(Msg::PickLanguage{std::string(code)});
        press.child = zem::Element(std::move(row));
        list.children.push_back(std::move(press));
    }
    page.children.push_back(parts::scroll(std::move(list)));
    return page_background(std::move(page));
}

} // namespace app
