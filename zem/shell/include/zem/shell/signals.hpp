#pragma once
// SIGTERM and SIGINT reach the loop through a self-pipe.

#include <zem/shell/types.hpp>
#include <zem/shell/event_loop.hpp>

#include <csignal>
#include <expected>
#include <functional>
#include <memory>

namespace zem {

class SignalPipe {
public:
    // Creates the pipe, installs the handlers and inserts the read end into
    // the reactor; `on_exit` runs (on the loop thread) when a signal came.
    [[nodiscard]] static std::expected<std::unique_ptr<SignalPipe>, RunError> install(event_loop::Reactor& reactor,
                                                                        std::function<void()> on_exit);
    // Puts back the handlers that were there before, and only then forgets
    // and closes the pipe: a later signal can neither be written into a
    // reused descriptor nor vanish into a closed pipe.
    ~SignalPipe();

    int write_fd() const { return wr_; }
    int read_fd() const { return rd_; }

    // Reads the pipe dry; returns the name of the signal whose byte begins
    // the last chunk read, or nothing when the pipe was empty.
    std::optional<const char*> drain();

private:
    SignalPipe() = default;
    int rd_ = -1, wr_ = -1;
    struct sigaction old_term_ {}, old_int_ {};
    bool term_installed_ = false, int_installed_ = false;
};

}  // namespace zem
