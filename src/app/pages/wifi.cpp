#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <base/utf8.hpp>

#include <zem/widgets/dialog.hpp>

#include <chrono>

namespace app {

namespace {

// This page's own ring clock, apart from the progress page's.
float ring_phase() {
    static const auto epoch = std::chrono::steady_clock::now();
    return parts::seconds_since(epoch);
}

zem::Element error_line(const std::string& s) {
    zem::Text t = parts::text(s, 12, zem::theme::palette().danger);
    t.wrap = true;
    return t;
}

zem::TextEdit field(std::string placeholder, const std::string& value, zem::TextCallback on_change) {
    zem::TextEdit e;
    e.placeholder = std::move(placeholder);
    e.value = value;
    e.on_change = std::move(on_change);
    e.caret_to_end = true;
    e.font_size = control_font();
    e.height = control_height();
    return e;
}

zem::Element network_row(const InstallerApp& app, std::size_t i) {
    const zem::Palette pal = zem::theme::palette();
    const network::WifiNetwork& n = app.networks[i];
    zem::Row row;
    row.spacing = zem::Length::px(12);
    zem::Expanded name;
    name.weight = 1;
    name.child = zem::Element(parts::text(n.ssid, 15, pal.text_primary));
    row.children.push_back(std::move(name));
    if (n.secured) {
        if (auto lock = zem::theme::icon("safety/padlock", 16)) {
            zem::Image img;
            img.width = zem::Length::px(16);
            img.height = zem::Length::px(16);
            img.image = zem::ImageData::from(lock);
            row.children.push_back(std::move(img));
        }
    }
    zem::Container pad{zem::Element(std::move(row))};
    pad.fill.reset();
    pad.top = pad.bottom = zem::Length::px(12);
    pad.left = pad.right = zem::Length::px(16);
    zem::GestureArea press;
    press.on_tap = send(Msg::SelectNetwork{i});
    press.child = zem::Element(std::move(pad));
    if (app.connected_network != i) return press;
    zem::Container mark{zem::Element(std::move(press))};
    mark.fill = zem::Paint{zem::Color{pal.accent.r, pal.accent.g, pal.accent.b, 0.18f}};
    return mark;
}

zem::Dialog dialog_frame() {
    zem::Dialog d;
    d.max_width = parts::dialog_width();
    d.modal = true;
    return d;
}

zem::Column dialog_column(std::size_t spacing) {
    zem::Column c;
    c.spacing = zem::Length::px(static_cast<float>(spacing));
    c.padding = zem::Length::px(16);
    c.center_x = true;
    return c;
}

std::string name_of_listed(const InstallerApp& app, std::size_t index) {
    return index < app.networks.size() ? app.networks[index].ssid : std::string();
}

zem::Element connecting_dialog(const InstallerApp& app) {
    std::string name;
    if (app.wifi_password_dialog && app.wifi_password_dialog->index < app.networks.size())
        name = app.networks[app.wifi_password_dialog->index].ssid;
    else if (app.hidden_network_dialog) name = app.hidden_network_dialog->ssid;
    else if (app.open_connect) name = name_of_listed(app, *app.open_connect);
    const zem::Palette pal = zem::theme::palette();
    zem::Column c = dialog_column(16);
    zem::Spinner ring;
    ring.color = pal.accent;
    ring.size = 48;
    ring.stroke = 4;
    ring.phase = ring_phase();
    c.children.push_back(ring);
    c.children.push_back(parts::text(i18n::translate_with("wireless.connecting", {{"ssid", name}}), 15,
                                     pal.text_primary, false, zem::TextAlign::Center));
    zem::Dialog d = dialog_frame();
    d.content_column(std::move(c));
    return std::move(d).into_element();
}

zem::Element password_dialog(const InstallerApp& app) {
    const WifiPasswordDialog& pd = *app.wifi_password_dialog;
    zem::Column c = dialog_column(8);
    if (app.wifi_error) c.children.push_back(error_line(*app.wifi_error));
    zem::TextEdit pw = field(i18n::translate("wireless.password_placeholder"), pd.password, text_to<Msg::SetWifiPassword>());
    pw.on_submit = send(Msg::ConnectWifi{});
    pw.reveal = zem::Reveal{pd.visible, Msg::ToggleWifiPasswordVisible{}};
    c.children.push_back(std::move(pw));
    zem::Dialog d = dialog_frame();
    d.title = i18n::translate_with("wireless.password_title", {{"ssid", name_of_listed(app, pd.index)}});
    d.subtitle = i18n::translate("wireless.password_subtitle");
    d.content_column(std::move(c));
    d.on_escape = send(Msg::CancelWifiPassword{});
    d.actions.push_back(parts::plain_button(i18n::translate("disk.dialog_cancel"), Msg::CancelWifiPassword{}));
    d.actions.push_back(parts::filled_button(i18n::translate("wireless.connect"), Msg::ConnectWifi{}));
    return std::move(d).into_element();
}

zem::Element hidden_dialog(const InstallerApp& app) {
    const HiddenNetworkDialog& hd = *app.hidden_network_dialog;
    zem::Column c = dialog_column(8);
    if (app.wifi_error) c.children.push_back(error_line(*app.wifi_error));
    c.children.push_back(field(i18n::translate("wireless.manual_ssid_ph"), hd.ssid, text_to<Msg::SetHiddenSsid>()));
    zem::TextEdit pw =
        field(i18n::translate("wireless.password_placeholder"), hd.password, text_to<Msg::SetHiddenPassword>());
    pw.on_submit = send(Msg::ConnectHidden{});
    pw.reveal = zem::Reveal{hd.visible, Msg::ToggleHiddenPasswordVisible{}};
    c.children.push_back(std::move(pw));
    zem::Dialog d = dialog_frame();
    d.title = i18n::translate("wireless.manual_title");
    d.subtitle = i18n::translate("wireless.manual_subtitle");
    d.content_column(std::move(c));
    d.on_escape = send(Msg::CancelHidden{});
    d.actions.push_back(parts::plain_button(i18n::translate("disk.dialog_cancel"), Msg::CancelHidden{}));
    std::optional<Msg> connect;
    if (!base::utf8::trim(hd.ssid).empty()) connect = Msg::ConnectHidden{};
    d.actions.push_back(parts::filled_button(i18n::translate("wireless.connect"), std::move(connect)));
    return std::move(d).into_element();
}

} // namespace

zem::Element wifi_page(const InstallerApp& app) {
    zem::Column page;
    page.spacing = zem::Length::px(24);
    page.padding = zem::Length::px(24);
    page.center_x = true;
    page.children.push_back(page_header(Page::Wifi, 0, true, app.configure));
    page.children.push_back(page_title(i18n::translate("wireless.title"), i18n::translate("wireless.subtitle")));
    // The failure of an open network's connect has no dialog to show in.
    if (app.wifi_error && !app.wifi_password_dialog && !app.hidden_network_dialog)
        page.children.push_back(error_text(*app.wifi_error));

    zem::Column list;
    list.spacing = zem::Length::px(0);
    list.padding = zem::Length::px(16);
    list.center_x = true;
    for (std::size_t i = 0; i < app.networks.size(); ++i) list.children.push_back(network_row(app, i));
    zem::ListItem manual;
    manual.title = i18n::translate("wireless.add_manually");
    manual.trailing_text = "\u203A";
    manual.on_tap = send(Msg::OpenHiddenNetwork{});
    list.children.push_back(std::move(manual));
    page.children.push_back(parts::scroll(std::move(list)));

    zem::Row buttons;
    buttons.spacing = zem::Length::px(16);
    buttons.padding = zem::Length::px(0);
    buttons.children.push_back(parts::flex());
    buttons.children.push_back(parts::plain_button(i18n::translate("wireless.use_cellular"), Msg::UseCellular{}));
    std::optional<Msg> next;
    if (app.online) next = Msg::Next{};
    buttons.children.push_back(parts::filled_button(i18n::translate("common.continue"), std::move(next)));
    page.children.push_back(std::move(buttons));
    zem::Element frame = page_background(std::move(page));

    if (app.wifi_busy) return parts::with_overlay(std::move(frame), connecting_dialog(app));
    if (app.wifi_password_dialog) return parts::with_overlay(std::move(frame), password_dialog(app));
    if (app.hidden_network_dialog) return parts::with_overlay(std::move(frame), hidden_dialog(app));
    return frame;
}

} // namespace app
