// Shows one wizard page as the real toolkit draws it, over recording
// effects (no daemon, no disks, no nmcli), for screenshot tests:
//
//   wizard-page-shot PAGE LOCALE [configure]
//
// PAGE is a page number; the progress page is held at the copy phase.

#include "app/installer_app.hpp"
#include "app/toolkit.hpp"
#include "i18n/translate.hpp"
#include "support/wizard_effects.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wizard-page-shot PAGE LOCALE [configure]\n");
        return 2;
    }
    const int page = std::atoi(argv[1]);
    const std::string locale = argv[2];
    const bool configure = argc > 3 && std::string(argv[3]) == "configure";
    auto theme = zem::theme::load_theme("default");
    if (!theme) return 101;
    zem::theme::set_active(std::move(*theme));
    zem::theme::set_dark_mode(false);
    i18n::set_locale(locale);

    auto fx = std::make_shared<support::RecordingEffects>();
    fx->home = true;
    fx->networks = {{"Home", true, 4}, {"Café:Lab", false, 3}, {"Neighbour 5G", true, 1}};
    fx->disks = {support::make_disk("/dev/sda", 64ull << 30, {})};
    app::InstallerApp a(app::WindowSize{412, 915}, true, configure, fx);
    a.locale = locale;
    if (page == static_cast<int>(app::Page::Progress)) {
        a.update(app::Msg::SelectDisk{0});
        a.set_page(app::Page::Progress);
        fx->last_handle->update([](install::InstallSnapshot& s) {
            s.phase = ipc::InstallPhase::Copy;
            s.fraction = 0.42f;
        });
    } else {
        a.update(app::Msg::GoTo{static_cast<std::uint8_t>(page), 0});
    }
    zem::run(std::move(a));
    return 0;
}
