#include "support/child_process.hpp"

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace support {

using namespace std::chrono_literals;

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
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

int ChildProcess::wait_exit_within(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            return status;
        }
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(10ms);
    }
}

} // namespace support
