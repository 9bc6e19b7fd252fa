#include "app/pages/pages.hpp"

#include <algorithm>

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

namespace {

// Scaffold until the pages are built in full. While the end of the scenario
// runs the forward button waits; a failed account staging shows here and
// the button tries again.
zem::Element tutorial(const InstallerApp& app, const std::string& prefix) {
    const std::uint8_t s = std::min<std::uint8_t>(app.tutorial_step, 3);
    const std::string base = s == 0 ? prefix + ".intro" : prefix + ".step_" + std::to_string(s);
    const std::string cta = s == 0 ? prefix + ".intro_cta" : (s < 3 ? "common.next" : "common.done");
    std::vector<zem::Element> body;
    if (app.finish_error) body.push_back(error_text(*app.finish_error));
    if (app.finishing) {
        zem::Spinner spin;
        spin.color = zem::theme::palette().accent;
        body.push_back(spin);
    }
    std::optional<Msg> next;
    if (!app.finishing) next = Msg::Next{};
    zem::Column buttons;
    buttons.center_x = true;
    buttons.spacing = zem::Length::px(8);
    buttons.children.push_back(primary_button(i18n::translate(cta), std::move(next)));
    zem::Button skip;
    skip.content = i18n::translate("common.skip_tutorial");
    if (!app.finishing) skip.on_press = send(Msg::SkipTutorial{});
    skip.style = zem::ButtonStyle::Plain;
    skip.font_size = control_font();
    buttons.children.push_back(std::move(skip));
    return scaffold_page(app, {.title_key = base + "_title",
                               .subtitle_key = base + "_subtitle",
                               .body = std::move(body),
                               .forward = zem::Element(std::move(buttons))});
}

} // namespace

zem::Element gestures_tutorial_page(const InstallerApp& app) { return tutorial(app, "tutorial_gestures"); }
zem::Element dock_tutorial_page(const InstallerApp& app) { return tutorial(app, "tutorial_trovex"); }

} // namespace app
