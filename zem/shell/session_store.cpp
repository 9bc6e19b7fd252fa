// Session files: atomic writes, the state directory and the start-up
// decision (the codec is in session_file.cpp).

#include <zem/shell/session.hpp>
#include <zem/shell/app.hpp>

#include <base/error.hpp>
#include <base/files.hpp>
#include <base/quote.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace zem {

namespace {

// More than any session file we write; anything larger is not ours, and is
// not read whole.
constexpr off_t kMaxSessionFile = 64 * 1024;

void warn(const std::string& line) { std::fprintf(stderr, "zem: %s\n", line.c_str()); }

std::string errno_now() { return base::errno_text(errno); }

// mkdir -p with 0700 for every directory made here.
std::expected<void, std::string> make_dirs(const std::string& dir) {
    std::string path;
    std::size_t i = 0;
    while (i <= dir.size()) {
        std::size_t slash = dir.find('/', i);
        if (slash == std::string::npos) slash = dir.size();
        path = dir.substr(0, slash);
        i = slash + 1;
        if (path.empty() || path == "." || path == "..") continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::unexpected(errno_now());
    }
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0) return std::unexpected(errno_now());
    if (!S_ISDIR(st.st_mode)) return std::unexpected(base::errno_text(ENOTDIR));
    return {};
}

bool pid_alive(std::uint32_t pid) {
    std::string status = "/proc/" + std::to_string(pid) + "/status";
    return ::access(status.c_str(), R_OK) == 0;
}

enum class ReadMode { SetAsideDamaged, LeaveAlone };

std::optional<SessionFile> read_previous(const std::string& dir, ReadMode mode) {
    std::string path = dir + "/session.json";
    base::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return std::nullopt;  // missing or unreadable: no previous session
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string bytes;
    std::expected<SessionFile, std::string> parsed = std::unexpected(std::string("file too large"));
    if (st.st_size <= kMaxSessionFile) {
        bytes.resize(static_cast<std::size_t>(kMaxSessionFile) + 1);
        std::size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return std::nullopt;
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        if (got <= static_cast<std::size_t>(kMaxSessionFile)) parsed = parse_session_file(bytes);
    }
    if (!parsed) {
        if (mode == ReadMode::SetAsideDamaged) {
            std::string aside = dir + "/session.json.damaged";
            if (::rename(path.c_str(), aside.c_str()) == 0)
                warn("session state: damaged session.json set aside as session.json.damaged: " + parsed.error());
            else
                warn("session state: damaged session.json (" + parsed.error() + "); cannot set it aside: " +
                     errno_now());
        }
        return std::nullopt;
    }
    // A newer format is not damage: leave it for the program that wrote it.
    if (parsed->version != 1) return std::nullopt;
    return *parsed;
}

}  // namespace

std::expected<void, std::string> write_atomically(const std::string& path, std::string_view bytes) {
    std::string tmp = path + ".tmp";
    // A forced restore lets two copies write the same files, and both use
    // this one temporary name: each holds a lock on the temporary file from
    // truncation to rename, and starts over when the file it locked was
    // renamed away meanwhile, so that no rename ever moves a half-written
    // or mixed file into place.
    base::Fd fd;
    for (;;) {
        fd.reset(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        if (!fd) return std::unexpected(errno_now());
        int locked;
        while ((locked = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {}
        if (locked != 0) return std::unexpected(errno_now());
        struct stat mine{}, named{};
        if (::fstat(fd.get(), &mine) != 0) return std::unexpected(errno_now());
        if (::stat(tmp.c_str(), &named) == 0 && named.st_ino == mine.st_ino && named.st_dev == mine.st_dev) break;
    }
    if (::ftruncate(fd.get(), 0) != 0) return std::unexpected(errno_now());
    if (int e = base::write_all(fd.get(), bytes)) return std::unexpected(base::errno_text(e));
    if (::fsync(fd.get()) != 0) return std::unexpected(errno_now());
    if (::rename(tmp.c_str(), path.c_str()) != 0) return std::unexpected(errno_now());
    if (::close(fd.release()) != 0) return std::unexpected(errno_now());
    // Without this the rename itself may not survive a power cut, and the
    // next start would see the old file, or none.
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    base::Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!d) return std::unexpected(errno_now());
    if (::fsync(d.get()) != 0) return std::unexpected(errno_now());
    return {};
}

std::optional<std::string> session_state_dir(std::string_view app_id) {
    if (app_id.empty() || app_id == "." || app_id == ".." || app_id.find('/') != std::string_view::npos)
        return std::nullopt;
    std::string base;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (state && *state) base = state;
    else if (home && *home) base = std::string(home) + "/.local/state";
    else return std::nullopt;
    return base + "/" + std::string(app_id);
}

std::optional<SessionFile> read_session_file(const std::string& dir) {
    return read_previous(dir, ReadMode::SetAsideDamaged);
}

std::optional<SessionStore> SessionStore::open(std::string_view app_id) {
    std::optional<std::string> dir = session_state_dir(app_id);
    if (!dir) {
        std::fprintf(stderr, "zem: session state disabled: cannot derive a state directory for app_id %s\n",
                     base::debug_quote(app_id).c_str());
        return std::nullopt;
    }
    if (auto made = make_dirs(*dir); !made) {
        std::fprintf(stderr, "zem: session state disabled: cannot create %s: %s\n", dir->c_str(),
                     made.error().c_str());
        return std::nullopt;
    }
    SessionStore store;
    store.dir = *dir;
    // The liveness check alone lets two copies started at the same moment
    // both read the same old file and both go ahead; the lock decides.
    store.lock_.reset(::open(dir->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (store.lock_ && ::flock(store.lock_.get(), LOCK_EX | LOCK_NB) != 0) {
        store.lock_busy_ = errno == EWOULDBLOCK;
        store.lock_.reset();
    }
    // The files of a running instance are its own: read them, touch nothing.
    store.previous_ = read_previous(*dir, store.lock_busy_ ? ReadMode::LeaveAlone : ReadMode::SetAsideDamaged);
    if (store.previous_) store.session_id = store.previous_->session_id;
    return store;
}

std::optional<std::vector<std::uint8_t>> SessionStore::load_state() const {
    auto bytes = base::read_file(dir + "/state.bin");
    if (!bytes || bytes->empty()) return std::nullopt;
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

void SessionStore::write_session_file(bool clean_exit) {
    SessionFile f;
    f.session_id = session_id;
    f.clean_exit = clean_exit;
    f.pid = static_cast<std::uint32_t>(::getpid());
    auto bytes = encode_session_file(f);
    if (!bytes) {
        warn("session state: cannot encode session.json: " + bytes.error());
        return;
    }
    if (auto w = write_atomically(dir + "/session.json", *bytes); !w)
        warn("session state: cannot write session.json: " + w.error());
}

void SessionStore::mark_started() { write_session_file(false); }

void SessionStore::set_session_id(std::string id) {
    session_id = std::move(id);
    write_session_file(false);
}

void SessionStore::save(const std::optional<std::vector<std::uint8_t>>& bytes) {
    std::string path = dir + "/state.bin";
    if (!bytes) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            warn("session state: cannot remove state.bin: " + errno_now());
        last_state.reset();
        return;
    }
    if (last_state && *last_state == *bytes) return;
    std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (auto w = write_atomically(path, view); !w) {
        warn("session state: cannot write state.bin: " + w.error());
        return;
    }
    last_state = *bytes;
}

void SessionStore::save_and_exit(const std::optional<std::vector<std::uint8_t>>& bytes) {
    save(bytes);
    write_session_file(true);
}

RestoreDecision session_restore_mode(const SessionStore& store, bool forced, pid_t self) {
    if (forced) return RestoreDecision::Forced;
    if (store.lock_busy()) return RestoreDecision::AnotherInstance;
    const std::optional<SessionFile>& prev = store.previous();
    if (!prev || prev->clean_exit) return RestoreDecision::Fresh;
    if (prev->pid == 0) return RestoreDecision::Recover;
    // Process ids repeat from boot to boot on a device that starts the same
    // way every time: a crashed run may have had the id we have now, and
    // counting ourselves as alive would switch persistence off for good.
    if (prev->pid == static_cast<std::uint32_t>(self)) return RestoreDecision::Recover;
    if (pid_alive(prev->pid)) return RestoreDecision::AnotherInstance;
    return RestoreDecision::Recover;
}

SessionState session_restore_setup(std::string_view app_id, AppHandle& app) {
    bool forced = false;
    if (const char* v = std::getenv("ZEM_SESSION_RESTORE")) {
        forced = std::string_view(v) == "1";
        // Programs we start later must not restore too.
        ::unsetenv("ZEM_SESSION_RESTORE");
    }
    SessionState state;
    state.store = SessionStore::open(app_id);
    if (!state.store) return state;
    RestoreDecision decision = session_restore_mode(*state.store, forced);
    if (decision == RestoreDecision::AnotherInstance) {
        std::fprintf(stderr, "zem: another instance of %.*s is running; session persistence disabled\n",
                     static_cast<int>(app_id.size()), app_id.data());
        state.store.reset();
        return state;
    }
    state.restore_mode = decision;
    if (decision == RestoreDecision::Recover || decision == RestoreDecision::Forced)
        if (auto bytes = state.store->load_state()) app.restore_session_state(std::move(*bytes));
    state.store->mark_started();
    return state;
}

std::expected<void, RunError> insert_session_save_timer(event_loop::Reactor& reactor, std::function<void()> save) {
    auto first = event_loop::checked_add(reactor.now(), std::chrono::seconds(30));
    if (!first) return std::unexpected(RunError{RunError::EventLoop, "save timer insert_source: deadline out of range", {}});
    reactor.add_timer(*first, [save = std::move(save)](event_loop::Instant now) -> event_loop::TimerNext {
        save();
        return event_loop::checked_add(now, std::chrono::seconds(30));
    });
    return {};
}

}  // namespace zem
