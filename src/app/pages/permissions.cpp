#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/artwork.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <zem/widgets/divider_paint.hpp>

#include <array>

namespace app {

namespace {

struct PermissionRow {
    const char* title;
    const char* sub;
    std::string_view icon;
};

// In display order; a row's index is also the flag it shows and the payload
// its switch sends.
constexpr std::array<PermissionRow, 4> ROWS = {{
    {"permissions.location_title", "permissions.location_sub", art::LOCATION_MARK},
    {"permissions.microphone_title", "permissions.microphone_sub", art::MICROPHONE_MARK},
    {"permissions.camera_title", "permissions.camera_sub", art::CAMERA_MARK},
    {"permissions.notifications_title", "permissions.notifications_sub", art::BELL_MARK},
}};

zem::Element permission_row(const InstallerApp& app, std::uint8_t i, const zem::Palette& pal) {
    using i18n::translate;
    zem::Column texts = parts::centring_column(2, 16);
    zem::Text title = parts::text(translate(ROWS[i].title), 15, pal.text_primary, true);
    title.font_weight(700);
    texts.children.push_back(std::move(title));
    texts.children.push_back(parts::text(translate(ROWS[i].sub), 12, pal.text_secondary, true));
    zem::Expanded middle;
    middle.weight = 1;
    middle.child = zem::Element(std::move(texts));

    zem::Switch sw;
    sw.on = app.permissions[i];
    sw.on_toggle = send(Msg::TogglePermission{i});
    sw.height = control_height();

    zem::Row row;
    row.spacing = zem::Length::px(16);
    row.padding = zem::Length::px(0);
    row.children.push_back(parts::svg_or_flex(ROWS[i].icon, 24));
    row.children.push_back(std::move(middle));
    row.children.push_back(std::move(sw));

    zem::Container pad{zem::Element(std::move(row))};
    pad.fill.reset();
    pad.border.reset();
    pad.radii = {};
    pad.opacity = 1.0f;
    pad.top = pad.bottom = zem::Length::percent_height(1.25f).with_min(4).with_max(12);
    pad.left = pad.right = zem::Length::px(12);
    return pad;
}

} // namespace

zem::Element permissions_page(const InstallerApp& app) {
    using i18n::translate;
    const zem::Palette pal = zem::theme::palette();

    zem::Column list = parts::centring_column(0, 16);
    for (std::uint8_t i = 0; i < ROWS.size(); ++i) {
        if (i > 0) list.children.push_back(zem::theme::divider_paint());
        list.children.push_back(permission_row(app, i, pal));
    }

    zem::Column content = parts::centring_column(24, 16);
    content.children.push_back(page_title(translate("permissions.title"), translate("permissions.subtitle")));
    content.children.push_back(std::move(list));
    content.children.push_back(info_card(translate("permissions.card_title"),
                                         {translate("permissions.card_1"), translate("permissions.card_2"),
                                          translate("permissions.card_3")}));

    zem::Column page = parts::centring_column(24, 24);
    page.children.push_back(page_header(Page::Permissions, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(content)));
    page.children.push_back(primary_button(translate("common.continue"), Msg::Next{}));
    return page_background(std::move(page));
}

} // namespace app
