#pragma once
// Waiting for a condition instead of for a time: a test that sleeps a fixed
// while passes on an idle machine and fails on a loaded one. The deadline is
// only there so a fault ends the test; it is generous because reaching it
// means failure, never success.

#include <chrono>
#include <functional>
#include <thread>

namespace support {

inline constexpr std::chrono::milliseconds WAIT_LIMIT = std::chrono::seconds(30);

// Checks `cond` until it holds or `limit` has passed; whether it held.
inline bool wait_until(const std::function<bool()>& cond, std::chrono::milliseconds limit = WAIT_LIMIT) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (cond()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        // The conditions are cheap to check (a file, a snapshot, a process
        // table entry); a few milliseconds between looks keeps the loop
        // off the processor the code under test needs.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace support
