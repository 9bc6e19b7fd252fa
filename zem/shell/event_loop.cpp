#include <zem/shell/event_loop.hpp>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace zem::event_loop {

namespace {
std::string errno_text(int e) { return std::strerror(e); }
}  // namespace

std::expected<std::unique_ptr<Reactor>, std::string> Reactor::create(NowFn now) {
    int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) return std::unexpected("epoll_create1: " + errno_text(errno));
    if (!now) now = [] { return Clock::now(); };
    return std::unique_ptr<Reactor>(new Reactor(fd, std::move(now)));
}

Reactor::Reactor(int epfd, NowFn now) : epfd_(epfd), now_(std::move(now)) {}

Reactor::~Reactor() {
    if (epfd_ >= 0) close(epfd_);
}

std::expected<SourceId, std::string> Reactor::add_fd(int fd, uint32_t events,
                                                     std::function<Status(uint32_t)> on_ready) {
    SourceId id = next_source_++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) != 0) return std::unexpected("epoll_ctl: " + errno_text(errno));
    sources_.emplace(id, FdSource{fd, std::move(on_ready), nullptr});
    return id;
}

std::expected<SourceId, std::string> Reactor::add_prepared(int fd, uint32_t events, PreparedSource* source) {
    auto id = add_fd(fd, events, {});
    if (id) sources_.at(*id).prepared = source;
    return id;
}

void Reactor::remove_source(SourceId id) {
    auto it = sources_.find(id);
    if (it == sources_.end()) return;
    epoll_ctl(epfd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
    sources_.erase(it);
}

void Reactor::push_heap_entry(TimerId id, const Timer& t) {
    heap_.push_back(HeapEntry{t.deadline, t.seq, id});
    std::push_heap(heap_.begin(), heap_.end(), std::greater<>{});
}

TimerId Reactor::add_timer(Instant deadline, std::function<TimerNext(Instant)> on_due) {
    TimerId id = next_timer_++;
    Timer t{deadline, next_seq_++, std::move(on_due)};
    push_heap_entry(id, t);
    timers_.emplace(id, std::move(t));
    return id;
}

void Reactor::remove_timer(TimerId id) { timers_.erase(id); }

bool Reactor::has_timer(TimerId id) const { return timers_.contains(id); }

void Reactor::pop_stale() {
    while (!heap_.empty()) {
        const HeapEntry& top = heap_.front();
        auto it = timers_.find(top.id);
        if (it != timers_.end() && it->second.seq == top.seq) return;
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>{});
        heap_.pop_back();
    }
}

std::optional<Instant> Reactor::next_deadline() const {
    const_cast<Reactor*>(this)->pop_stale();
    if (heap_.empty()) return std::nullopt;
    return heap_.front().deadline;
}

Status Reactor::dispatch(std::optional<Duration> timeout) {
    // Prepared sources first: one with buffered work forbids sleeping.
    bool pending_work = false;
    std::vector<SourceId> prepared;
    for (auto& [id, src] : sources_) {
        if (src.prepared == nullptr) continue;
        auto r = src.prepared->prepare();
        if (!r) return std::unexpected(r.error());
        if (*r) pending_work = true;
        prepared.push_back(id);
    }

    Instant now = now_();
    std::optional<Duration> wait = timeout;
    if (auto d = next_deadline()) {
        Duration until = *d > now ? *d - now : Duration::zero();
        if (!wait || until < *wait) wait = until;
    }
    if (pending_work) wait = Duration::zero();

    int ms = -1;
    if (wait) {
        auto w = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
        ms = static_cast<int>(std::clamp<int64_t>(w, 0, INT_MAX));
    }

    constexpr int kMaxEvents = 32;
    epoll_event events[kMaxEvents];
    int n = epoll_wait(epfd_, events, kMaxEvents, ms);
    if (n < 0) {
        int e = errno;
        if (e != EINTR) {
            // The prepared sources hold a read intention: give it back.
            for (SourceId id : prepared)
                if (auto it = sources_.find(id); it != sources_.end()) (void)it->second.prepared->process(0);
            return std::unexpected(DispatchError{e, "epoll_wait: " + errno_text(e)});
        }
        n = 0;
    }

    std::unordered_map<SourceId, uint32_t> ready;
    for (int i = 0; i < n; ++i) ready[events[i].data.u64] |= events[i].events;

    // Prepared sources always get `process`, ready or not, so that a read
    // intention is either completed or cancelled.
    for (SourceId id : prepared) {
        auto it = sources_.find(id);
        if (it == sources_.end()) continue;
        uint32_t rev = 0;
        if (auto r = ready.find(id); r != ready.end()) rev = r->second;
        ready.erase(id);
        if (auto st = it->second.prepared->process(rev); !st) return st;
    }
    for (int i = 0; i < n; ++i) {
        SourceId id = events[i].data.u64;
        auto r = ready.find(id);
        if (r == ready.end()) continue;
        uint32_t rev = r->second;
        ready.erase(r);
        auto it = sources_.find(id);
        if (it == sources_.end() || !it->second.on_ready) continue;
        auto cb = it->second.on_ready;  // the callback may remove its source
        if (auto st = cb(rev); !st) return st;
    }

    // Every due timer, earliest first; a timer re-armed into the past (or
    // for now) waits for the next wake-up so that one timer cannot spin.
    Instant fire_until = now_();
    std::vector<std::pair<TimerId, uint64_t>> due;
    while (true) {
        pop_stale();
        if (heap_.empty() || heap_.front().deadline > fire_until) break;
        due.emplace_back(heap_.front().id, heap_.front().seq);
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>{});
        heap_.pop_back();
    }
    for (auto [id, seq] : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.seq != seq) continue;
        auto cb = it->second.on_due;
        TimerNext next = cb(fire_until);
        it = timers_.find(id);
        if (it == timers_.end() || it->second.seq != seq) continue;  // removed or re-added inside
        if (next) {
            it->second.deadline = *next;
            it->second.seq = next_seq_++;
            push_heap_entry(id, it->second);
        } else {
            timers_.erase(it);
        }
    }
    return {};
}

// --- channels ---------------------------------------------------------------

namespace detail {
ChannelCore::~ChannelCore() {
    if (eventfd >= 0) close(eventfd);
}
void ChannelCore::wake() {
    uint64_t one = 1;
    ssize_t r;
    do {
        r = write(eventfd, &one, sizeof one);
    } while (r < 0 && errno == EINTR);
}
}  // namespace detail

std::expected<int, std::string> make_channel_eventfd() {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return std::unexpected("eventfd: " + errno_text(errno));
    return fd;
}

void drain_eventfd(int fd) {
    uint64_t v;
    ssize_t r;
    do {
        r = read(fd, &v, sizeof v);
    } while (r < 0 && errno == EINTR);
}

}  // namespace zem::event_loop

namespace zem::event_loop {
std::optional<Instant> checked_add(Instant base, Duration period) {
    auto b = base.time_since_epoch().count();
    auto p = period.count();
    decltype(b) out;
    if (__builtin_add_overflow(b, p, &out)) return std::nullopt;
    return Instant(Duration(out));
}
}  // namespace zem::event_loop
