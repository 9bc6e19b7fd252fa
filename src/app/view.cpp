// The page on screen, and the window the wizard asks for.

#include "app/installer_app.hpp"
#include "app/pages/pages.hpp"

#include <array>

namespace app {

namespace {

using PageView = zem::Element (*)(const InstallerApp&);

// Indexed by Page: a new page adds its row here and its file in pages/.
constexpr std::array<PageView, PAGE_COUNT> PAGE_VIEWS = {
    splash_page,           // Splash
    language_page,         // Language
    welcome_page,          // Welcome
    disk_page,             // Disk
    account_page,          // Account
    wifi_page,             // Wifi
    navigation_page,       // Navigation
    storage_page,          // Storage
    proton_page,           // Proton
    permissions_page,      // Permissions
    security_page,         // Security
    fingerprint_enroll_page, // FingerprintEnroll
    fingerprint_done_page, // FingerprintDone
    progress_page,         // Progress
    finish_page,           // Finish
    gestures_tutorial_page, // GesturesTutorial
    dock_tutorial_page,    // DockTutorial
    finish_page,           // Done
};

} // namespace

zem::Element InstallerApp::view() const { return PAGE_VIEWS[static_cast<std::uint8_t>(page)](*this); }

std::optional<zem::WindowConfig> InstallerApp::window_config() const {
    if (!requested_window_size) return std::nullopt;
    zem::WindowConfig c;
    c.title = test ? "Tavix Installer (test)" : "Tavix Installer";
    c.app_id = app_id();
    return c;
}

} // namespace app
