#include "app/pages/pages.hpp"

#include <algorithm>

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Scaffold until the page is built in full: the bar only; the poll moves on.
zem::Element progress_page(const InstallerApp& app) {
    zem::ProgressBar bar;
    bar.color = zem::theme::palette().accent;
    bar.value = std::clamp(app.install_fraction, 0.0f, 1.0f);
    std::vector<zem::Element> body;
    body.push_back(std::move(bar));
    return scaffold_page(app, {.header = false,
                               .title_key = "progress.title",
                               .subtitle_key = "progress.subtitle",
                               .body = std::move(body)});
}

} // namespace app
