#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/artwork.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <algorithm>
#include <array>

namespace app {

namespace {

struct Entry {
    std::string_view svg;
    const char* title;
    const char* subtitle;
    const char* cta;
};

constexpr std::array<Entry, 4> GESTURES = {{
    {art::TUTORIAL_G0, "tutorial_gestures.intro_title", "tutorial_gestures.intro_subtitle", "tutorial_gestures.intro_cta"},
    {art::TUTORIAL_G1, "tutorial_gestures.step_1_title", "tutorial_gestures.step_1_subtitle", "common.next"},
    {art::TUTORIAL_G2, "tutorial_gestures.step_2_title", "tutorial_gestures.step_2_subtitle", "common.next"},
    {art::TUTORIAL_G3, "tutorial_gestures.step_3_title", "tutorial_gestures.step_3_subtitle", "common.done"},
}};

constexpr std::array<Entry, 4> DOCK = {{
    {art::TUTORIAL_D0, "tutorial_trovex.intro_title", "tutorial_trovex.intro_subtitle", "tutorial_trovex.intro_cta"},
    {art::TUTORIAL_D1, "tutorial_trovex.step_1_title", "tutorial_trovex.step_1_subtitle", "common.next"},
    {art::TUTORIAL_D2, "tutorial_trovex.step_2_title", "tutorial_trovex.step_2_subtitle", "common.next"},
    {art::TUTORIAL_D3, "tutorial_trovex.step_3_title", "tutorial_trovex.step_3_subtitle", "common.done"},
}};

std::uint32_t minus(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : 0; }

zem::Element tutorial(const InstallerApp& app, bool dock) {
    using i18n::translate;
    const zem::Palette pal = zem::theme::palette();
    const std::uint8_t step = app.tutorial_step;
    const Entry& e = (dock ? DOCK : GESTURES)[std::min<std::uint8_t>(step, 3)];
    const std::uint32_t s = tutorial_picture_size(app.layout_size, dock, step);

    zem::Column content = parts::centring_column(24, 16);
    auto& c = content.children;
    c.push_back(parts::svg_or_flex(e.svg, s));
    if (step == 0) {
        if (!dock) c.push_back(parts::flex());
    } else {
        c.push_back(parts::text(std::to_string(step), 12, pal.text_primary, false, zem::TextAlign::Center));
    }
    c.push_back(page_title(translate(e.title), translate(e.subtitle)));
    if (dock && step == 0)
        c.push_back(info_card(std::nullopt, {translate("tutorial_trovex.intro_bullet_1"),
                                             translate("tutorial_trovex.intro_bullet_2"),
                                             translate("tutorial_trovex.intro_bullet_3")}));

    zem::Column page = parts::centring_column(24, 24);
    page.children.push_back(page_header(dock ? Page::DockTutorial : Page::GesturesTutorial, step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(content)));
    // The last press of the scenario stages the account: while that runs
    // both buttons wait, and a failure stays on the page until retried.
    if (app.finish_error) page.children.push_back(error_text(*app.finish_error));
    if (app.finishing) {
        zem::Spinner spin;
        spin.color = pal.accent;
        page.children.push_back(spin);
    }
    std::optional<Msg> next;
    if (!app.finishing) next = Msg::Next{};
    page.children.push_back(primary_button(translate(e.cta), std::move(next)));
    zem::Button skip;
    skip.content = translate("common.skip_tutorial");
    if (!app.finishing) skip.on_press = send(Msg::SkipTutorial{});
    skip.style = zem::ButtonStyle::Plain;
    skip.font_size = control_font();
    skip.height = control_height();
    page.children.push_back(std::move(skip));
    return page_background(std::move(page));
}

} // namespace

std::uint32_t tutorial_picture_size(WindowSize window, bool dock, std::uint8_t step) {
    const auto [w, h] = window;
    const std::uint32_t room = dock && step == 0 ? minus(h, 590) : minus(h, 440);
    const std::uint32_t cap = dock ? 520 : 420;
    return std::max<std::uint32_t>(std::min({minus(w, 48), room, cap}), 96);
}

zem::Element gestures_tutorial_page(const InstallerApp& app) { return tutorial(app, false); }
zem::Element dock_tutorial_page(const InstallerApp& app) { return tutorial(app, true); }

} // namespace app
