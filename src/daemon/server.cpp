#include "daemon/server.hpp"

#include "install/disk_ops.hpp"
#include "install/encryption.hpp"
#include "install/staging.hpp"
#include "install/target_config.hpp"
#include <base/fd.hpp>
#include <base/error.hpp>
#include <base/sigpipe.hpp>
#include "platform/system_paths.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <condition_variable>
#include <malloc.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace daemon_server {

namespace {

using namespace std::chrono_literals;

using base::errno_text;

// One line on standard error in a single write, so that lines of parallel
// connections never interleave.
void log_line(std::string line) {
    line += '\n';
    std::size_t off = 0;
    while (off < line.size()) {
        ssize_t n = ::write(STDERR_FILENO, line.data() + off, line.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        off += static_cast<std::size_t>(n);
    }
}

bool marker_present(const char* name) {
    struct stat st {};
    return ::stat(platform::paths().marker(name).c_str(), &st) == 0;
}

// Ends the reading side of connections whose request line has not arrived
// in time, however slowly it trickles in. One thread serves every
// connection; it starts with the first one.
class LineDeadlines {
public:
    static LineDeadlines& instance() {
        static LineDeadlines* d = new LineDeadlines(); // lives as long as the process
        return *d;
    }

    // Watches `fd` until `disarm`; the descriptor must stay open until then.
    std::uint64_t arm(int fd, std::chrono::steady_clock::duration limit) {
        std::lock_guard lock(mutex_);
        if (!started_) {
            std::thread([this] { watch(); }).detach();
            started_ = true;
        }
        const std::uint64_t id = ++next_id_;
        entries_.emplace(id, Entry{std::chrono::steady_clock::now() + limit, fd, false});
        wake_.notify_one();
        return id;
    }

    // Stops watching; true when the deadline had passed and the reading
    // side was shut.
    bool disarm(std::uint64_t id) {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(id);
        if (it == entries_.end()) return false;
        bool expired = it->second.expired;
        entries_.erase(it);
        return expired;
    }

private:
    struct Entry {
        std::chrono::steady_clock::time_point deadline;
        int fd;
        bool expired;
    };

    void watch() {
        std::unique_lock lock(mutex_);
        for (;;) {
            auto next = std::chrono::steady_clock::time_point::max();
            const auto now = std::chrono::steady_clock::now();
            for (auto& [id, e] : entries_) {
                if (e.expired) continue;
                if (e.deadline <= now) {
                    // Disarm happens before close, so `fd` is still ours.
                    ::shutdown(e.fd, SHUT_RD);
                    e.expired = true;
                } else {
                    next = std::min(next, e.deadline);
                }
            }
            if (next == std::chrono::steady_clock::time_point::max())
                wake_.wait(lock);
            else
                wake_.wait_until(lock, next);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uint64_t, Entry> entries_;
    std::uint64_t next_id_ = 0;
    bool started_ = false;
};

// Clears DAEMON_BUSY when the holder's scope ends, however it ends.
struct BusyRelease {
    ~BusyRelease() { DAEMON_BUSY.store(false); }
};

// A peer whose request was refused may still be sending the rest of it.
// Closing with its bytes unread would reset the connection, and the peer,
// stopped in its write, may never read the answer. So the answer is ended
// with a shutdown of this side's sending half, and what is still coming is
// read away, within a bound of bytes and time.
void drain_refused(int fd) {
    ::shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + REFUSED_DRAIN_TIME;
    std::size_t left = REFUSED_DRAIN_BYTES;
    std::vector<char> buf(64 * 1024);
    while (left > 0) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (wait.count() <= 0) return;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(wait.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        const ssize_t n = ::read(fd, buf.data(), std::min(buf.size(), left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        left -= static_cast<std::size_t>(n);
    }
}

void answer(int fd, const std::expected<void, std::string>& outcome) {
    if (outcome)
        send_event(fd, ipc::Event::Done{});
    else
        send_event(fd, ipc::Event::Failed{outcome.error()});
}

void handle_disk_ops(int fd, const std::vector<ipc::RemoteDiskOp>& ops) {
    if (!marker_present("install-pending")) {
        send_event(fd, ipc::Event::Failed{not_pending()});
        return;
    }
    // Partition tables are not edited under a running install (nor by two
    // batches at once).
    if (DAEMON_BUSY.exchange(true)) {
        send_event(fd, ipc::Event::Failed{std::string(ipc::BUSY)});
        return;
    }
    std::vector<std::string> errors;
    {
        BusyRelease release;
        log_line("daemon: applying " + std::to_string(ops.size()) + " disk operation(s)");
        try {
            errors = install::apply_disk_ops(ops);
        } catch (const std::exception& e) {
            errors = {std::string("disk operations: ") + e.what()};
        }
    }
    if (errors.empty()) {
        send_event(fd, ipc::Event::Done{});
        return;
    }
    std::string joined;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (i) joined += '\n';
        joined += errors[i];
    }
    send_event(fd, ipc::Event::Failed{joined});
}

} // namespace

std::string not_pending() { return std::string(ipc::NOT_PENDING); }

bool send_event(int fd, const ipc::Event& event) {
    auto r = ipc::write_line(fd, event);
    if (!r) {
        log_line("daemon: " + r.error());
        return false;
    }
    return true;
}

void finish_configure(int fd) {
    const auto& p = platform::paths();
    ::unlink(p.marker("configure-pending").c_str());
    const std::string configured = p.marker("configured");
    int out = ::open(configured.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        send_event(fd, ipc::Event::Failed{"write " + configured + ": " + errno_text(errno)});
        return;
    }
    ::close(out);
    send_event(fd, ipc::Event::Done{});
}

void handle_install(int fd, ipc::InstallPlan plan, const InstallStarter& start) {
    if (!marker_present("install-pending")) {
        send_event(fd, ipc::Event::Failed{not_pending()});
        return;
    }
    if (DAEMON_BUSY.exchange(true)) {
        send_event(fd, ipc::Event::Failed{std::string(ipc::BUSY)});
        return;
    }
    BusyRelease release;
    plan.test = false;
    log_line("daemon: install requested: " + ipc::debug_string(plan.mode) + " on " + plan.disk.string());
    install::InstallHandle handle;
    try {
        handle = start(std::move(plan));
    } catch (const std::exception& e) {
        log_line(std::string("daemon: install failed: ") + e.what());
        send_event(fd, ipc::Event::Failed{std::string("start install: ") + e.what()});
        return;
    }

    auto last_phase = ipc::InstallPhase::Partition;
    float last_fraction = -1.0f;
    bool writable = true;
    for (;;) {
        std::this_thread::sleep_for(200ms);
        const auto s = handle->snapshot();
        if (writable && (s.phase != last_phase || s.fraction != last_fraction))
            writable = send_event(fd, ipc::Event::Progress{s.phase, s.fraction});
        if (s.error) {
            log_line("daemon: install failed: " + *s.error);
            if (writable) send_event(fd, ipc::Event::Failed{*s.error});
            break;
        }
        last_phase = s.phase;
        last_fraction = s.fraction;
        if (s.done) {
            log_line("daemon: install finished");
            if (writable) send_event(fd, ipc::Event::Done{});
            break;
        }
    }
}

void handle_connection(int fd, const InstallStarter& start) {
    base::Fd conn{fd};
    base::Fd reading{::fcntl(fd, F_DUPFD_CLOEXEC, 0)};
    if (!reading) {
        log_line("daemon: clone socket: " + errno_text(errno));
        return;
    }
    // A peer that never completes its line must not hold this thread
    // forever; what follows the line is never bounded.
    auto& deadlines = LineDeadlines::instance();
    const auto watch = deadlines.arm(fd, REQUEST_LINE_TIMEOUT);
    ipc::RequestRead read = ipc::read_request(reading.get());
    const bool timed_out = deadlines.disarm(watch);
    reading.reset();

    // Out of time counts as a failed read: no answer.
    if (timed_out || read.status == ipc::RequestRead::Status::ReadFailed) return;
    if (read.status == ipc::RequestRead::Status::BadRequest) {
        if (send_event(fd, ipc::Event::Failed{read.error})) drain_refused(fd);
        return;
    }

    const ipc::Request& req = read.request;
    if (auto* r = req.get<ipc::Request::Install>()) {
        handle_install(fd, r->plan, start);
    } else if (req.get<ipc::Request::CancelInstall>()) {
        log_line("daemon: install cancellation requested");
        install::CANCEL_FLAG.store(true);
        send_event(fd, ipc::Event::Done{});
    } else if (auto* r = req.get<ipc::Request::DiskOps>()) {
        handle_disk_ops(fd, r->ops);
    } else if (auto* r = req.get<ipc::Request::ApplyLocale>()) {
        if (!marker_present("configure-pending")) {
            send_event(fd, ipc::Event::Failed{not_pending()});
            return;
        }
        log_line("daemon: applying locale " + r->locale + " to the running system");
        (void)install::apply_locale(platform::paths().host_root, r->locale);
        send_event(fd, ipc::Event::Done{});
    } else if (auto* r = req.get<ipc::Request::StageAccount>()) {
        if (!marker_present("configure-pending")) {
            send_event(fd, ipc::Event::Failed{not_pending()});
            return;
        }
        log_line("daemon: staging account " + r->username + " (encrypt: " + (r->encrypt ? "true" : "false") +
                 ") for the next boot");
        answer(fd, install::stage_account(r->username, r->hostname, r->password, r->encrypt));
    } else if (req.get<ipc::Request::FinishConfigure>()) {
        finish_configure(fd);
    }
}

std::expected<void, std::string> run() {
    base::ignore_sigpipe();
    // Any local user may connect, as often as they like, and have a
    // connection thread buffer a request line up to its limit. Left to the
    // allocator's defaults, each connection thread's pool keeps what it
    // freed: a burst of long lines left the daemon holding some 200 MB for
    // the rest of its life. One pool (the daemon serves one client at a
    // time), trimmed as each connection ends, keeps it where it started.
    ::mallopt(M_ARENA_MAX, 1);
    const auto& p = platform::paths();
    const std::string socket_path = p.daemon_socket();

    std::error_code ec;
    std::filesystem::create_directories(p.run_dir, ec);
    if (ec) return std::unexpected("mkdir " + p.run_dir + ": " + ec.message());

    ::unlink(socket_path.c_str());

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof addr.sun_path)
        return std::unexpected("bind " + socket_path + ": " + errno_text(ENAMETOOLONG));
    std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);

    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return std::unexpected("bind " + socket_path + ": " + errno_text(errno));
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, INT_MAX) != 0) {
        int err = errno;
        ::close(listener);
        return std::unexpected("bind " + socket_path + ": " + errno_text(err));
    }
    // Every local user may talk to the daemon; the markers decide.
    if (::chmod(socket_path.c_str(), 0666) != 0) {
        int err = errno;
        ::close(listener);
        return std::unexpected("chmod " + socket_path + ": " + errno_text(err));
    }
    log_line("tavix-installer daemon: listening on " + socket_path);

    for (;;) {
        int conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) {
            if (errno == EINTR) continue;
            log_line("daemon: accept: " + errno_text(errno));
            // Out of descriptors or memory: give the system a moment rather
            // than spinning on the same failure.
            std::this_thread::sleep_for(100ms);
            continue;
        }
        try {
            std::thread([conn] {
                try {
                    handle_connection(conn);
                } catch (const std::exception& e) {
                    log_line(std::string("daemon: ") + e.what());
                }
                // What the connection freed goes back to the system now,
                // also where it lies between blocks still in use.
                ::malloc_trim(0);
            }).detach();
        } catch (const std::exception& e) {
            log_line(std::string("daemon: connection thread: ") + e.what());
            ::close(conn);
        }
    }
}

} // namespace daemon_server
