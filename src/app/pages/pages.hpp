#pragma once
// One view per page; each lives in its own file here. A page is a pure
// function of the wizard's state.

#include "app/msg.hpp"
#include "app/toolkit.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace app {

class InstallerApp;

zem::Element splash_page(const InstallerApp& app);
zem::Element language_page(const InstallerApp& app);
zem::Element welcome_page(const InstallerApp& app);
// One line of the welcome page's feature card: the check icon and the text.
zem::Element welcome_bullet(const std::string& label);
zem::Element disk_page(const InstallerApp& app);
zem::Element account_page(const InstallerApp& app);
zem::Element wifi_page(const InstallerApp& app);
zem::Element navigation_page(const InstallerApp& app);
zem::Element storage_page(const InstallerApp& app);
zem::Element proton_page(const InstallerApp& app);
zem::Element permissions_page(const InstallerApp& app);
zem::Element security_page(const InstallerApp& app);
zem::Element fingerprint_enroll_page(const InstallerApp& app);
zem::Element fingerprint_done_page(const InstallerApp& app);
zem::Element progress_page(const InstallerApp& app);
// The progress page's percentage: the fraction in hundredths, rounded half
// away from zero, never below 0, then "%".
std::string percent_text(float fraction);
// Finish and Done show the same view.
zem::Element finish_page(const InstallerApp& app);
zem::Element gestures_tutorial_page(const InstallerApp& app);
zem::Element dock_tutorial_page(const InstallerApp& app);


// The parts of the configure scenario's pages that tests and sibling pages
// reach on their own.
bool proton_form_complete(const InstallerApp& app);
std::uint32_t navigation_card_size(std::uint32_t window_width);
zem::Element navigation_card(const std::string& title, const std::string& subtitle, std::string_view svg, bool marked,
                             Msg msg, zem::Color accent, std::uint32_t s);
zem::Element security_method_row(const std::string& title, const std::string& subtitle, bool marked,
                                 std::uint8_t value);
zem::Element fingerprint_step_row(std::uint32_t n, const std::string& text);
// The larger side of a tutorial's picture for a window of `window` (width,
// height) pixels.
std::uint32_t tutorial_picture_size(std::pair<std::uint32_t, std::uint32_t> window, bool dock, std::uint8_t step);

} // namespace app
