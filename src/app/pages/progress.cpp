#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <zem/widgets/dialog.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace app {

namespace {

const char* phase_key(std::uint8_t phase) {
    switch (phase) {
    case 0: return "progress.phase_partition";
    case 1: return "progress.phase_format";
    case 2: return "progress.phase_copy";
    case 3: return "progress.phase_bootloader";
    default: return "progress.phase_finalize";
    }
}

// Seconds since the ring first turned in this process: it keeps its place
// across rebuilds and when the page is entered again.
float ring_phase() {
    static const auto epoch = std::chrono::steady_clock::now();
    return parts::seconds_since(epoch);
}

} // namespace

std::string percent_text(float fraction) {
    const float n = std::round(fraction * 100.0f); // halves away from zero
    std::uint32_t v = 0;
    if (std::isnan(n) || n <= 0.0f) v = 0;
    else if (n >= static_cast<float>(std::numeric_limits<std::uint32_t>::max()))
        v = std::numeric_limits<std::uint32_t>::max();
    else v = static_cast<std::uint32_t>(n);
    return std::to_string(v) + "%";
}

zem::Element progress_page(const InstallerApp& app) {
    const zem::Palette pal = zem::theme::palette();
    const bool held = app.install_phase != NO_INSTALL;
    const std::uint8_t phase = held ? app.install_phase : 0;
    const float fraction = held ? app.install_fraction : 0.0f;

    zem::Column content;
    content.spacing = zem::Length::px(24);
    content.padding = zem::Length::px(16);
    content.center_x = true;
    content.children.push_back(parts::flex());
    zem::Column ring;
    ring.spacing = zem::Length::px(8);
    ring.padding = zem::Length::px(16);
    ring.center_x = true;
    zem::Spinner spinner;
    spinner.color = pal.accent;
    spinner.size = 64;
    spinner.stroke = 4;
    spinner.phase = ring_phase();
    ring.children.push_back(spinner);
    content.children.push_back(std::move(ring));
    content.children.push_back(page_title(i18n::translate("progress.title"), i18n::translate("progress.subtitle")));
    zem::ProgressBar bar;
    bar.color = pal.accent;
    bar.value = std::isnan(fraction) ? 0.0f : std::clamp(fraction, 0.0f, 1.0f);
    content.children.push_back(bar);
    // The percentage and the step change while the user waits: a screen
    // reader announces each new one.
    zem::Text percent = parts::text(percent_text(fraction), 15, pal.text_primary, false, zem::TextAlign::Center);
    percent.live = true;
    content.children.push_back(std::move(percent));
    content.children.push_back(info_card(std::nullopt, {i18n::translate(phase_key(phase))}, true));
    content.children.push_back(parts::flex());

    zem::Column page;
    page.spacing = zem::Length::px(8);
    page.padding = zem::Length::px(24);
    page.center_x = true;
    page.children.push_back(parts::scroll(std::move(content)));
    page.children.push_back(parts::plain_button(i18n::translate("progress.cancel"), Msg::AskCancelInstall{}));
    zem::Element frame = page_background(std::move(page));
    if (!app.cancel_confirm_open) return frame;

    zem::Dialog d;
    d.title = i18n::translate("progress.cancel_confirm_title");
    d.subtitle = i18n::translate("progress.cancel_confirm_subtitle");
    d.max_width = parts::dialog_width();
    d.modal = true;
    d.on_escape = send(Msg::DismissCancelInstall{});
    d.actions.push_back(parts::plain_button(i18n::translate("progress.cancel_confirm_no"), Msg::DismissCancelInstall{}));
    d.actions.push_back(parts::filled_button(i18n::translate("progress.cancel_confirm_yes"), Msg::ConfirmCancelInstall{}));
    return parts::with_overlay(std::move(frame), std::move(d).into_element());
}

} // namespace app
