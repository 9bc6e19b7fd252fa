#pragma once
// Everything the wizard does to the world outside its own state, behind one
// interface: the real implementation talks to the machine, the tests' one
// records the calls and answers from fields. The wizard's state and `update`
// reach outside through nothing else, so a test sees every side effect.

#include "disks/disks.hpp"
#include "install/engine.hpp"
#include "install/preflight.hpp"
#include "ipc/protocol.hpp"
#include "network/network.hpp"

#include <base/process.hpp>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace app {

// Work for a detached worker; it leaves its result in a shared slot that the
// loop reads at poll.
using Job = std::function<void()>;

class Effects {
public:
    virtual ~Effects() = default;

    // Probes made while the wizard is built.
    virtual bool tpm_present() = 0;
    virtual std::vector<disks::Disk> list_disks() = 0;
    virtual bool default_home_exists() = 0;
    virtual std::vector<network::WifiNetwork> scan_wifi() = 0;
    virtual bool network_online() = 0;

    // The plan check, the install engine and the daemon.
    virtual std::expected<ipc::InstallPlan, std::string> plan_check(const install::WizardChoices& choices) = 0;
    virtual install::InstallHandle start_install(ipc::InstallPlan plan) = 0;
    virtual void cancel_install() = 0;
    virtual std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops) = 0;
    virtual std::expected<void, std::string> apply_locale(const std::string& code) = 0;
    virtual std::expected<void, std::string> stage_account(const std::string& user, const std::string& host,
                                                           const std::string& password, bool encrypt) = 0;
    virtual std::expected<void, std::string> finish_configure() = 0;
    // Removes "configure-pending", then creates the empty "configured".
    virtual std::expected<void, std::string> mark_configured() = 0;

    // Programs, with explicit argument lists (never a shell).
    virtual std::expected<base::Captured, std::string> run_nmcli(std::vector<std::string> args) = 0;
    // Waits for systemctl; its wait status, or why it failed: it could not
    // start, or it refused in words of its own (its wait status, then the
    // first line it wrote to standard error).
    virtual std::expected<int, std::string> run_systemctl(std::vector<std::string> args) = 0;
    virtual void set_kiosk(bool on) = 0;

    // Time and threads.
    virtual std::chrono::steady_clock::time_point now() = 0;
    virtual void sleep_for(std::chrono::milliseconds d) = 0;
    virtual void spawn(Job job) = 0;
    // Ends the process with `status`. The real one never returns (standard
    // output and error flushed, then _exit, so no destructor races a worker);
    // callers return straight after it, so a recording stand-in may return.
    virtual void end_process(int status) = 0;
};

std::shared_ptr<Effects> real_effects();

} // namespace app
