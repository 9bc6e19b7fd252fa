// Following the install that entering the progress page started.

#include "app/installer_app.hpp"
#include "i18n/translate.hpp"

namespace app {

std::string daemon_error_text(const std::string& t) {
    if (t == "busy") return i18n::translate("error.install_busy");
    if (t == "not-pending") return i18n::translate("error.not_pending");
    if (t == "cancelled") return i18n::translate("error.cancelled");
    if (t == "no-daemon") return i18n::translate("error.no_daemon");
    return t;
}

install::WizardChoices choices_of(const InstallerApp& a) {
    install::WizardChoices c;
    c.target = a.target;
    for (const DiskRow& r : a.disk_rows) {
        install::DiskRow d;
        d.path = r.path;
        d.table = r.table;
        d.size_bytes = r.size;
        for (const PartitionRow& p : r.partitions) d.partitions.push_back({p.start, p.size, p.number, p.free, p.logical});
        c.disks.push_back(std::move(d));
    }
    c.language = a.locale;
    c.account = {a.username, a.hostname, a.password, a.password_confirm};
    c.encrypt = a.encrypt;
    c.test = a.test;
    return c;
}

void InstallerApp::poll_install() {
    if (install_phase == NO_INSTALL || !install) return;
    install::InstallSnapshot s = install->snapshot();
    install_fraction = s.fraction;
    install_phase = static_cast<std::uint8_t>(s.phase);
    if (page != Page::Progress) return;
    if (s.error) {
        on_install_failed(*s.error);
        return;
    }
    if (s.done) {
        install.reset();
        install_phase = NO_INSTALL;
        cancel_confirm_open = false;
        set_page(Page::Finish);
    }
}

void InstallerApp::on_install_failed(const std::string& text) {
    install.reset();
    install_phase = NO_INSTALL;
    cancel_confirm_open = false;
    error = daemon_error_text(text);
    // The install may have changed the partition tables, and renumbered
    // them (an encrypted install adds a partition and takes it away again).
    std::vector<DiskRow> before = std::move(disk_rows);
    disk_rows = app::disk_rows(fx->list_disks());
    if (!is_none(target) && !target_survives(target, before, disk_rows)) target = {};
    set_page(Page::Disk);
}

} // namespace app
