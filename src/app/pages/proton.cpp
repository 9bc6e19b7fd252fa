#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <base/utf8.hpp>

namespace app {

// The form is complete with a name and an address that are more than white
// space and a password of at least 8 bytes, counted as typed.
bool proton_form_complete(const InstallerApp& app) {
    return !base::utf8::trim(app.proton_name).empty() && !base::utf8::trim(app.proton_email).empty() &&
           app.proton_password.size() >= 8;
}

zem::Element proton_page(const InstallerApp& app) {
    using i18n::translate;
    const bool complete = proton_form_complete(app);
    const zem::Palette pal = zem::theme::palette();
    auto label = [&](const char* key) { return parts::text(translate(key), 15, pal.text_primary); };

    zem::Column form = parts::centring_column(16, 16);
    auto& f = form.children;
    f.push_back(page_title(translate("proton.title"), translate("proton.subtitle")));
    f.push_back(label("proton.full_name"));
    f.push_back(parts::text_field(app.proton_name, translate("proton.full_name_ph"), text_to<Msg::SetProtonName>()));
    f.push_back(label("proton.email"));
    f.push_back(parts::text_field(app.proton_email, translate("proton.email_ph"), text_to<Msg::SetProtonEmail>()));
    f.push_back(label("proton.password"));
    // The one password here that can be shown: a sign-in password is typed
    // once, with no confirmation to catch a slip.
    zem::TextEdit pw =
        parts::text_field(app.proton_password, translate("proton.password_ph"), text_to<Msg::SetProtonPassword>(), true);
    pw.reveal = zem::Reveal{app.proton_password_visible, zem::Message(Msg{Msg::ToggleProtonPasswordVisible{}})};
    f.push_back(std::move(pw));
    f.push_back(parts::text(translate("proton.password_hint"), 12, pal.text_secondary));
    f.push_back(info_card(translate("proton.why_title"),
                          {translate("proton.why_1"), translate("proton.why_2"), translate("proton.why_3")}));
    f.push_back(parts::text(translate("proton.legal"), 12, pal.text_secondary, false, zem::TextAlign::Center));

    zem::Column page = parts::centring_column(16, 24);
    page.children.push_back(page_header(Page::Proton, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(form)));
    std::optional<Msg> submit;
    if (complete) submit = Msg::ProtonSubmit{};
    page.children.push_back(primary_button(translate("proton.submit"), std::move(submit)));
    page.children.push_back(parts::plain_button(translate("proton.skip"), Msg::ProtonSkip{}));
    return page_background(std::move(page));
}

} // namespace app
