#pragma once
// The wizard: its whole state, the page flow, message handling and the
// toolkit's application interface. Pages are pure functions of this state
// (src/app/pages); everything that reaches outside goes through `fx`.

#include "app/disk_editor.hpp"
#include "app/disk_rows.hpp"
#include "app/effects.hpp"
#include "app/msg.hpp"
#include "app/wifi_state.hpp"
#include "install/engine.hpp"
#include "network/network.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zem {
struct Element;
struct WindowConfig;
} // namespace zem

namespace app {

// The phase value that means "no install held".
inline constexpr std::uint8_t NO_INSTALL = 5;

// What the end of the configure scenario came to, left by its worker.
struct FinishOutcome {
    enum class Kind { StagingFailed, Staged, Configured } kind = Kind::Configured;
    std::string error;
};
struct FinishSlot {
    std::mutex mutex;
    std::optional<FinishOutcome> result;
};

using WindowSize = std::pair<std::uint32_t, std::uint32_t>;

class InstallerApp {
public:
    using Msg = app::Msg;

    InstallerApp(std::optional<WindowSize> size, bool test, bool configure, std::shared_ptr<Effects> fx);

    // The toolkit's application interface.
    std::string app_id() const;
    std::optional<zem::WindowConfig> window_config() const;
    std::optional<WindowSize> window_size() const { return requested_window_size; }
    std::optional<std::chrono::milliseconds> poll_interval() const;
    bool is_animating() const;
    std::vector<Msg> poll();
    void update(Msg m);
    zem::Element view() const;

    // The only writer of `page`: entering some pages starts or ends things.
    void set_page(Page p, std::uint8_t step = 0);

    // --- state ---------------------------------------------------------------
    std::optional<std::size_t> connected_network;
    std::string locale = "en";
    std::vector<DiskRow> disk_rows;
    // The partition editor (disk_editor.cpp).
    std::vector<StagedDiskOp> staged_ops;
    std::optional<ResizeDialog> resize_dialog;
    std::optional<CreateDialog> create_dialog;
    // The batch running on a worker while `apply_pending`.
    std::shared_ptr<ApplySlot> apply_job;
    std::string username;
    std::string hostname = "tavix";
    std::string password;
    std::string password_confirm;
    bool password_visible = false;
    bool encrypt = false;
    std::vector<network::WifiNetwork> networks;
    std::string proton_name;
    std::string proton_email;
    std::string proton_password;
    bool proton_password_visible = false;
    std::optional<std::string> error;
    std::optional<std::string> wifi_error;
    TargetSelection target;
    install::InstallHandle install;
    float install_fraction = 0.0f;
    std::uint8_t install_phase = NO_INSTALL;
    // The size page layouts scale by: the size asked for on the command line,
    // else a laptop screen's.
    WindowSize layout_size{1280, 800};
    std::array<bool, 4> permissions{false, false, false, true};
    bool test = false;
    bool configure = false;
    bool account_needed = false;
    bool tpm_present = false;
    bool apply_confirm_open = false;
    bool apply_pending = false;
    bool install_confirm_open = false;
    bool cancel_confirm_open = false;
    bool wifi_busy = false;
    bool online = false;
    std::uint8_t navigation_style = 2; // none chosen
    std::uint8_t storage = 3;          // none chosen
    std::uint8_t security_method = 4;  // none chosen
    std::optional<std::chrono::steady_clock::time_point> splash_started;
    std::optional<WindowSize> requested_window_size;
    Page page = Page::Splash;
    std::uint8_t tutorial_step = 0;
    // The end of the configure scenario runs on a worker; while it does, the
    // page waits, and its failure is shown on the page.
    bool finishing = false;
    std::shared_ptr<FinishSlot> finish_job;
    std::optional<std::string> finish_error;
    // The wireless page (src/app/wifi.cpp).
    std::optional<WifiPasswordDialog> wifi_password_dialog;
    std::optional<HiddenNetworkDialog> hidden_network_dialog;
    std::shared_ptr<WifiJobSlot> wifi_job;
    // The open listed network a running connect is for (it has no dialog).
    std::optional<std::size_t> open_connect;
    ConnectivityCheck connectivity;

    std::shared_ptr<Effects> fx;

    // Asks systemctl to restart the machine and switches kiosk mode off once
    // it accepted; on refusal keeps the reason in `finish_error`.
    bool request_reboot();

private:
    void advance();
    void start_finish_job();
    void collect_finish();
    void poll_install();
    void on_install_failed(const std::string& text);
};

// The pages after `p` and before it, in the scenario and with the choices
// `app` holds. Pure.
std::pair<Page, std::uint8_t> next_page(Page p, std::uint8_t step, const InstallerApp& app);
std::pair<Page, std::uint8_t> previous_page(Page p, std::uint8_t step, const InstallerApp& app);

// The daemon's short failure words in the user's language; other texts as
// they came.
std::string daemon_error_text(const std::string& text);

// The wizard's choices as the plan check reads them.
install::WizardChoices choices_of(const InstallerApp& app);

} // namespace app
