// Message handling: every message the pages and the poll send ends here.

#include "app/disk_editor.hpp"
#include "app/installer_app.hpp"
#include "app/wifi.hpp"
#include "i18n/translate.hpp"

#include <type_traits>

namespace app {

namespace {

template <class T>
inline constexpr bool always_false = false;

template <class T, class... Ks>
inline constexpr bool one_of = (std::is_same_v<T, Ks> || ...);

} // namespace

void InstallerApp::update(Msg m) {
    std::visit(
        [&](auto& k) {
            using T = std::decay_t<decltype(k)>;
            using M = Msg;
            // Navigation.
            if constexpr (one_of<T, M::Next, M::UseCellular, M::ProtonSubmit, M::FinishContinue>) {
                advance();
            } else if constexpr (std::is_same_v<T, M::Back>) {
                auto [p, s] = previous_page(page, tutorial_step, *this);
                set_page(p, s);
            } else if constexpr (std::is_same_v<T, M::GoTo>) {
                // A page byte from a page that does not exist must never
                // become a Page: the view table has only PAGE_COUNT rows.
                if (k.page >= PAGE_COUNT) return;
                set_page(static_cast<Page>(k.page), k.step);
            } else if constexpr (std::is_same_v<T, M::ProtonSkip>) {
                set_page(Page::Permissions);
            } else if constexpr (std::is_same_v<T, M::SkipSecurity>) {
                set_page(Page::Finish);
            } else if constexpr (std::is_same_v<T, M::RegisterMoreFingerprints>) {
                set_page(Page::FingerprintEnroll);
            } else if constexpr (std::is_same_v<T, M::SkipTutorial>) {
                set_page(Page::Done);
            } else if constexpr (std::is_same_v<T, M::Reboot>) {
                // The window may only go once the restart is accepted;
                // otherwise the page stays with the reason.
                if (test || request_reboot()) set_page(Page::Done);
            }
            // Language.
            else if constexpr (std::is_same_v<T, M::PickLanguage>) {
                i18n::set_locale(k.code);
                locale = k.code;
                disk_rows = app::disk_rows(fx->list_disks());
                advance();
            }
            // Target.
            else if constexpr (std::is_same_v<T, M::SelectDisk>) {
                if (k.disk < disk_rows.size()) target = {TargetSelection::WholeDisk{disk_rows[k.disk].path}};
            } else if constexpr (std::is_same_v<T, M::SelectPartition>) {
                if (k.disk < disk_rows.size() && k.partition < disk_rows[k.disk].partitions.size())
                    target = from_row(disk_rows[k.disk].path, disk_rows[k.disk].partitions[k.partition]);
            } else if constexpr (std::is_same_v<T, M::AskInstall>) {
                if (!is_none(target)) install_confirm_open = true;
            } else if constexpr (std::is_same_v<T, M::ConfirmInstall>) {
                install_confirm_open = false;
                advance();
            } else if constexpr (std::is_same_v<T, M::CancelInstallConfirm>) {
                install_confirm_open = false;
            } else if constexpr (std::is_same_v<T, M::DismissError>) {
                error.reset();
            }
            // Forms: stored as typed; the rules judge them where they are used.
            else if constexpr (std::is_same_v<T, M::SetUsername>) {
                username = std::move(k.text);
            } else if constexpr (std::is_same_v<T, M::SetHostname>) {
                hostname = std::move(k.text);
            } else if constexpr (std::is_same_v<T, M::SetPassword>) {
                password = std::move(k.text);
            } else if constexpr (std::is_same_v<T, M::SetPasswordConfirm>) {
                password_confirm = std::move(k.text);
            } else if constexpr (std::is_same_v<T, M::ToggleEncrypt>) {
                encrypt = !encrypt;
            } else if constexpr (std::is_same_v<T, M::SetProtonName>) {
                proton_name = std::move(k.text);
            } else if constexpr (std::is_same_v<T, M::SetProtonEmail>) {
                proton_email = std::move(k.text);
            } else if constexpr (std::is_same_v<T, M::SetProtonPassword>) {
                proton_password = std::move(k.text);
            } else if constexpr (std::is_same_v<T, M::ToggleProtonPasswordVisible>) {
                proton_password_visible = !proton_password_visible;
            }
            // Configure-scenario choices.
            else if constexpr (std::is_same_v<T, M::SetNavigationStyle>) {
                navigation_style = k.style;
            } else if constexpr (std::is_same_v<T, M::SetStorage>) {
                storage = k.storage;
                if (k.storage == 1) set_page(Page::Proton);
                else advance();
            } else if constexpr (std::is_same_v<T, M::TogglePermission>) {
                std::size_t i = k.permission < 3 ? k.permission : 3;
                permissions[i] = !permissions[i];
            } else if constexpr (std::is_same_v<T, M::SetSecurityMethod>) {
                security_method = k.method;
                if (k.method == 1) set_page(Page::FingerprintEnroll);
            }
            // Install tracking.
            else if constexpr (std::is_same_v<T, M::PollInstall>) {
                poll_install();
            } else if constexpr (std::is_same_v<T, M::AskCancelInstall>) {
                if (install_phase != NO_INSTALL) cancel_confirm_open = true;
            } else if constexpr (std::is_same_v<T, M::ConfirmCancelInstall>) {
                cancel_confirm_open = false;
                if (install_phase != NO_INSTALL) fx->cancel_install();
            } else if constexpr (std::is_same_v<T, M::DismissCancelInstall>) {
                cancel_confirm_open = false;
            } else if constexpr (std::is_same_v<T, M::PollFinish>) {
                collect_finish();
            }
            // The partition editor and the wireless page have their own homes.
            else if constexpr (one_of<T, M::StageWipe, M::StageDelete, M::DiscardOps, M::AskApply, M::ConfirmApply,
                                      M::ApplyOps, M::CancelApply, M::OpenResize, M::CancelResize, M::ResizeSlider,
                                      M::ApplyResize, M::OpenCreate, M::CancelCreate, M::CreateSlider,
                                      M::ApplyCreate>) {
                disk_editor::update(*this, Msg{std::move(k)});
            } else if constexpr (one_of<T, M::SelectNetwork, M::SetWifiPassword, M::ToggleWifiPasswordVisible,
                                      M::ConnectWifi, M::PollWifiJob, M::CancelWifiPassword, M::RefreshConnectivity,
                                      M::OpenHiddenNetwork, M::SetHiddenSsid, M::SetHiddenPassword,
                                      M::ToggleHiddenPasswordVisible, M::ConnectHidden, M::CancelHidden>) {
                wifi::update(*this, Msg{std::move(k)});
            } else {
                static_assert(always_false<T>, "a message without a handler");
            }
        },
        m.kind);
}

} // namespace app
