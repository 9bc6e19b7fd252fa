#pragma once
// Session persistence: what the previous run of an application left behind
// ("session.json", "state.bin" in its state directory), the start-up decision
// between a fresh launch, a recovery after a crash and a forced restore, and
// the compositor's session protocol that rides on it.
//
// Nothing here ever stops the application: every problem is one line on
// standard error beginning "zem: ", and persistence is then off or the one
// write is skipped.

#include <zem/shell/event_loop.hpp>
#include <zem/shell/session_file.hpp>
#include <zem/shell/types.hpp>

#include <base/fd.hpp>

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

struct xdg_session_v1;
struct xdg_toplevel_session_v1;
struct xdg_toplevel;
struct wl_registry;

namespace zem {

class AppHandle;
struct Global;

enum class RestoreDecision : std::uint8_t { Fresh = 0, Recover = 1, Forced = 2, AnotherInstance = 3 };

// Temporary file beside `path`, fsync, rename over `path`, fsync of the
// directory; the error is the operating system's text.
[[nodiscard]] std::expected<void, std::string> write_atomically(const std::string& path, std::string_view bytes);

// The state directory of `app_id` from XDG_STATE_HOME or HOME; none when the
// id cannot be one path component or neither variable is usable.
std::optional<std::string> session_state_dir(std::string_view app_id);

// The valid previous "session.json" of `dir` with version 1, or nothing. A
// damaged file is moved to "session.json.damaged" with a warning, so that the
// evidence survives the fresh start that overwrites it.
std::optional<SessionFile> read_session_file(const std::string& dir);

class SessionStore {
public:
    std::string dir;
    std::optional<std::string> session_id;
    std::optional<std::vector<std::uint8_t>> last_state;

    static std::optional<SessionStore> open(std::string_view app_id);

    std::optional<std::vector<std::uint8_t>> load_state() const;
    std::optional<std::string> get_session_id() const { return session_id; }
    void mark_started();
    void set_session_id(std::string id);
    void save(const std::optional<std::vector<std::uint8_t>>& bytes);
    void save_and_exit(const std::optional<std::vector<std::uint8_t>>& bytes);
    void write_session_file(bool clean_exit);

    // What the previous run left (read once, when the store was opened).
    const std::optional<SessionFile>& previous() const { return previous_; }
    // Another process holds the directory's lock: it is running now.
    bool lock_busy() const { return lock_busy_; }

private:
    std::optional<SessionFile> previous_;
    // Held for the whole run: the kernel lets go of it when the process dies,
    // so a crashed run never leaves a stale lock behind.
    base::Fd lock_;
    bool lock_busy_ = false;
};

// First match: forced, another holder of the lock, no previous file, a clean
// previous exit, pid 0, our own pid (a crashed run whose id came back after a
// reboot), a live pid, else Recover.
RestoreDecision session_restore_mode(const SessionStore& store, bool forced, pid_t self = ::getpid());

struct SessionState {
    std::optional<SessionStore> store;
    xdg_session_v1* session = nullptr;
    xdg_toplevel_session_v1* toplevel_session = nullptr;
    bool persistence_off = false;
    RestoreDecision restore_mode = RestoreDecision::Fresh;

    // Whether the saves of the run still go to disk.
    bool persisting() const { return store.has_value() && !persistence_off; }
};

// Reads and removes ZEM_SESSION_RESTORE, opens the store, decides, hands a
// recovered state to the application and marks the run started.
SessionState session_restore_setup(std::string_view app_id, AppHandle& app);

// The session protocol: get_session once, restore_toplevel for the main
// window, "created" ids written back, "replaced" ends persistence.
void bind_session_manager(SessionState& state, const std::vector<Global>& globals, wl_registry* registry);
void restore_main_toplevel(SessionState& state, xdg_toplevel* toplevel);
void session_replaced(SessionState& state);

// The 30-second save: first 30 s after insertion, then 30 s after each run.
[[nodiscard]] std::expected<void, RunError> insert_session_save_timer(event_loop::Reactor& reactor,
                                                                      std::function<void()> save);

}  // namespace zem
