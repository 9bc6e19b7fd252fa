#pragma once
// The toolkit's event loop: a small epoll reactor.
//
// One thread owns a `Reactor` and calls `dispatch`, which sleeps until a
// descriptor source is ready, a timer is due, or the timeout passes, and then
// runs the callback of *every* ready source in that one wake-up: descriptor
// sources first, in readiness order, then every due timer, earliest first.
// Sources with their own buffering (the Wayland connection) take part through
// `prepare` / `process` / `cancel`, matching libwayland's prepare_read,
// flush, read_events and dispatch_pending sequence.

#include <chrono>
#include <cstdint>
#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zem::event_loop {

using Clock = std::chrono::steady_clock;
using Instant = Clock::time_point;
using Duration = Clock::duration;
using NowFn = std::function<Instant()>;

// A failure of a source callback or of the wait itself. `code` is the errno
// value when the failure came from the system (ECONNRESET and EPIPE mean the
// peer went away), 0 otherwise.
struct DispatchError {
    int code = 0;
    std::string text;
};

using Status = std::expected<void, DispatchError>;

// A descriptor source that must be told before the reactor sleeps and after
// it woke (the Wayland connection).
class PreparedSource {
public:
    virtual ~PreparedSource() = default;
    // Called before sleeping. Returns true when the source already holds
    // work to dispatch, so the reactor must not sleep.
    [[nodiscard]] virtual std::expected<bool, DispatchError> prepare() = 0;
    // Called after the wait: `revents` is 0 when the descriptor was not ready.
    virtual Status process(uint32_t revents) = 0;
};

using SourceId = uint64_t;
using TimerId = uint64_t;

// What a timer callback answers: a new deadline, or nothing to remove it.
using TimerNext = std::optional<Instant>;

class Reactor {
public:
    // `now` is the clock the timers read; tests inject their own.
    [[nodiscard]] static std::expected<std::unique_ptr<Reactor>, std::string> create(NowFn now = {});
    ~Reactor();
    Reactor(const Reactor&) = delete;
    Reactor& operator=(const Reactor&) = delete;

    Instant now() const { return now_(); }

    // A readable (or `events`) descriptor; the callback gets the epoll events.
    [[nodiscard]] std::expected<SourceId, std::string> add_fd(int fd, uint32_t events,
                                                std::function<Status(uint32_t)> on_ready);
    [[nodiscard]] std::expected<SourceId, std::string> add_prepared(int fd, uint32_t events, PreparedSource* source);
    void remove_source(SourceId id);

    // A timer due at `deadline`; its callback returns the next deadline or
    // nothing. A timer may be removed from inside any callback, its own too.
    TimerId add_timer(Instant deadline, std::function<TimerNext(Instant now)> on_due);
    void remove_timer(TimerId id);
    bool has_timer(TimerId id) const;
    std::optional<Instant> next_deadline() const;

    // One wake-up. `timeout` none = wait until a source or timer is ready.
    Status dispatch(std::optional<Duration> timeout);

private:
    explicit Reactor(int epfd, NowFn now);

    struct FdSource {
        int fd;
        std::function<Status(uint32_t)> on_ready;
        PreparedSource* prepared;
    };
    struct Timer {
        Instant deadline;
        uint64_t seq;
        std::function<TimerNext(Instant)> on_due;
    };

    int epfd_;
    NowFn now_;
    SourceId next_source_ = 1;
    TimerId next_timer_ = 1;
    uint64_t next_seq_ = 1;
    std::unordered_map<SourceId, FdSource> sources_;
    // Heap of (deadline, seq, id); entries of removed or re-armed timers are
    // skipped lazily by checking `timers_`.
    struct HeapEntry {
        Instant deadline;
        uint64_t seq;
        TimerId id;
        bool operator>(const HeapEntry& o) const {
            return deadline != o.deadline ? deadline > o.deadline : seq > o.seq;
        }
    };
    std::vector<HeapEntry> heap_;
    std::unordered_map<TimerId, Timer> timers_;

    void push_heap_entry(TimerId id, const Timer& t);
    void pop_stale();
};

// ---------------------------------------------------------------------------
// Channels: any thread sends, the reactor's thread receives. The receiving
// side is an eventfd source; a send wakes the loop.

namespace detail {
struct ChannelCore {
    std::mutex mutex;
    int eventfd = -1;
    bool receiver_alive = true;
    int senders = 0;
    ~ChannelCore();
    void wake();
};
}  // namespace detail

template <class T>
class Channel;

template <class T>
class Sender {
public:
    Sender() = default;
    Sender(const Sender& o) : state_(o.state_) { retain(); }
    Sender(Sender&& o) noexcept : state_(std::move(o.state_)) {}
    Sender& operator=(Sender o) noexcept {
        std::swap(state_, o.state_);
        return *this;
    }
    ~Sender() { release(); }

    // False when the receiving end is gone (the loop ended) or the sender is
    // empty; the value is then dropped.
    bool send(T value) const {
        if (!state_) return false;
        {
            std::lock_guard lock(state_->core.mutex);
            if (!state_->core.receiver_alive) return false;
            state_->queue.push_back(std::move(value));
        }
        state_->core.wake();
        return true;
    }
    explicit operator bool() const { return state_ != nullptr; }

private:
    friend class Channel<T>;
    struct State {
        detail::ChannelCore core;
        std::deque<T> queue;
    };
    explicit Sender(std::shared_ptr<State> s) : state_(std::move(s)) { retain(); }
    void retain() {
        if (state_) {
            std::lock_guard lock(state_->core.mutex);
            ++state_->core.senders;
        }
    }
    void release() {
        if (state_) {
            std::lock_guard lock(state_->core.mutex);
            --state_->core.senders;
        }
    }
    std::shared_ptr<State> state_;
};

// The receiving end. Owned by the loop thread.
template <class T>
class Channel {
public:
    [[nodiscard]] static std::expected<Channel, std::string> create();
    Channel(Channel&&) noexcept = default;
    Channel& operator=(Channel&&) noexcept = default;
    ~Channel() {
        if (state_) {
            std::lock_guard lock(state_->core.mutex);
            state_->core.receiver_alive = false;
            state_->queue.clear();
        }
    }

    Sender<T> sender() const { return Sender<T>(state_); }
    int fd() const { return state_->core.eventfd; }

    // Takes at most `limit` values, in sending order. When values remain the
    // eventfd is signalled again so that the next wake-up takes them.
    std::vector<T> take(size_t limit);

    // Inserts this channel into the reactor; `on_value` gets every value
    // taken (at most `limit` per wake-up).
    [[nodiscard]] std::expected<SourceId, std::string> insert(Reactor& reactor, size_t limit,
                                                std::function<void(T&&)> on_value);

    bool senders_gone() const {
        std::lock_guard lock(state_->core.mutex);
        return state_->core.senders == 0;
    }

private:
    Channel() = default;
    static std::vector<T> take_from(typename Sender<T>::State& st, size_t limit);
    std::shared_ptr<typename Sender<T>::State> state_;
};

[[nodiscard]] std::expected<int, std::string> make_channel_eventfd();
void drain_eventfd(int fd);

template <class T>
[[nodiscard]] std::expected<Channel<T>, std::string> Channel<T>::create() {
    auto fd = make_channel_eventfd();
    if (!fd) return std::unexpected(fd.error());
    Channel c;
    c.state_ = std::make_shared<typename Sender<T>::State>();
    c.state_->core.eventfd = *fd;
    return c;
}

template <class T>
std::vector<T> Channel<T>::take(size_t limit) {
    return take_from(*state_, limit);
}

template <class T>
std::vector<T> Channel<T>::take_from(typename Sender<T>::State& st, size_t limit) {
    std::vector<T> out;
    drain_eventfd(st.core.eventfd);
    bool more = false;
    {
        std::lock_guard lock(st.core.mutex);
        auto& q = st.queue;
        size_t n = std::min(limit, q.size());
        out.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            out.push_back(std::move(q.front()));
            q.pop_front();
        }
        more = !q.empty();
    }
    if (more) st.core.wake();
    return out;
}

template <class T>
[[nodiscard]] std::expected<SourceId, std::string> Channel<T>::insert(Reactor& reactor, size_t limit,
                                                        std::function<void(T&&)> on_value) {
    auto st = state_;
    return reactor.add_fd(fd(), 0x001 /* EPOLLIN */,
                          [st, limit, cb = std::move(on_value)](uint32_t) -> Status {
                              for (T& v : take_from(*st, limit)) cb(std::move(v));
                              return {};
                          });
}

}  // namespace zem::event_loop

namespace zem::event_loop {
// `base + period`, or none when the instant cannot be represented.
std::optional<Instant> checked_add(Instant base, Duration period);
}  // namespace zem::event_loop
