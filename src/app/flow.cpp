// The order of the pages, and what entering a page sets going.

#include "app/installer_app.hpp"
#include "app/wifi.hpp"
#include "i18n/translate.hpp"

#include <fmt/core.h>
#include <sys/wait.h>

#include <cstdio>

namespace app {

namespace {

using Step = std::pair<Page, std::uint8_t>;

} // namespace

std::pair<Page, std::uint8_t> next_page(Page p, std::uint8_t s, const InstallerApp& a) {
    switch (p) {
    case Page::Splash: return {Page::Language, s};
    case Page::Language: return {Page::Welcome, s};
    case Page::Welcome:
        if (!a.configure) return {Page::Disk, s};
        return {a.account_needed ? Page::Account : Page::Wifi, s};
    case Page::Disk: return {Page::Account, s};
    case Page::Account: return {a.configure ? Page::Wifi : Page::Progress, s};
    case Page::Wifi: return {Page::Navigation, s};
    case Page::Navigation: return {Page::Storage, s};
    case Page::Storage: return {a.storage == 1 ? Page::Proton : Page::Permissions, s};
    case Page::Proton: return {Page::Permissions, s};
    case Page::Permissions: return {Page::Security, s};
    case Page::Security: return {Page::Finish, s};
    case Page::FingerprintEnroll: return {Page::FingerprintDone, s};
    case Page::FingerprintDone: return {Page::Finish, s};
    case Page::Progress: return {Page::Finish, s};
    case Page::Finish: return a.configure ? Step{Page::GesturesTutorial, 0} : Step{Page::Done, 0};
    case Page::GesturesTutorial: return s < 3 ? Step{Page::GesturesTutorial, s + 1} : Step{Page::DockTutorial, 0};
    case Page::DockTutorial: return s < 3 ? Step{Page::DockTutorial, s + 1} : Step{Page::Done, s};
    case Page::Done: return {Page::Done, s};
    }
    return {p, s};
}

std::pair<Page, std::uint8_t> previous_page(Page p, std::uint8_t s, const InstallerApp& a) {
    switch (p) {
    case Page::Splash: return {Page::Splash, s};
    case Page::Language: return {Page::Splash, s};
    case Page::Welcome: return {Page::Language, s};
    case Page::Disk: return {Page::Welcome, s};
    case Page::Account: return {a.configure ? Page::Welcome : Page::Disk, s};
    case Page::Wifi:
        if (!a.configure) return {Page::Welcome, s};
        return {a.account_needed ? Page::Account : Page::Welcome, s};
    case Page::Navigation: return {Page::Wifi, s};
    case Page::Storage: return {Page::Navigation, s};
    case Page::Proton: return {Page::Storage, s};
    case Page::Permissions: return {a.storage == 1 ? Page::Proton : Page::Storage, s};
    case Page::Security: return {Page::Permissions, s};
    case Page::FingerprintEnroll: return {Page::Security, s};
    case Page::FingerprintDone: return {Page::FingerprintEnroll, s};
    case Page::Progress: return {Page::Progress, s};
    case Page::Finish: return {Page::Finish, s};
    case Page::GesturesTutorial: return s > 0 ? Step{Page::GesturesTutorial, s - 1} : Step{Page::Finish, 0};
    case Page::DockTutorial: return s > 0 ? Step{Page::DockTutorial, s - 1} : Step{Page::GesturesTutorial, 3};
    case Page::Done: return {Page::Done, s};
    }
    return {p, s};
}

void InstallerApp::advance() {
    auto [p, s] = next_page(page, tutorial_step, *this);
    set_page(p, s);
}

void InstallerApp::set_page(Page p, std::uint8_t step) {
    if (page == Page::Wifi && p != Page::Wifi) wifi::leave(*this);
    if (p == Page::Progress) {
        if (install_phase != NO_INSTALL) {
            page = Page::Progress;
            return;
        }
        auto plan = fx->plan_check(choices_of(*this));
        if (!plan) {
            error = plan.error();
            page = Page::Disk;
            return;
        }
        install = fx->start_install(std::move(*plan));
        install_fraction = 0.0f;
        install_phase = 0;
        page = Page::Progress;
        return;
    }
    if (p == Page::Done) {
        if (!configure) {
            page = Page::Done;
            if (!test) fx->end_process(0);
            return;
        }
        if (test) {
            page = Page::Done;
            return;
        }
        // The scenario ends only once the account is staged (or none is
        // needed); until the worker answers the current page stays.
        start_finish_job();
        return;
    }
    page = p;
    tutorial_step = step;
}

bool InstallerApp::request_reboot() {
    auto r = fx->run_systemctl({"reboot"});
    std::string why;
    if (!r) why = r.error();
    else if (WIFEXITED(*r) && WEXITSTATUS(*r) == 0) {
        fx->set_kiosk(false);
        finish_error.reset();
        return true;
    } else if (WIFEXITED(*r)) why = fmt::format("exit status: {}", WEXITSTATUS(*r));
    else if (WIFSIGNALED(*r)) why = fmt::format("signal: {}", WTERMSIG(*r));
    else why = fmt::format("wait status: {}", *r);
    finish_error = "systemctl reboot: " + why;
    std::fprintf(stderr, "installer: %s\n", finish_error->c_str());
    return false;
}

void InstallerApp::start_finish_job() {
    if (finishing) return;
    finishing = true;
    finish_error.reset();
    auto slot = std::make_shared<FinishSlot>();
    finish_job = slot;
    // The worker gets copies: the application value may move while it runs.
    bool stage = account_needed && install::account_form_valid({username, hostname, password, password_confirm});
    fx->spawn([fx = fx, slot, stage, code = locale, user = username, host = hostname, pw = password,
               enc = encrypt] {
        FinishOutcome out;
        if (auto r = fx->apply_locale(code); !r) std::fprintf(stderr, "installer: apply locale: %s\n", r.error().c_str());
        if (stage) {
            auto r = fx->stage_account(user, host, pw, enc);
            out = r ? FinishOutcome{FinishOutcome::Kind::Staged, {}}
                    : FinishOutcome{FinishOutcome::Kind::StagingFailed, r.error()};
        } else {
            if (!fx->mark_configured()) {
                if (auto f = fx->finish_configure(); !f)
                    std::fprintf(stderr, "installer: finish configure: %s\n", f.error().c_str());
            }
            out = {FinishOutcome::Kind::Configured, {}};
        }
        std::lock_guard lock(slot->mutex);
        slot->result = std::move(out);
    });
}

void InstallerApp::collect_finish() {
    if (!finishing || !finish_job) return;
    std::optional<FinishOutcome> out;
    {
        std::lock_guard lock(finish_job->mutex);
        out = std::move(finish_job->result);
    }
    if (!out) return;
    finishing = false;
    finish_job.reset();
    switch (out->kind) {
    case FinishOutcome::Kind::StagingFailed:
        // Never finish the scenario without the account: the page shows why,
        // Next tries again, Back goes back.
        std::fprintf(stderr, "installer: stage account: %s\n", out->error.c_str());
        finish_error = daemon_error_text(out->error);
        return;
    case FinishOutcome::Kind::Staged:
        // The staged account and encryption take effect on the next boot.
        if (request_reboot()) {
            page = Page::Done;
            fx->end_process(0);
        }
        return;
    case FinishOutcome::Kind::Configured:
        page = Page::Done;
        fx->end_process(0);
        return;
    }
}

} // namespace app
