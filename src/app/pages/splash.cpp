#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"

#include <algorithm>

namespace app {

// The logo white on navy, in the middle of the window; the poll moves on
// after three seconds.
zem::Element splash_page(const InstallerApp& app) {
    const auto [w, h] = app.layout_size;
    zem::Column col;
    col.spacing = zem::Length::px(16);
    col.padding = zem::Length::px(24);
    col.center_x = true;
    col.center_y = true;
    col.children.push_back(parts::flex());
    const auto size = static_cast<std::uint32_t>(static_cast<float>(std::min(w, h)) * 0.4f);
    col.children.push_back(parts::branding_logo_square(size).value_or(parts::flex()));
    col.children.push_back(parts::flex());

    zem::Container c{zem::Element(std::move(col))};
    c.fill = zem::Paint{zem::Color{10.0f / 255.0f, 3.0f / 255.0f, 46.0f / 255.0f, 1.0f}};
    c.radii = {};
    c.insets(zem::Length::px(0));
    return c;
}

} // namespace app
