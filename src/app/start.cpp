#include "app/start.hpp"

#include "app/installer_app.hpp"
#include "app/toolkit.hpp"
#include "i18n/translate.hpp"
#include "kiosk/kiosk.hpp"

#include <cstdio>

namespace app {

int run_wizard(const cli::Cli& cli, cli::Scenario scenario) {
    auto theme = zem::theme::load_theme("default");
    if (!theme) {
        std::fprintf(stderr,
                     "zem: the `default` theme is required (install `zem-theme-default` or set `ZEM_THEMES_DIR`): "
                     "%s\n",
                     theme.error().debug().c_str());
        return 101;
    }
    zem::theme::set_active(std::move(*theme));
    zem::theme::set_dark_mode(false);
    i18n::set_locale("en");
    kiosk::set_kiosk(true);
    auto fx = real_effects();
    InstallerApp app(cli.window_size, cli.test, scenario == cli::Scenario::Configure, fx);
    // A start-up failure inside ends the process with 101; kiosk mode then
    // stays on, as the session has nothing else to show.
    zem::run(std::move(app));
    kiosk::set_kiosk(false);
    // An install reader or another worker may still run: end without the
    // static destructors it could race.
    fx->end_process(0);
    return 0;
}

} // namespace app
