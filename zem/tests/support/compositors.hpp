#pragma once
// Real headless compositors for toolkit tests.
//
// sway 1.7 headless runs only as an unprivileged user: it is started as
// nobody (65534) with its own runtime directory; clients (root or not)
// connect through the absolute socket path. weston 10 headless runs as root
// and has no seat.

#include "support/process.hpp"

#include <expected>
#include <memory>
#include <string>

namespace zem::test {

class HeadlessCompositor {
public:
    virtual ~HeadlessCompositor();
    // WAYLAND_DISPLAY for clients: the absolute path of the socket.
    const std::string& display() const { return display_; }
    const std::string& runtime_dir() const { return runtime_dir_; }
    pid_t pid() const { return proc_.pid; }
    // Kills the compositor now (SIGKILL) and reaps it.
    void kill_now();
    bool running() const { return running_; }

protected:
    std::string runtime_dir_, work_dir_, display_;
    Spawned proc_;
    bool running_ = false;
};

class Sway final : public HeadlessCompositor {
public:
    // An 800 × 600 output named HEADLESS-1 unless told otherwise. The error
    // says why sway could not start (tests skip on it).
    // With `blank_cursor` the pointer's image is a transparent one: sway
    // draws its cursor into the output here, so screenshots of controls
    // under the pointer would otherwise show the arrow over them.
    [[nodiscard]] static std::expected<std::unique_ptr<Sway>, std::string> start(uint32_t width = 800, uint32_t height = 600,
                                                                               bool blank_cursor = false);
    // swaymsg with these arguments; returns (status, stdout).
    std::pair<int, std::string> msg(const std::vector<std::string>& args) const;
    // A PNG screenshot of the whole output through grim.
    bool screenshot(const std::string& png_path) const;

private:
    std::string ipc_;
};

class Weston final : public HeadlessCompositor {
public:
    // With `screenshots`, weston runs with its debug protocols, which is what
    // lets weston-screenshooter (a client it did not start) take the output.
    [[nodiscard]] static std::expected<std::unique_ptr<Weston>, std::string> start(uint32_t width = 800, uint32_t height = 600,
                                                                                  bool screenshots = false);
    // A PNG of the whole output through weston-screenshooter.
    bool screenshot(const std::string& png_path) const;
};

}  // namespace zem::test
