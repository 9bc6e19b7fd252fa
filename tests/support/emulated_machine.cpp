#include "support/emulated_machine.hpp"

#include "support/wait.hpp"

#include <base/files.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace support {

namespace {

const std::string QEMU = "/usr/bin/qemu-system-aarch64";
const std::string FIRMWARE_CODE = "/usr/share/AAVMF/AAVMF_CODE.fd";
const std::string FIRMWARE_VARS = "/usr/share/AAVMF/AAVMF_VARS.fd";

} // namespace

std::optional<std::string> EmulatedMachine::unavailable() {
    if (::access(QEMU.c_str(), X_OK) != 0) return QEMU + " is missing (qemu-system-arm)";
    if (::access(FIRMWARE_CODE.c_str(), R_OK) != 0 || ::access(FIRMWARE_VARS.c_str(), R_OK) != 0)
        return "the AAVMF firmware is missing (qemu-efi-aarch64)";
    return std::nullopt;
}

std::expected<std::unique_ptr<EmulatedMachine>, std::string> EmulatedMachine::start(const std::string& disk_image,
                                                                                     const std::string& scratch) {
    if (auto why = unavailable()) return std::unexpected(*why);
    namespace sfs = std::filesystem;
    std::error_code ec;
    // The firmware writes its variables (boot entries) into its own copy.
    const std::string vars = scratch + "/AAVMF_VARS.fd";
    sfs::copy_file(FIRMWARE_VARS, vars, sfs::copy_options::overwrite_existing, ec);
    if (ec) return std::unexpected("copy " + FIRMWARE_VARS + ": " + ec.message());
    std::unique_ptr<EmulatedMachine> m(new EmulatedMachine());
    m->console_path_ = scratch + "/console.log";
    int out = ::open(m->console_path_.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return std::unexpected("open " + m->console_path_ + ": " + std::strerror(errno));
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        ::close(out);
        return std::unexpected(std::string("pipe: ") + std::strerror(errno));
    }
    std::vector<std::string> args{QEMU,
                                  "-M", "virt", "-cpu", "cortex-a57", "-smp", "2", "-m", "1024",
                                  "-nodefaults", "-display", "none", "-monitor", "none", "-nic", "none",
                                  "-serial", "stdio",
                                  "-drive", "if=pflash,format=raw,readonly=on,file=" + FIRMWARE_CODE,
                                  "-drive", "if=pflash,format=raw,file=" + vars,
                                  "-drive", "if=none,id=disk,format=raw,file=" + disk_image,
                                  "-device", "virtio-blk-pci,drive=disk"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_adddup2(&fa, out, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, QEMU.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out);
    if (rc != 0) {
        ::close(in[1]);
        return std::unexpected("spawn " + QEMU + ": " + std::strerror(rc));
    }
    m->pid_ = pid;
    m->input_ = in[1];
    return m;
}

EmulatedMachine::~EmulatedMachine() {
    if (input_ >= 0) ::close(input_);
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
    }
}

std::string EmulatedMachine::console() const { return base::read_file(console_path_).value_or(""); }

std::size_t EmulatedMachine::find(const std::string& text, std::size_t from) const {
    const std::string c = console();
    return from > c.size() ? std::string::npos : c.find(text, from);
}

bool EmulatedMachine::running() const {
    if (reaped_) return false;
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

bool EmulatedMachine::wait_for(const std::string& text, std::chrono::milliseconds limit, std::size_t from) const {
    bool seen = false;
    support::wait_until(
        [&] {
            seen = find(text, from) != std::string::npos;
            return seen || !running();
        },
        limit);
    return seen || find(text, from) != std::string::npos;
}

bool EmulatedMachine::type(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(input_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace support
