#pragma once
// The wizard's outside world for tests: every answer is a field the test
// sets, every call leaves one line in `calls`, workers wait in `pending_jobs`
// until the test runs them on its own thread.

#include "app/effects.hpp"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace support {

class RecordingEffects final : public app::Effects {
public:
    bool tpm = false;
    std::vector<disks::Disk> disks;
    bool home = false;
    std::vector<network::WifiNetwork> networks;
    bool online = false;
    // Unset: a plan for the chosen disk, as the real check would give in test mode.
    std::function<std::expected<ipc::InstallPlan, std::string>(const install::WizardChoices&)> plan;
    std::expected<void, std::string> locale_result;
    std::expected<void, std::string> staging_result;
    std::expected<void, std::string> finish_result;
    std::expected<void, std::string> markers_result;
    std::vector<std::string> disk_ops_result;
    // Set: installs go to the real client (a test plan then runs the real
    // simulated install in this process).
    bool forward_install = false;
    // Set: stage_account and finish_configure go to the real client.
    bool forward_daemon = false;
    // Set: the disks are listed by this instead of `disks` (a real
    // enumeration filtered to the test's own devices).
    std::function<std::vector<disks::Disk>()> disk_source;
    // Set: disk operations go to the real client.
    bool forward_disk_ops = false;
    // Set: nmcli calls and the connectivity check run the program found on
    // the search path (the tests' stand-in).
    bool forward_nmcli = false;
    // Set: spawn throws this, as a thread that cannot be created does.
    std::optional<std::string> spawn_error;
    int systemctl_status = 0; // raw wait status
    std::optional<std::string> systemctl_spawn_error;
    std::chrono::steady_clock::time_point clock{};

    std::vector<std::string> calls;
    std::deque<app::Job> pending_jobs;
    install::InstallHandle last_handle;
    std::optional<ipc::InstallPlan> last_plan;
    std::vector<ipc::RemoteDiskOp> last_disk_ops;

    // Runs the queued workers, in order, on the calling thread.
    void run_jobs();
    void clear() { calls.clear(); }

    bool tpm_present() override { return tpm; }
    std::vector<disks::Disk> list_disks() override;
    bool default_home_exists() override { return home; }
    std::vector<network::WifiNetwork> scan_wifi() override { return networks; }
    bool network_online() override;
    std::expected<ipc::InstallPlan, std::string> plan_check(const install::WizardChoices& c) override;
    install::InstallHandle start_install(ipc::InstallPlan plan) override;
    void cancel_install() override { calls.push_back("cancel_install"); }
    std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops) override;
    std::expected<void, std::string> apply_locale(const std::string& code) override;
    std::expected<void, std::string> stage_account(const std::string& user, const std::string& host,
                                                   const std::string& password, bool encrypt) override;
    std::expected<void, std::string> finish_configure() override;
    std::expected<void, std::string> mark_configured() override;
    std::expected<base::Captured, std::string> run_nmcli(std::vector<std::string> args) override;
    std::expected<int, std::string> run_systemctl(std::vector<std::string> args) override;
    void set_kiosk(bool on) override { calls.push_back(on ? "kiosk on" : "kiosk off"); }
    std::chrono::steady_clock::time_point now() override { return clock; }
    void sleep_for(std::chrono::milliseconds d) override { clock += d; }
    void spawn(app::Job job) override;
    void end_process(int status) override { calls.push_back("end " + std::to_string(status)); }
};

// A disk as the disk model would list it.
disks::Disk make_disk(std::string path, std::uint64_t size, std::vector<disks::Partition> parts = {},
                      std::optional<std::string> table = "gpt");

} // namespace support
