#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Scaffold until the page is built in full: English only.
zem::Element language_page(const InstallerApp& app) {
    return scaffold_page(app, {.show_back = false,
                               .title_key = "language.title",
                               .forward = primary_button("English", Msg::PickLanguage{"en"})});
}

} // namespace app
