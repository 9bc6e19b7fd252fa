#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

namespace {

// A teal disc with a soft rim, a drop shadow and a white check mark.
constexpr std::string_view CHECK = R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="122" height="122" viewBox="0 0 122 122" fill="none">
<defs>
<filter id="shade" x="0" y="0" width="122" height="122" filterUnits="userSpaceOnUse" color-interpolation-filters="sRGB">
<feFlood flood-opacity="0" result="none"/>
<feColorMatrix in="SourceAlpha" type="matrix" values="0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 127 0" result="alpha"/>
<feOffset dy="2"/>
<feGaussianBlur stdDeviation="4.5"/>
<feColorMatrix type="matrix" values="0 0 0 0 0.2 0 0 0 0 0.2 0 0 0 0 0.2 0 0 0 0.25 0"/>
<feBlend mode="normal" in2="none" result="drop"/>
<feBlend mode="normal" in="SourceGraphic" in2="drop" result="shape"/>
<feColorMatrix in="SourceAlpha" type="matrix" values="0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 127 0" result="a1"/>
<feOffset dx="2" dy="2"/>
<feGaussianBlur stdDeviation="2"/>
<feComposite in2="a1" operator="arithmetic" k2="-1" k3="1"/>
<feColorMatrix type="matrix" values="0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0.35 0"/>
<feBlend mode="normal" in2="shape" result="inner1"/>
<feColorMatrix in="SourceAlpha" type="matrix" values="0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 127 0" result="a2"/>
<feOffset dx="-2" dy="-2"/>
<feGaussianBlur stdDeviation="2"/>
<feComposite in2="a2" operator="arithmetic" k2="-1" k3="1"/>
<feColorMatrix type="matrix" values="0 0 0 0 0 0 0 0 0 0.2 0 0 0 0 0.3 0 0 0 0.3 0"/>
<feBlend mode="normal" in2="inner1" result="inner2"/>
<feColorMatrix in="SourceAlpha" type="matrix" values="0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 127 0" result="a3"/>
<feOffset dy="6"/>
<feGaussianBlur stdDeviation="6"/>
<feComposite in2="a3" operator="arithmetic" k2="-1" k3="1"/>
<feColorMatrix type="matrix" values="0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0.2 0"/>
<feBlend mode="normal" in2="inner2" result="inner3"/>
<feColorMatrix in="SourceAlpha" type="matrix" values="0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 127 0" result="a4"/>
<feOffset dy="-6"/>
<feGaussianBlur stdDeviation="6"/>
<feComposite in2="a4" operator="arithmetic" k2="-1" k3="1"/>
<feColorMatrix type="matrix" values="0 0 0 0 0 0 0 0 0 0.1 0 0 0 0 0.2 0 0 0 0.25 0"/>
<feBlend mode="normal" in2="inner3"/>
</filter>
<linearGradient id="rim" x1="9" y1="9" x2="113" y2="113" gradientUnits="userSpaceOnUse">
<stop stop-color="#FFFFFF"/>
<stop offset="1" stop-color="#FFFFFF" stop-opacity="0"/>
</linearGradient>
<clipPath id="bgblur"><rect x="9" y="9" width="104" height="104" rx="52"/></clipPath>
<clipPath id="mark"><rect x="37" y="37" width="48" height="48"/></clipPath>
</defs>
<g filter="url(#shade)" data-backdrop-blur="22.5" clip-path="url(#bgblur)">
<rect x="9" y="9" width="104" height="104" rx="52" fill="#0091AD"/>
</g>
<rect x="9.5" y="9.5" width="103" height="103" rx="51.5" stroke="url(#rim)"/>
<g clip-path="url(#mark)">
<path d="M41 62.5l4.2-4.2 9.3 9.3 21.3-21.3 4.2 4.2L54.5 76z" fill="#FFFFFF"/>
</g>
</svg>)svg";

} // namespace

// Finish and Done share this view; a refused restart stays on the page with
// its reason.
zem::Element finish_page(const InstallerApp& app) {
    const zem::Palette pal = zem::theme::palette();
    const bool configure = app.configure;

    zem::Column content;
    content.spacing = zem::Length::px(24);
    content.padding = zem::Length::px(16);
    content.center_x = true;
    content.children.push_back(parts::flex());
    content.children.push_back(parts::svg_image(CHECK, 160).value_or(parts::flex()));
    if (configure) {
        content.children.push_back(page_title(i18n::translate("finish.title"), i18n::translate("finish.subtitle")));
        content.children.push_back(info_card(std::nullopt, {i18n::translate("finish.bullet_1"),
                                                            i18n::translate("finish.bullet_2"),
                                                            i18n::translate("finish.bullet_3")}));
    } else {
        // The install ends while the user waits: the title is announced.
        content.children.push_back(
            page_title(i18n::translate("finish.install_title"), i18n::translate("finish.install_subtitle"), true));
        content.children.push_back(info_card(std::nullopt, {i18n::translate("finish.install_remove_medium")}));
    }
    if (app.finish_error) content.children.push_back(error_text(*app.finish_error));
    content.children.push_back(parts::flex());

    zem::Column page;
    page.spacing = zem::Length::px(24);
    page.padding = zem::Length::px(24);
    page.center_x = true;
    page.children.push_back(parts::scroll(std::move(content)));
    if (configure) {
        page.children.push_back(primary_button(i18n::translate("finish.cta"), Msg::FinishContinue{}));
        page.children.push_back(
            parts::text(i18n::translate("finish.hint"), 12, pal.text_secondary, false, zem::TextAlign::Center));
    } else {
        page.children.push_back(primary_button(i18n::translate("finish.install_cta"), Msg::Reboot{}));
    }
    return page_background(std::move(page));
}

} // namespace app
