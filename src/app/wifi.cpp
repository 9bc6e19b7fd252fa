#include "app/wifi.hpp"

#include "app/installer_app.hpp"

#include <base/utf8.hpp>

#include <type_traits>

namespace app::wifi {

namespace {

using namespace std::chrono_literals;

// A connect waits up to 65 s on nmcli: it runs on a worker, never on the
// loop; the worker gets copies, never the application.
void start_job(InstallerApp& app, std::string ssid, std::optional<std::string> password, bool hidden) {
    auto slot = std::make_shared<WifiJobSlot>();
    auto job = [fx = app.fx, slot, ssid = std::move(ssid), password = std::move(password), hidden,
                test = app.test]() mutable {
        std::expected<void, std::string> r;
        if (test) {
            fx->sleep_for(1000ms);
        } else {
            network::Runner run = [fx](const std::vector<std::string>& args) { return fx->run_nmcli(args); };
            r = network::connect_wifi(run, ssid, password, hidden);
        }
        std::lock_guard lock(slot->mutex);
        slot->result = std::move(r);
    };
    // Without a worker the connecting dialog would wait for ever: the
    // failure shows in the dialog instead.
    try {
        app.fx->spawn(std::move(job));
    } catch (const std::exception& e) {
        app.wifi_error = std::string("start connect: ") + e.what();
        return;
    }
    app.wifi_job = std::move(slot);
    app.wifi_busy = true;
    app.wifi_error.reset();
}

void abandon(InstallerApp& app) {
    app.wifi_busy = false;
    app.wifi_job.reset();
    app.open_connect.reset();
}

void collect(InstallerApp& app) {
    if (!app.wifi_job) return;
    auto r = app.wifi_job->take_result();
    if (!r) return;
    app.wifi_job.reset();
    app.wifi_busy = false;
    const std::optional<std::size_t> open = std::exchange(app.open_connect, std::nullopt);
    if (!*r) {
        app.wifi_error = r->error();
        return;
    }
    app.wifi_error.reset();
    if (app.wifi_password_dialog) {
        app.connected_network = app.wifi_password_dialog->index;
        app.wifi_password_dialog.reset();
    } else if (app.hidden_network_dialog) {
        const auto& d = *app.hidden_network_dialog;
        app.networks.push_back({std::string(base::utf8::trim(d.ssid)), !d.password.empty(), 0});
        app.connected_network = app.networks.size() - 1;
        app.hidden_network_dialog.reset();
    } else if (open && *open < app.networks.size()) {
        app.connected_network = *open;
    }
}

// Takes a finished check's answer, and starts the next one when none runs
// and the last began a second ago or more; `online` keeps the last answer.
void refresh_connectivity(InstallerApp& app) {
    auto& c = app.connectivity;
    if (c.running) {
        std::unique_lock lock(c.running->mutex);
        if (c.running->result) {
            app.online = *c.running->result;
            lock.unlock();
            c.running.reset();
        }
    }
    if (c.running) return;
    const auto now = app.fx->now();
    if (c.last_start && now - *c.last_start < 1s) return;
    c.last_start = now;
    auto slot = std::make_shared<ConnectivitySlot>();
    c.running = slot;
    try {
        app.fx->spawn([fx = app.fx, slot] {
            const bool on = fx->network_online();
            std::lock_guard lock(slot->mutex);
            slot->result = on;
        });
    } catch (const std::exception&) {
        c.running.reset(); // the last answer stands; the next second tries again
    }
}

} // namespace

void leave(InstallerApp& app) {
    abandon(app);
    app.wifi_password_dialog.reset();
    app.hidden_network_dialog.reset();
    app.wifi_error.reset();
}

void update(InstallerApp& app, Msg m) {
    std::visit(
        [&](auto& k) {
            using T = std::decay_t<decltype(k)>;
            using M = Msg;
            if constexpr (std::is_same_v<T, M::SelectNetwork>) {
                if (k.network >= app.networks.size()) return;
                if (app.networks[k.network].secured) {
                    app.wifi_password_dialog = WifiPasswordDialog{"", k.network, false};
                } else if (!app.wifi_busy) {
                    // An open network is joined like any other: marked once
                    // the connect succeeded, its failure shown.
                    start_job(app, app.networks[k.network].ssid, std::nullopt, false);
                    if (app.wifi_busy) app.open_connect = k.network;
                }
            } else if constexpr (std::is_same_v<T, M::SetWifiPassword>) {
                if (app.wifi_password_dialog) app.wifi_password_dialog->password = std::move(k.text);
                app.wifi_error.reset();
            } else if constexpr (std::is_same_v<T, M::ToggleWifiPasswordVisible>) {
                if (app.wifi_password_dialog) app.wifi_password_dialog->visible = !app.wifi_password_dialog->visible;
            } else if constexpr (std::is_same_v<T, M::ConnectWifi>) {
                if (app.wifi_busy || !app.wifi_password_dialog) return;
                const auto& d = *app.wifi_password_dialog;
                if (d.index >= app.networks.size()) return;
                start_job(app, app.networks[d.index].ssid, d.password, false);
            } else if constexpr (std::is_same_v<T, M::PollWifiJob>) {
                collect(app);
            } else if constexpr (std::is_same_v<T, M::CancelWifiPassword>) {
                app.wifi_password_dialog.reset();
                app.wifi_error.reset();
                abandon(app);
            } else if constexpr (std::is_same_v<T, M::RefreshConnectivity>) {
                refresh_connectivity(app);
            } else if constexpr (std::is_same_v<T, M::OpenHiddenNetwork>) {
                app.hidden_network_dialog = HiddenNetworkDialog{};
                app.wifi_error.reset();
            } else if constexpr (std::is_same_v<T, M::SetHiddenSsid>) {
                if (app.hidden_network_dialog) app.hidden_network_dialog->ssid = std::move(k.text);
                app.wifi_error.reset();
            } else if constexpr (std::is_same_v<T, M::SetHiddenPassword>) {
                if (app.hidden_network_dialog) app.hidden_network_dialog->password = std::move(k.text);
                app.wifi_error.reset();
            } else if constexpr (std::is_same_v<T, M::ToggleHiddenPasswordVisible>) {
                if (app.hidden_network_dialog)
                    app.hidden_network_dialog->visible = !app.hidden_network_dialog->visible;
            } else if constexpr (std::is_same_v<T, M::ConnectHidden>) {
                if (app.wifi_busy || !app.hidden_network_dialog) return;
                const auto& d = *app.hidden_network_dialog;
                const std::string ssid(base::utf8::trim(d.ssid));
                if (ssid.empty()) return;
                // An empty password means an open hidden network.
                std::optional<std::string> pw;
                if (!d.password.empty()) pw = d.password;
                start_job(app, ssid, std::move(pw), true);
            } else if constexpr (std::is_same_v<T, M::CancelHidden>) {
                app.hidden_network_dialog.reset();
                app.wifi_error.reset();
                abandon(app);
            }
        },
        m.kind);
}

} // namespace app::wifi
