#include "platform/sigpipe.hpp"

#include <csignal>
#include <mutex>

namespace platform {

void ignore_sigpipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGPIPE, &sa, nullptr);
    });
}

} // namespace platform
