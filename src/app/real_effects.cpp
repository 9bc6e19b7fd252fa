// The wizard's side effects on the real machine.

#include "app/effects.hpp"
#include "client/client.hpp"
#include "install/encryption.hpp"
#include "kiosk/kiosk.hpp"
#include "platform/system_paths.hpp"

#include <base/error.hpp>
#include <base/utf8.hpp>

#include <fmt/core.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

namespace app {

namespace {

std::string wait_text(int status) {
    if (WIFEXITED(status)) return fmt::format("exit status: {}", WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return fmt::format("signal: {}", WTERMSIG(status));
    return fmt::format("wait status: {}", status);
}

// The first line of a program's error output, as text.
std::string first_line(const std::string& bytes) {
    const std::string text = base::utf8::lossy(bytes);
    std::string_view t = base::utf8::trim(text);
    return std::string(base::utf8::trim(t.substr(0, t.find('\n'))));
}

class RealEffects final : public Effects {
public:
    bool tpm_present() override { return install::tpm_present(); }
    std::vector<disks::Disk> list_disks() override { return disks::enumerate(); }
    bool default_home_exists() override {
        struct stat st{};
        return ::stat(platform::paths().default_user_home.c_str(), &st) == 0;
    }
    std::vector<network::WifiNetwork> scan_wifi() override { return network::scan_wifi_networks(); }
    bool network_online() override { return network::network_online(); }

    std::expected<ipc::InstallPlan, std::string> plan_check(const install::WizardChoices& c) override {
        return install::preflight(c);
    }
    install::InstallHandle start_install(ipc::InstallPlan plan) override {
        return client::start_install(std::move(plan));
    }
    void cancel_install() override { client::cancel_install(); }
    std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops) override {
        return client::apply_disk_ops(ops);
    }
    std::expected<void, std::string> apply_locale(const std::string& code) override {
        return client::apply_locale(code);
    }
    std::expected<void, std::string> stage_account(const std::string& user, const std::string& host,
                                                   const std::string& password, bool encrypt) override {
        return client::stage_account(user, host, password, encrypt);
    }
    std::expected<void, std::string> finish_configure() override {
        return client::request(ipc::Request{ipc::Request::FinishConfigure{}});
    }
    std::expected<void, std::string> mark_configured() override {
        const auto& p = platform::paths();
        const std::string pending = p.marker("configure-pending");
        if (::unlink(pending.c_str()) != 0) return std::unexpected("remove " + pending + ": " + base::errno_text(errno));
        const std::string done = p.marker("configured");
        int fd = ::open(done.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0) return std::unexpected("create " + done + ": " + base::errno_text(errno));
        ::close(fd);
        return {};
    }

    std::expected<base::Captured, std::string> run_nmcli(std::vector<std::string> args) override {
        return network::run_nmcli(args);
    }
    std::expected<int, std::string> run_systemctl(std::vector<std::string> args) override {
        args.insert(args.begin(), "systemctl");
        auto r = base::capture(args);
        if (!r) return std::unexpected(r.error());
        // A refusal is shown with systemctl's own words, not just a number.
        if (!r->exited_ok()) {
            const std::string said = first_line(r->err);
            if (!said.empty()) return std::unexpected(wait_text(r->status) + ": " + said);
        }
        return r->status;
    }
    void set_kiosk(bool on) override { kiosk::set_kiosk(on); }

    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::milliseconds d) override { std::this_thread::sleep_for(d); }
    void spawn(Job job) override {
        std::thread([job = std::move(job)] {
            try {
                job();
            } catch (...) {
                // A worker reports through its slot; nothing may escape the thread.
            }
        }).detach();
    }
    [[noreturn]] void end_process(int status) override {
        // Detached workers may still run: static destructors must not race
        // them, so skip them, but lose none of what was written.
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status);
    }
};

} // namespace

std::shared_ptr<Effects> real_effects() { return std::make_shared<RealEffects>(); }

} // namespace app
