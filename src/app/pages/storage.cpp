#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/artwork.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <span>

namespace app {

namespace {

std::span<const std::uint8_t> bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

} // namespace

// No continue button: a choice is recorded and leaves the page at once.
zem::Element storage_page(const InstallerApp& app) {
    using i18n::translate;
    const zem::Palette pal = zem::theme::palette();
    auto caption = [&](const char* key) {
        return parts::text(translate(key), 12, pal.text_secondary, true, zem::TextAlign::Center);
    };

    zem::Column content = parts::centring_column(24, 16);
    auto& c = content.children;
    c.push_back(page_title(translate("storage.title"), std::nullopt));
    c.push_back(caption("storage.recommended"));
    c.push_back(choice_row(translate("storage.local"), std::nullopt, app.storage == 0, Msg::SetStorage{0}));
    c.push_back(caption("storage.external_hint"));
    c.push_back(choice_row(translate("storage.proton"), bytes(art::PROTON_MARK), app.storage == 1, Msg::SetStorage{1}));
    c.push_back(choice_row(translate("storage.dropbox"), bytes(art::DROPBOX_MARK), app.storage == 2, Msg::SetStorage{2}));

    zem::Column page = parts::centring_column(24, 24);
    page.children.push_back(page_header(Page::Storage, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(content)));
    return page_background(std::move(page));
}

} // namespace app
