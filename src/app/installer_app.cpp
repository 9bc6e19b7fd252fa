#include "app/installer_app.hpp"

namespace app {

InstallerApp::InstallerApp(std::optional<WindowSize> size, bool test_mode, bool configure_scenario,
                           std::shared_ptr<Effects> effects)
    : test(test_mode), configure(configure_scenario), fx(std::move(effects)) {
    tpm_present = fx->tpm_present();
    encrypt = tpm_present;
    account_needed = fx->default_home_exists() || test;
    disk_rows = app::disk_rows(fx->list_disks());
    networks = fx->scan_wifi();
    online = fx->network_online();
    if (size) layout_size = *size;
    requested_window_size = size;
}

std::string InstallerApp::app_id() const { return "net.tavix.Installer"; }

std::optional<std::chrono::milliseconds> InstallerApp::poll_interval() const {
    using namespace std::chrono_literals;
    if (apply_pending || wifi_busy || finishing || page == Page::Splash || page == Page::Progress) return 100ms;
    if (page == Page::Wifi) return 1000ms;
    return std::nullopt;
}

bool InstallerApp::is_animating() const {
    return apply_pending || wifi_busy || finishing || page == Page::Splash || page == Page::Wifi ||
           page == Page::Progress;
}

std::vector<Msg> InstallerApp::poll() {
    if (apply_pending) return {Msg::ApplyOps{}};
    if (wifi_busy) return {Msg::PollWifiJob{}};
    if (finishing) return {Msg::PollFinish{}};
    switch (page) {
    case Page::Splash: {
        auto now = fx->now();
        if (!splash_started) splash_started = now;
        // Whole seconds, so the splash shows for three of them.
        if (std::chrono::duration_cast<std::chrono::seconds>(now - *splash_started).count() > 2) {
            splash_started.reset();
            return {Msg::Next{}};
        }
        return {};
    }
    case Page::Wifi: return {Msg::RefreshConnectivity{}};
    case Page::Progress: return {Msg::PollInstall{}};
    default: return {};
    }
}

} // namespace app
