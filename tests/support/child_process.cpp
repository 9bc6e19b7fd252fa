#include "support/child_process.hpp"

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace support {

ChildProcess::~ChildProcess() { stop(); }

void ChildProcess::stop() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
    }
}

std::string ChildProcess::log() const {
    std::ifstream in(log_path_, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool ChildProcess::wait_for_log(const std::string& text, std::chrono::milliseconds limit) const {
    return wait_until([&] { return log().find(text) != std::string::npos; }, limit);
}

int ChildProcess::wait_exit_within(std::chrono::milliseconds limit) {
    int status = 0;
    if (!wait_until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) return -1;
    reaped_ = true;
    return status;
}

} // namespace support
