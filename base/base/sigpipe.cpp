#include <base/sigpipe.hpp>

#include <csignal>
#include <mutex>

namespace base {

void ignore_sigpipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGPIPE, &sa, nullptr);
    });
}

} // namespace base
