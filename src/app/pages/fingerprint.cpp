#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Instructions only: these pages address no fingerprint reader and enrol
// nothing.

zem::Element fingerprint_step_row(std::uint32_t n, const std::string& text) {
    const zem::Palette pal = zem::theme::palette();
    zem::Row row;
    row.spacing = zem::Length::px(12);
    row.padding = zem::Length::px(12);
    row.children.push_back(parts::text(std::to_string(n), 15, pal.surface));
    row.children.push_back(parts::text(text, 15, pal.text_primary));
    return row;
}

zem::Element fingerprint_enroll_page(const InstallerApp& app) {
    using i18n::translate;
    const zem::Palette pal = zem::theme::palette();

    zem::Column steps = parts::centring_column(8, 16);
    steps.children.push_back(fingerprint_step_row(1, translate("security.fingerprint_step_1")));
    steps.children.push_back(fingerprint_step_row(2, translate("security.fingerprint_step_2")));
    steps.children.push_back(fingerprint_step_row(3, translate("security.fingerprint_step_3")));

    zem::Column content = parts::centring_column(24, 16);
    content.children.push_back(page_title(translate("security.fingerprint_register_title"), std::nullopt));
    content.children.push_back(parts::icon_or_flex("safety/fingerprint", 96));
    content.children.push_back(parts::text(translate("security.fingerprint_register_hint"), 14, pal.text_secondary,
                                           false, zem::TextAlign::Center));
    content.children.push_back(std::move(steps));

    zem::Column page = parts::centring_column(24, 24);
    page.children.push_back(page_header(Page::FingerprintEnroll, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(content)));
    page.children.push_back(parts::plain_button(translate("security.fingerprint_about"), Msg::Next{}));
    page.children.push_back(primary_button(translate("common.continue"), Msg::Next{}));
    page.children.push_back(parts::plain_button(translate("security.fingerprint_set_up_later"), Msg::SkipSecurity{}));
    return page_background(std::move(page));
}

zem::Element fingerprint_done_page(const InstallerApp& app) {
    using i18n::translate;
    zem::Column content = parts::centring_column(24, 16);
    content.children.push_back(parts::flex());
    content.children.push_back(parts::icon_or_flex("feedback/success", 64));
    content.children.push_back(
        page_title(translate("security.fingerprint_done_title"), translate("security.fingerprint_done_subtitle")));

    zem::Column page = parts::centring_column(24, 24);
    page.children.push_back(page_header(Page::FingerprintDone, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(content)));
    page.children.push_back(primary_button(translate("security.fingerprint_finish"), Msg::Next{}));
    page.children.push_back(
        parts::plain_button(translate("security.fingerprint_register_more"), Msg::RegisterMoreFingerprints{}));
    return page_background(std::move(page));
}

} // namespace app
