#pragma once
// What the tests' long-running children share: a process the test started
// (by fork, in a namespace of its own), its standard error going to a log
// file, and the ways to wait on it. Killed and reaped when dropped.

#include "support/wait.hpp"

#include <chrono>
#include <string>
#include <sys/types.h>

namespace support {

class ChildProcess {
public:
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Everything the child wrote to standard error so far.
    std::string log() const;
    // Waits until the log contains `text`.
    bool wait_for_log(const std::string& text, std::chrono::milliseconds limit = WAIT_LIMIT) const;

protected:
    ChildProcess() = default;
    ~ChildProcess(); // stop()
    // Waits for the child to end; its wait status, or -1 on time-out.
    int wait_exit_within(std::chrono::milliseconds limit);
    // Kills the child when it still runs, and reaps it.
    void stop();

    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string log_path_;
};

} // namespace support
