#include "client/client.hpp"

#include "install/disk_ops.hpp"
#include "install/encryption.hpp"
#include "install/staging.hpp"
#include "install/target_config.hpp"
#include <base/fd.hpp>
#include <base/error.hpp>
#include <base/sigpipe.hpp>
#include "platform/system_paths.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace client {

namespace {

using ipc::Event;
using ipc::EventReader;
using ipc::InstallPlan;
using ipc::NO_DAEMON;
using ipc::RemoteDiskOp;
using ipc::Request;
using ipc::write_line;

constexpr std::string_view CONNECTION_LOST = "connection to the install daemon lost";

using base::errno_text;

void log_line(std::string line) {
    line += '\n';
    (void)!::write(STDERR_FILENO, line.data(), line.size());
}

// A connected socket, or the system's error text.
std::expected<int, std::string> connect_daemon() {
    base::ignore_sigpipe();
    const std::string path = platform::paths().daemon_socket();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return std::unexpected(errno_text(ENAMETOOLONG));
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::unexpected(errno_text(errno));
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd);
        return std::unexpected(errno_text(err));
    }
    return fd;
}

install::InstallHandle handle_with_error(std::string error) {
    install::InstallSnapshot start;
    start.error = std::move(error);
    return std::make_shared<install::InstallStatus>(std::move(start));
}

} // namespace

bool is_root() {
    struct stat st {};
    const std::string self = platform::paths().proc + "/self";
    return ::stat(self.c_str(), &st) == 0 && st.st_uid == 0;
}

std::expected<void, std::string> run_remote_install(int fd, const InstallPlan& plan,
                                                    const install::InstallHandle& handle) {
    base::Fd conn(fd);
    base::Fd writing(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (writing.get() < 0) return std::unexpected("clone socket: " + errno_text(errno));
    if (auto w = write_line(writing.get(), Request::Install{plan}); !w) return w;

    EventReader events(conn.get());
    for (;;) {
        auto next = events.next();
        if (!next) return std::unexpected(next.error());
        if (!*next) return std::unexpected(std::string(CONNECTION_LOST));
        const Event& ev = **next;
        if (auto* p = ev.get<Event::Progress>()) {
            handle->update([&](install::InstallSnapshot& s) {
                s.phase = p->phase;
                s.fraction = p->fraction;
            });
        } else if (ev.get<Event::Done>()) {
            handle->update([](install::InstallSnapshot& s) {
                s.fraction = 1.0f;
                s.done = true;
            });
            return {};
        } else if (auto* f = ev.get<Event::Failed>()) {
            handle->update([&](install::InstallSnapshot& s) { s.error = f->message; });
            return {};
        }
    }
}

void remote_install_thread(int fd, InstallPlan plan, install::InstallHandle handle) {
    std::expected<void, std::string> outcome;
    try {
        outcome = run_remote_install(fd, plan, handle);
    } catch (const std::exception& e) {
        outcome = std::unexpected(std::string("install: ") + e.what());
    }
    if (!outcome) {
        handle->update([&](install::InstallSnapshot& s) {
            if (!s.done && !s.error) s.error = outcome.error();
        });
    }
}

install::InstallHandle start_install(InstallPlan plan) {
    if (plan.test) return install::start(std::move(plan));
    auto conn = connect_daemon();
    if (!conn) {
        if (is_root()) {
            log_line("ipc: daemon unreachable (" + conn.error() + "); running the engine in-process");
            return install::start(std::move(plan));
        }
        log_line("ipc: daemon unreachable (" + conn.error() + ") and not root");
        return handle_with_error(std::string(NO_DAEMON));
    }
    auto handle = std::make_shared<install::InstallStatus>();
    try {
        std::thread(remote_install_thread, *conn, std::move(plan), handle).detach();
    } catch (const std::exception& e) {
        ::close(*conn);
        handle->update([&](install::InstallSnapshot& s) {
            s.error = std::string("start install reader: ") + e.what();
        });
    }
    return handle;
}

void cancel_install() {
    install::CANCEL_FLAG.store(true);
    auto conn = connect_daemon();
    if (!conn) return;
    (void)write_line(*conn, Request::CancelInstall{});
    ::close(*conn);
}

std::expected<void, std::string> request(const Request& req) {
    auto conn = connect_daemon();
    if (!conn)
        return std::unexpected("connect " + platform::paths().daemon_socket() + ": " + conn.error());
    base::Fd reading(*conn);
    base::Fd writing(::fcntl(reading.get(), F_DUPFD_CLOEXEC, 0));
    if (writing.get() < 0) return std::unexpected("clone socket: " + errno_text(errno));
    if (auto w = write_line(writing.get(), req); !w) return w;

    EventReader events(reading.get());
    for (;;) {
        auto next = events.next();
        if (!next) return std::unexpected(next.error());
        if (!*next) return std::unexpected(std::string(CONNECTION_LOST));
        const Event& ev = **next;
        if (ev.get<Event::Done>()) return {};
        if (auto* f = ev.get<Event::Failed>()) return std::unexpected(f->message);
    }
}

std::vector<std::string> apply_disk_ops(const std::vector<RemoteDiskOp>& ops) {
    if (ops.empty()) return {};
    auto probe = connect_daemon();
    if (!probe) {
        if (is_root()) return install::apply_disk_ops(ops);
        return {std::string(NO_DAEMON)};
    }
    ::close(*probe);
    if (auto r = request(Request::DiskOps{ops}); !r) return {r.error()};
    return {};
}

std::expected<void, std::string> apply_locale(const std::string& locale) {
    auto probe = connect_daemon();
    // In this process the writes are this user's: a wizard that is not
    // root hears that nothing could be written.
    if (!probe) return install::apply_locale(platform::paths().host_root, locale);
    ::close(*probe);
    return request(Request::ApplyLocale{locale});
}

std::expected<void, std::string> stage_account(const std::string& username, const std::string& hostname,
                                               const std::string& password, bool encrypt) {
    return request(Request::StageAccount{username, hostname, password, encrypt});
}

} // namespace client
