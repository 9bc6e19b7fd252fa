#include "support/wizard_effects.hpp"

#include "client/client.hpp"

#include <stdexcept>

namespace support {

void RecordingEffects::run_jobs() {
    while (!pending_jobs.empty()) {
        app::Job job = std::move(pending_jobs.front());
        pending_jobs.pop_front();
        job();
    }
}

std::vector<disks::Disk> RecordingEffects::list_disks() {
    calls.push_back("list_disks");
    if (disk_source) return disk_source();
    return disks;
}

std::expected<ipc::InstallPlan, std::string> RecordingEffects::plan_check(const install::WizardChoices& c) {
    calls.push_back("plan_check");
    if (plan) return plan(c);
    ipc::InstallPlan p;
    if (auto* w = std::get_if<install::TargetSelection::WholeDisk>(&c.target.kind)) p.disk = w->disk;
    p.mode = ipc::TargetMode{ipc::TargetMode::WholeDisk{}};
    p.locale = c.language;
    p.test = c.test;
    return p;
}

install::InstallHandle RecordingEffects::start_install(ipc::InstallPlan p) {
    calls.push_back("start_install");
    last_plan = p;
    last_handle = forward_install ? client::start_install(std::move(p)) : std::make_shared<install::InstallStatus>();
    return last_handle;
}

std::vector<std::string> RecordingEffects::apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops) {
    calls.push_back("apply_disk_ops " + std::to_string(ops.size()));
    last_disk_ops = ops;
    if (forward_disk_ops) return client::apply_disk_ops(ops);
    return disk_ops_result;
}

std::expected<void, std::string> RecordingEffects::apply_locale(const std::string& code) {
    calls.push_back("apply_locale " + code);
    return locale_result;
}

std::expected<void, std::string> RecordingEffects::stage_account(const std::string& user, const std::string& host,
                                                                 const std::string& password, bool encrypt) {
    calls.push_back("stage_account " + user + " " + host + " " + password + " " + (encrypt ? "1" : "0"));
    if (forward_daemon) return client::stage_account(user, host, password, encrypt);
    return staging_result;
}

std::expected<void, std::string> RecordingEffects::finish_configure() {
    calls.push_back("finish_configure");
    if (forward_daemon) return client::request(ipc::Request{ipc::Request::FinishConfigure{}});
    return finish_result;
}

std::expected<void, std::string> RecordingEffects::mark_configured() {
    calls.push_back("mark_configured");
    return markers_result;
}

std::expected<base::Captured, std::string> RecordingEffects::run_nmcli(std::vector<std::string> args) {
    std::string line = "nmcli";
    for (auto& a : args) line += " " + a;
    calls.push_back(line);
    if (forward_nmcli) return network::run_nmcli(args);
    return base::Captured{};
}

bool RecordingEffects::network_online() {
    calls.push_back("network_online");
    if (forward_nmcli) return network::network_online();
    return online;
}

std::expected<int, std::string> RecordingEffects::run_systemctl(std::vector<std::string> args) {
    std::string line = "systemctl";
    for (auto& a : args) line += " " + a;
    calls.push_back(line);
    if (systemctl_spawn_error) return std::unexpected(*systemctl_spawn_error);
    return systemctl_status;
}

void RecordingEffects::spawn(app::Job job) {
    calls.push_back("spawn");
    if (spawn_error) throw std::runtime_error(*spawn_error);
    pending_jobs.push_back(std::move(job));
}

disks::Disk make_disk(std::string path, std::uint64_t size, std::vector<disks::Partition> parts,
                      std::optional<std::string> table) {
    disks::Disk d;
    d.path = std::move(path);
    d.size_bytes = size;
    d.partitions = std::move(parts);
    d.table = std::move(table);
    d.kind = disks::DeviceKind::SATA;
    d.label = "Test Disk";
    return d;
}

} // namespace support
