#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"
#include "install/preflight.hpp"

namespace app {

namespace {

using i18n::translate;

// The encryption switch with its title taking the width the switch leaves.
zem::Element encryption_row(const InstallerApp& app, const zem::Palette& pal) {
    zem::Row row;
    row.spacing = zem::Length::px(12);
    row.padding = zem::Length::px(0);
    zem::Expanded title;
    title.weight = 1;
    title.child = zem::Element(parts::text(translate("account.encrypt_title"), 15, pal.text_primary));
    row.children.push_back(std::move(title));
    zem::Switch sw;
    sw.on = app.encrypt;
    sw.on_toggle = send(Msg::ToggleEncrypt{});
    sw.height = control_height();
    row.children.push_back(std::move(sw));
    zem::Container pad{zem::Element(std::move(row))};
    pad.fill.reset();
    pad.border.reset();
    pad.radii = {};
    pad.opacity = 1.0f;
    pad.top = pad.bottom = zem::Length::px(8);
    pad.left = pad.right = zem::Length::px(0);
    return pad;
}

} // namespace

zem::Element account_page(const InstallerApp& app) {
    const zem::Palette pal = zem::theme::palette();
    const bool valid = install::account_form_valid({app.username, app.hostname, app.password, app.password_confirm});
    const bool masked = !app.password_visible;

    zem::Column form = parts::centring_column(16, 16);
    auto& f = form.children;
    f.push_back(page_title(translate("account.title"), translate("account.subtitle")));
    // Each refusal sits right under the field it is about.
    f.push_back(parts::text(translate("account.username"), 15, pal.text_primary));
    f.push_back(parts::text_field(app.username, translate("account.username_ph"), text_to<Msg::SetUsername>()));
    if (!app.username.empty() && !install::username_valid(app.username))
        f.push_back(parts::text(translate("account.username_hint"), 12, pal.text_secondary));
    f.push_back(parts::text(translate("account.hostname"), 15, pal.text_primary));
    f.push_back(parts::text_field(app.hostname, translate("account.hostname_ph"), text_to<Msg::SetHostname>()));
    f.push_back(parts::text(translate("account.password"), 15, pal.text_primary));
    f.push_back(parts::text_field(app.password, translate("account.password_ph"), text_to<Msg::SetPassword>(), masked));
    f.push_back(parts::text(translate("account.password_confirm"), 15, pal.text_primary));
    f.push_back(parts::text_field(app.password_confirm, translate("account.password_confirm_ph"),
                                  text_to<Msg::SetPasswordConfirm>(), masked));
    if (!app.password_confirm.empty() && app.password_confirm != app.password)
        f.push_back(parts::text(translate("account.password_mismatch"), 12, pal.text_secondary));
    f.push_back(encryption_row(app, pal));
    f.push_back(parts::text(translate("account.encrypt_hint"), 12, pal.text_secondary, true));
    if (app.encrypt && !app.tpm_present)
        f.push_back(parts::text(translate("account.encrypt_no_tpm"), 12, pal.danger, true));

    zem::Column page = parts::centring_column(16, 24);
    page.children.push_back(page_header(Page::Account, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(form)));
    std::optional<Msg> next;
    if (valid) next = Msg::Next{};
    page.children.push_back(primary_button(translate("common.continue"), std::move(next)));
    return page_background(std::move(page));
}

} // namespace app
