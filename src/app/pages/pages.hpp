#pragma once
// One view per page; each lives in its own file here. A page is a pure
// function of the wizard's state.

#include "app/toolkit.hpp"

namespace app {

class InstallerApp;

zem::Element splash_page(const InstallerApp& app);
zem::Element language_page(const InstallerApp& app);
zem::Element welcome_page(const InstallerApp& app);
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
// Finish and Done show the same view.
zem::Element finish_page(const InstallerApp& app);
zem::Element gestures_tutorial_page(const InstallerApp& app);
zem::Element dock_tutorial_page(const InstallerApp& app);

} // namespace app
