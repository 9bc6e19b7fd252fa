#include <zem/shell/signals.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace zem {
namespace {

std::atomic<int> g_signal_fd{-1};

extern "C" void on_signal(int sig) {
    int saved = errno;
    int fd = g_signal_fd.load(std::memory_order_acquire);
    if (fd >= 0) {
        unsigned char b = static_cast<unsigned char>(sig);
        ssize_t r = write(fd, &b, 1);
        (void)r;
    }
    errno = saved;
}

RunError loop_error(std::string text) { return RunError{RunError::EventLoop, std::move(text), {}}; }

}  // namespace

std::expected<std::unique_ptr<SignalPipe>, RunError> SignalPipe::install(event_loop::Reactor& reactor,
                                                                         std::function<void()> on_exit) {
    std::unique_ptr<SignalPipe> p(new SignalPipe());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return std::unexpected(loop_error(std::string("signal pipe2: ") + std::strerror(errno)));
    p->rd_ = fds[0];
    p->wr_ = fds[1];
    g_signal_fd.store(p->wr_, std::memory_order_release);

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &sa, &p->old_term_) != 0)
        return std::unexpected(loop_error(std::string("sigaction: ") + std::strerror(errno)));
    p->term_installed_ = true;
    if (sigaction(SIGINT, &sa, &p->old_int_) != 0)
        return std::unexpected(loop_error(std::string("sigaction: ") + std::strerror(errno)));
    p->int_installed_ = true;

    SignalPipe* raw = p.get();
    auto id = reactor.add_fd(p->rd_, EPOLLIN, [raw, cb = std::move(on_exit)](uint32_t) -> event_loop::Status {
        if (auto name = raw->drain()) {
            std::fprintf(stderr, "zem: %s received, exiting cleanly\n", *name);
            cb();
        }
        return {};
    });
    if (!id) return std::unexpected(loop_error("signal pipe insert_source: " + id.error()));
    return p;
}

std::optional<const char*> SignalPipe::drain() {
    unsigned char buf[16];
    ssize_t n = read(rd_, buf, sizeof buf);
    if (n <= 0) return std::nullopt;
    unsigned char first = buf[0];
    while (true) {
        n = read(rd_, buf, sizeof buf);
        if (n <= 0) break;
        first = buf[0];
    }
    switch (first) {
        case SIGTERM: return "SIGTERM";
        case SIGINT: return "SIGINT";
        default: return "signal";
    }
}

SignalPipe::~SignalPipe() {
    if (term_installed_) sigaction(SIGTERM, &old_term_, nullptr);
    if (int_installed_) sigaction(SIGINT, &old_int_, nullptr);
    int expected = wr_;
    g_signal_fd.compare_exchange_strong(expected, -1, std::memory_order_acq_rel);
    if (rd_ >= 0) close(rd_);
    if (wr_ >= 0) close(wr_);
}

}  // namespace zem
