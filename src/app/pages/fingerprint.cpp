#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Scaffolds until the pages are built in full.
zem::Element fingerprint_enroll_page(const InstallerApp& app) {
    return scaffold_page(app, {.title_key = "security.fingerprint_register_title",
                               .forward = primary_button(i18n::translate("common.continue"), Msg::Next{})});
}

zem::Element fingerprint_done_page(const InstallerApp& app) {
    return scaffold_page(app, {.title_key = "security.fingerprint_done_title",
                               .subtitle_key = "security.fingerprint_done_subtitle",
                               .forward = primary_button(i18n::translate("security.fingerprint_finish"), Msg::Next{})});
}

} // namespace app
