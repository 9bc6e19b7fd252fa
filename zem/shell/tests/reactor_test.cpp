#include <zem/shell/event_loop.hpp>

#include <gtest/gtest.h>

#include <sys/epoll.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

using namespace zem::event_loop;
using namespace std::chrono_literals;

namespace {

// A clock the test moves by hand.
struct FakeClock {
    Instant t = Instant(100s);
    NowFn fn() {
        return [this] { return t; };
    }
};

TEST(Reactor, DueTimersFireInDeadlineOrderInOneWakeUp) {
    FakeClock clock;
    auto r = Reactor::create(clock.fn());
    ASSERT_TRUE(r) << r.error();
    std::vector<std::string> fired;
    // Added out of order; two share a deadline and keep insertion order.
    (*r)->add_timer(clock.t + 30ms, [&](Instant) { fired.push_back("c"); return TimerNext{}; });
    (*r)->add_timer(clock.t + 10ms, [&](Instant) { fired.push_back("a"); return TimerNext{}; });
    (*r)->add_timer(clock.t + 20ms, [&](Instant) { fired.push_back("b1"); return TimerNext{}; });
    (*r)->add_timer(clock.t + 20ms, [&](Instant) { fired.push_back("b2"); return TimerNext{}; });
    (*r)->add_timer(clock.t + 50ms, [&](Instant) { fired.push_back("late"); return TimerNext{}; });

    ASSERT_TRUE((*r)->dispatch(0ms));
    EXPECT_TRUE(fired.empty());
    clock.t += 30ms;
    ASSERT_TRUE((*r)->dispatch(0ms));
    EXPECT_EQ(fired, (std::vector<std::string>{"a", "b1", "b2", "c"}));
    EXPECT_EQ((*r)->next_deadline(), clock.t + 20ms);
}

TEST(Reactor, TimerRearmsAndRemovesItself) {
    FakeClock clock;
    auto r = *Reactor::create(clock.fn());
    int ticks = 0;
    TimerId id = r->add_timer(clock.t + 10ms, [&](Instant now) -> TimerNext {
        if (++ticks == 3) return std::nullopt;
        return now + 10ms;
    });
    for (int i = 0; i < 5; ++i) {
        clock.t += 10ms;
        ASSERT_TRUE(r->dispatch(0ms));
    }
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(r->has_timer(id));
    EXPECT_FALSE(r->next_deadline().has_value());
}

TEST(Reactor, TimerRemovedByAnEarlierCallbackDoesNotFire) {
    FakeClock clock;
    auto r = *Reactor::create(clock.fn());
    bool second_fired = false;
    TimerId second = 0;
    r->add_timer(clock.t + 1ms, [&](Instant) {
        r->remove_timer(second);
        return TimerNext{};
    });
    second = r->add_timer(clock.t + 2ms, [&](Instant) {
        second_fired = true;
        return TimerNext{};
    });
    clock.t += 5ms;
    ASSERT_TRUE(r->dispatch(0ms));
    EXPECT_FALSE(second_fired);
}

TEST(Reactor, TimerRearmedIntoThePastWaitsForTheNextWakeUp) {
    FakeClock clock;
    auto r = *Reactor::create(clock.fn());
    int ticks = 0;
    r->add_timer(clock.t, [&](Instant now) -> TimerNext {
        ++ticks;
        return now;  // due again at once
    });
    ASSERT_TRUE(r->dispatch(0ms));
    EXPECT_EQ(ticks, 1);
    ASSERT_TRUE(r->dispatch(0ms));
    EXPECT_EQ(ticks, 2);
}

TEST(Reactor, SleepsUntilTheTimerWithARealClock) {
    auto r = *Reactor::create();
    bool fired = false;
    auto start = Clock::now();
    r->add_timer(start + 30ms, [&](Instant) {
        fired = true;
        return TimerNext{};
    });
    while (!fired) ASSERT_TRUE(r->dispatch(std::nullopt));
    EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(Reactor, EveryReadyDescriptorRunsInOneWakeUp) {
    auto r = *Reactor::create();
    int a[2], b[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    std::vector<int> seen;
    auto on = [&](int which, int fd) {
        return [&, which, fd](uint32_t) -> Status {
            char c;
            (void)!read(fd, &c, 1);
            seen.push_back(which);
            return {};
        };
    };
    ASSERT_TRUE(r->add_fd(a[0], EPOLLIN, on(1, a[0])));
    ASSERT_TRUE(r->add_fd(b[0], EPOLLIN, on(2, b[0])));
    ASSERT_EQ(write(a[1], "x", 1), 1);
    ASSERT_EQ(write(b[1], "x", 1), 1);
    ASSERT_TRUE(r->dispatch(1s));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
}

TEST(Reactor, SourceErrorStopsTheWakeUpWithItsCode) {
    auto r = *Reactor::create();
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_TRUE(r->add_fd(p[0], EPOLLIN, [](uint32_t) -> Status {
        return std::unexpected(DispatchError{ECONNRESET, "gone"});
    }));
    ASSERT_EQ(write(p[1], "x", 1), 1);
    auto st = r->dispatch(1s);
    ASSERT_FALSE(st);
    EXPECT_EQ(st.error().code, ECONNRESET);
    close(p[0]);
    close(p[1]);
}

// A source with buffered work (as the Wayland queue can hold events already
// read) must keep the reactor from sleeping, and always hears the outcome.
struct BufferedSource : PreparedSource {
    bool buffered = true;
    std::vector<uint32_t> processed;
    std::expected<bool, DispatchError> prepare() override { return buffered; }
    Status process(uint32_t revents) override {
        processed.push_back(revents);
        buffered = false;
        return {};
    }
};

TEST(Reactor, PreparedSourceWithBufferedWorkPreventsSleeping) {
    auto r = *Reactor::create();
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    BufferedSource src;
    ASSERT_TRUE(r->add_prepared(p[0], EPOLLIN, &src));
    auto start = Clock::now();
    ASSERT_TRUE(r->dispatch(std::nullopt));  // would block forever if it slept
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(src.processed, (std::vector<uint32_t>{0}));
    ASSERT_EQ(write(p[1], "x", 1), 1);
    ASSERT_TRUE(r->dispatch(std::nullopt));
    ASSERT_EQ(src.processed.size(), 2u);
    EXPECT_TRUE(src.processed[1] & EPOLLIN);
    close(p[0]);
    close(p[1]);
}

TEST(Channel, SendFromAnotherThreadWakesTheLoop) {
    auto r = *Reactor::create();
    auto ch = Channel<int>::create();
    ASSERT_TRUE(ch);
    std::vector<int> got;
    ASSERT_TRUE(ch->insert(*r, 1024, [&](int&& v) { got.push_back(v); }));
    std::thread t([s = ch->sender()] { s.send(7); });
    t.join();
    auto start = Clock::now();
    ASSERT_TRUE(r->dispatch(5s));
    EXPECT_LT(Clock::now() - start, 4s);
    EXPECT_EQ(got, std::vector<int>{7});
}

TEST(Channel, TakesAtMostTheLimitPerWakeUpAndKeepsOrder) {
    auto r = *Reactor::create();
    auto ch = *Channel<int>::create();
    std::vector<int> got;
    std::vector<size_t> per_wake;
    ASSERT_TRUE(ch.insert(*r, 1024, [&](int&& v) { got.push_back(v); }));
    std::thread t([s = ch.sender()] {
        for (int i = 0; i < 2000; ++i) s.send(i);
    });
    t.join();
    for (int wake = 0; wake < 10 && got.size() < 2000; ++wake) {
        size_t before = got.size();
        ASSERT_TRUE(r->dispatch(1s));
        per_wake.push_back(got.size() - before);
    }
    ASSERT_EQ(got.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(got[i], i);
    ASSERT_GE(per_wake.size(), 2u);
    for (size_t n : per_wake) EXPECT_LE(n, 1024u);
}

TEST(Channel, SendAfterTheReceiverIsGoneFailsAndEmptySenderFails) {
    Sender<std::string> s;
    EXPECT_FALSE(s.send("nobody"));
    {
        auto ch = *Channel<std::string>::create();
        s = ch.sender();
        EXPECT_TRUE(s.send("queued"));
    }
    EXPECT_FALSE(s.send("late"));
}

TEST(Channel, AllSendersDroppedIsNotAnError) {
    auto r = *Reactor::create();
    auto ch = *Channel<int>::create();
    ASSERT_TRUE(ch.insert(*r, 1024, [](int&&) {}));
    { auto s = ch.sender(); s.send(1); }
    EXPECT_TRUE(ch.senders_gone());
    EXPECT_TRUE(r->dispatch(0ms));
    EXPECT_TRUE(r->dispatch(0ms));
}

TEST(CheckedAdd, OverflowGivesNone) {
    EXPECT_FALSE(checked_add(Instant::max(), 1ms).has_value());
    EXPECT_EQ(checked_add(Instant(1s), 1ms), Instant(1001ms));
}

}  // namespace
