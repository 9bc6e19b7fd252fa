#pragma once
// One view per page; each lives in its own file here. A page is a pure
// function of the wizard's state.

#include "app/toolkit.hpp"

#include <string>

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

} // namespace app
