#pragma once
// What the wireless page keeps in the wizard's state: its two dialogs, the
// slot a connect worker leaves its result in, and the connectivity check
// that runs off the loop thread.

#include <chrono>
#include <cstddef>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace app {

struct WifiPasswordDialog {
    std::string password;
    std::size_t index = 0; // into `networks`
    bool visible = false;
};

struct HiddenNetworkDialog {
    std::string ssid; // as typed, untrimmed
    std::string password;
    bool visible = false;
};

// Shared by the wizard and one connect worker; the worker stores once, the
// loop takes once.
struct WifiJobSlot {
    std::mutex mutex;
    std::optional<std::expected<void, std::string>> result;

    std::optional<std::expected<void, std::string>> take_result() {
        std::lock_guard lock(mutex);
        auto r = std::move(result);
        result.reset();
        return r;
    }
};

// One connectivity check at a time, at most one started a second: its
// answer waits here until a poll takes it; the page shows the last one.
struct ConnectivitySlot {
    std::mutex mutex;
    std::optional<bool> result;
};

struct ConnectivityCheck {
    std::shared_ptr<ConnectivitySlot> running;
    std::optional<std::chrono::steady_clock::time_point> last_start;
};

} // namespace app
