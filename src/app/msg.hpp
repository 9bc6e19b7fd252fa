#pragma once
// The wizard's pages and the messages its controls and its poll send.
//
// A message is one `Msg` whose alternative's index is its tag; the order is
// fixed (tags are what the pages and the tests name), new kinds go last.

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace app {

enum class Page : std::uint8_t {
    Splash = 0,
    Language = 1,
    Welcome = 2,
    Disk = 3,
    Account = 4,
    Wifi = 5,
    Navigation = 6,
    Storage = 7,
    Proton = 8,
    Permissions = 9,
    Security = 10,
    FingerprintEnroll = 11,
    FingerprintDone = 12,
    Progress = 13,
    Finish = 14,
    GesturesTutorial = 15,
    DockTutorial = 16,
    Done = 17,
};
inline constexpr std::uint8_t PAGE_COUNT = 18;

struct Msg {
    struct Next {};
    struct Back {};
    struct GoTo {
        std::uint8_t page = 0; // a byte from outside: checked against PAGE_COUNT before use
        std::uint8_t step = 0;
    };
    struct PickLanguage {
        std::string code;
    };
    struct SelectDisk {
        std::size_t disk = 0;
    };
    struct SelectPartition {
        std::size_t disk = 0;
        std::size_t partition = 0;
    };
    struct StageWipe {
        std::size_t disk = 0;
    };
    struct StageDelete {
        std::size_t disk = 0;
        std::size_t partition = 0;
    };
    struct DiscardOps {};
    struct AskApply {};
    struct ConfirmApply {};
    struct ApplyOps {};
    struct CancelApply {};
    struct AskInstall {};
    struct ConfirmInstall {};
    struct CancelInstallConfirm {};
    struct OpenResize {
        std::size_t disk = 0;
        std::size_t partition = 0;
    };
    struct CancelResize {};
    struct ResizeSlider {
        float fraction = 0.0f;
    };
    struct ApplyResize {};
    struct OpenCreate {
        std::size_t disk = 0;
        std::uint64_t start = 0;
        std::uint64_t size = 0;
    };
    struct CancelCreate {};
    struct CreateSlider {
        float fraction = 0.0f;
    };
    struct ApplyCreate {};
    struct DismissError {};
    struct SetUsername {
        std::string text;
    };
    struct SetHostname {
        std::string text;
    };
    struct SetPassword {
        std::string text;
    };
    struct SetPasswordConfirm {
        std::string text;
    };
    struct ToggleEncrypt {};
    struct SelectNetwork {
        std::size_t network = 0;
    };
    struct SetWifiPassword {
        std::string text;
    };
    struct ToggleWifiPasswordVisible {};
    struct ConnectWifi {};
    struct PollWifiJob {};
    struct CancelWifiPassword {};
    struct RefreshConnectivity {};
    struct OpenHiddenNetwork {};
    struct SetHiddenSsid {
        std::string text;
    };
    struct SetHiddenPassword {
        std::string text;
    };
    struct ToggleHiddenPasswordVisible {};
    struct ConnectHidden {};
    struct CancelHidden {};
    struct UseCellular {};
    struct SetNavigationStyle {
        std::uint8_t style = 0;
    };
    struct SetStorage {
        std::uint8_t storage = 0;
    };
    struct SetProtonName {
        std::string text;
    };
    struct SetProtonEmail {
        std::string text;
    };
    struct SetProtonPassword {
        std::string text;
    };
    struct ToggleProtonPasswordVisible {};
    struct ProtonSubmit {};
    struct ProtonSkip {};
    struct TogglePermission {
        std::uint8_t permission = 0;
    };
    struct SetSecurityMethod {
        std::uint8_t method = 0;
    };
    struct SkipSecurity {};
    struct RegisterMoreFingerprints {};
    struct PollInstall {};
    struct AskCancelInstall {};
    struct ConfirmCancelInstall {};
    struct DismissCancelInstall {};
    struct FinishContinue {};
    struct Reboot {};
    struct SkipTutorial {};
    // Sent by poll only, while the end of the configure scenario runs on a
    // worker: collects its result.
    struct PollFinish {};

    using Kind = std::variant<Next, Back, GoTo, PickLanguage, SelectDisk, SelectPartition, StageWipe, StageDelete,
                              DiscardOps, AskApply, ConfirmApply, ApplyOps, CancelApply, AskInstall, ConfirmInstall,
                              CancelInstallConfirm, OpenResize, CancelResize, ResizeSlider, ApplyResize, OpenCreate,
                              CancelCreate, CreateSlider, ApplyCreate, DismissError, SetUsername, SetHostname,
                              SetPassword, SetPasswordConfirm, ToggleEncrypt, SelectNetwork, SetWifiPassword,
                              ToggleWifiPasswordVisible, ConnectWifi, PollWifiJob, CancelWifiPassword,
                              RefreshConnectivity, OpenHiddenNetwork, SetHiddenSsid, SetHiddenPassword,
                              ToggleHiddenPasswordVisible, ConnectHidden, CancelHidden, UseCellular,
                              SetNavigationStyle, SetStorage, SetProtonName, SetProtonEmail, SetProtonPassword,
                              ToggleProtonPasswordVisible, ProtonSubmit, ProtonSkip, TogglePermission,
                              SetSecurityMethod, SkipSecurity, RegisterMoreFingerprints, PollInstall,
                              AskCancelInstall, ConfirmCancelInstall, DismissCancelInstall, FinishContinue, Reboot,
                              SkipTutorial, PollFinish>;

    Kind kind;

    Msg() = default;
    // Implicit on purpose: `Msg m = Msg::Next{}` and passing an alternative
    // where a Msg is expected both box the right type for the toolkit.
    template <class K>
        requires(!std::is_same_v<std::decay_t<K>, Msg> && std::is_constructible_v<Kind, K &&>)
    Msg(K&& k) : kind(std::forward<K>(k)) {} // NOLINT

    std::size_t tag() const { return kind.index(); }
    template <class K>
    bool is() const {
        return std::holds_alternative<K>(kind);
    }
    template <class K>
    const K* get() const {
        return std::get_if<K>(&kind);
    }
};

static_assert(std::variant_size_v<Msg::Kind> == 64);
static_assert(std::is_same_v<std::variant_alternative_t<62, Msg::Kind>, Msg::SkipTutorial>);

} // namespace app
