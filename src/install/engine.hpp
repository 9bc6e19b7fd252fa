#pragma once
// One install on a thread of its own, its shared progress record and the
// process-wide cancel flag.

#include "install/mounts.hpp"
#include "ipc/protocol.hpp"

#include <atomic>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace install {

// A copy of an install's progress, taken in one locked step.
struct InstallSnapshot {
    std::optional<std::string> error; // set once the install failed
    float fraction = 0.0f;            // overall progress, 0 to 1
    bool done = false;                // finished successfully
    ipc::InstallPhase phase = ipc::InstallPhase::Partition;
};

// The progress of one install, shared between the thread that writes it and
// the threads that poll it. Every access takes the lock, for a copy or a few
// stores only.
class InstallStatus {
public:
    InstallStatus() = default;
    explicit InstallStatus(InstallSnapshot start) : fields_(std::move(start)) {}

    InstallSnapshot snapshot() const {
        std::lock_guard lock(mutex_);
        return fields_;
    }
    // Runs `f` on the fields under the lock.
    template <class F>
    void update(F&& f) {
        std::lock_guard lock(mutex_);
        f(fields_);
    }

private:
    mutable std::mutex mutex_;
    InstallSnapshot fields_;
};

// Reference-counted: the engine (or the client's reader thread) holds one
// reference, every reader another.
using InstallHandle = std::shared_ptr<InstallStatus>;

// Asks the running install to stop. Cleared by every start, so a cancel that
// arrives while nothing runs is forgotten.
inline std::atomic<bool> CANCEL_FLAG{false};

using Pipeline =
    std::function<std::expected<void, std::string>(const ipc::InstallPlan&, const InstallHandle&, MountList&)>;

// Clears CANCEL_FLAG and runs the plan on a detached engine thread: the
// simulated install for test plans, the real pipeline otherwise.
InstallHandle start(ipc::InstallPlan plan);

// The engine thread's body: runs the plan through `pipeline` (or the
// simulation for test plans), releases what it mounted and the encrypted
// root, then publishes done or the error.
void run_engine(const ipc::InstallPlan& plan, const InstallHandle& handle, const Pipeline& pipeline);

void set_progress(const InstallHandle& handle, ipc::InstallPhase phase, float fraction);

// "cancelled" when CANCEL_FLAG is set.
[[nodiscard]] std::expected<void, std::string> check_cancelled();

// The scripted install of test plans: phases and fractions of a real one
// over about 8.4 s, stoppable at fixed points.
[[nodiscard]] std::expected<void, std::string> run_simulated(const InstallHandle& handle);

} // namespace install
