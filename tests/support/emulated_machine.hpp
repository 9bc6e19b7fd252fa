#pragma once
// An emulated AArch64 machine (qemu-system-aarch64 -M virt, a Cortex-A57,
// no KVM) with UEFI firmware (Debian's AAVMF), one disk image and nothing
// else: no network, no display. Its serial console is the test's: what the
// machine writes there is kept in a file the test reads with a deadline, and
// the test can type on it.
//
//   auto m = support::EmulatedMachine::start(disk.image(), dir.path());
//   ASSERT_TRUE(m) << m.error();
//   ASSERT_TRUE((*m)->wait_for("login:", 10min)) << (*m)->console();
//
// Emulation is slow: a boot to a login prompt takes minutes, so deadlines
// are generous. The machine is killed when the object goes.

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace support {

class EmulatedMachine {
public:
    // Why no machine can be started here (no qemu-system-aarch64, no
    // firmware), or nothing when one can.
    static std::optional<std::string> unavailable();

    // Boots `disk_image` (raw); the firmware's variables and the console log
    // go into `scratch`.
    static std::expected<std::unique_ptr<EmulatedMachine>, std::string> start(const std::string& disk_image,
                                                                               const std::string& scratch);
    ~EmulatedMachine();
    EmulatedMachine(const EmulatedMachine&) = delete;
    EmulatedMachine& operator=(const EmulatedMachine&) = delete;

    // Waits until the console, from byte `from` on, holds `text`; false when
    // the deadline passes or the machine stops first.
    bool wait_for(const std::string& text, std::chrono::milliseconds limit, std::size_t from = 0) const;
    // Where `text` first appears in the console from `from` on (npos: not yet).
    std::size_t find(const std::string& text, std::size_t from = 0) const;
    // Everything the machine has written to its console so far.
    std::string console() const;
    // Types on the serial console.
    bool type(const std::string& text);
    bool running() const;

private:
    EmulatedMachine() = default;
    pid_t pid_ = -1;
    int input_ = -1;
    std::string console_path_;
    mutable bool reaped_ = false;
};

} // namespace support
