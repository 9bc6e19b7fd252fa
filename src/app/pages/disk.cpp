#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Scaffold until the page is built in full: whole disks only, enough to walk
// through an install.
zem::Element disk_page(const InstallerApp& app) {
    std::vector<zem::Element> body;
    if (app.error) body.push_back(error_text(*app.error));
    for (std::size_t i = 0; i < app.disk_rows.size(); ++i) {
        const auto* whole = std::get_if<TargetSelection::WholeDisk>(&app.target.kind);
        const bool selected = whole != nullptr && install::same_path(whole->disk, app.disk_rows[i].path);
        body.push_back(choice_row(app.disk_rows[i].label, std::nullopt, selected, Msg::SelectDisk{i}));
    }
    std::optional<Msg> next;
    if (!is_none(app.target)) next = Msg::Next{};
    return scaffold_page(app, {.title_key = "disk.title",
                               .subtitle_key = "disk.subtitle",
                               .body = std::move(body),
                               .forward = primary_button(i18n::translate("common.continue"), std::move(next))});
}

} // namespace app
