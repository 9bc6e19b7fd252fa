#include <base/sigpipe.hpp>

#include <csignal>

namespace base {

// Set on every call, not once per process: something may have put the
// default back in between (a forked child before it runs more of our code).
void ignore_sigpipe() {
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGPIPE, &sa, nullptr);
}

} // namespace base
