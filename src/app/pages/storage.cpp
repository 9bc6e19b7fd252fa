#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Scaffold until the page is built in full.
zem::Element storage_page(const InstallerApp& app) {
    return scaffold_page(app, {.title_key = "storage.title",
                               .subtitle_key = std::nullopt,
                               .forward = primary_button(i18n::translate("common.continue"), Msg::Next{})});
}

} // namespace app
