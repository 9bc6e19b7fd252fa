#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Scaffold until the page is built in full. A refused restart stays on this
// page with its reason.
zem::Element finish_page(const InstallerApp& app) {
    std::vector<zem::Element> body;
    if (app.finish_error) body.push_back(error_text(*app.finish_error));
    if (app.configure)
        return scaffold_page(app, {.header = false,
                                   .title_key = "finish.title",
                                   .subtitle_key = "finish.subtitle",
                                   .body = std::move(body),
                                   .forward = primary_button(i18n::translate("finish.cta"), Msg::FinishContinue{})});
    return scaffold_page(app, {.header = false,
                               .title_key = "finish.install_title",
                               .subtitle_key = "finish.install_subtitle",
                               .body = std::move(body),
                               .forward = primary_button(i18n::translate("finish.install_cta"), Msg::Reboot{})});
}

} // namespace app
