// A soak of the real daemon in its private namespace: a thousand connections
// from several threads, most of them hostile (garbage, half lines left idle,
// 8 MiB lines, invalid UTF-8, sockets closed early) among valid requests.
// Afterwards the daemon holds the descriptors and the memory it held before,
// and still answers at once.
#include "support/daemon_process.hpp"
#include "support/wait.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using support::DaemonProcess;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

const std::string FINISH = "{\"cmd\":\"finish_configure\"}\n";
const std::string DONE = "{\"event\":\"done\"}\n";

std::size_t open_descriptors(pid_t pid) {
    std::size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// A number from /proc/PID/status ("VmRSS" in KiB, "Threads").
std::size_t status_field(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0) return std::stoul(line.substr(name.size() + 1));
    return 0;
}
std::size_t resident_kib(pid_t pid) { return status_field(pid, "VmRSS"); }
std::size_t threads(pid_t pid) { return status_field(pid, "Threads"); }

void send_all(int fd, const std::string& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return; // the daemon may close first: that is its answer
        off += static_cast<std::size_t>(n);
    }
}

std::string read_to_end(int fd) {
    timeval tv{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<std::size_t>(n));
    return got;
}

enum class Kind { Garbage, IdleHalfLine, HugeLine, InvalidUtf8, ClosedEarly, Valid, Count };

struct Tally {
    std::mutex m;
    std::vector<std::string> faults;
    std::atomic<int> valid_answered{0};
    void fault(std::string what) {
        std::lock_guard l(m);
        if (faults.size() < 20) faults.push_back(std::move(what));
    }
};

// One connection of the given kind; idle ones are handed back open.
void connection(const std::string& socket, Kind kind, std::mt19937& rng, Tally& tally, std::vector<int>& idle) {
    int fd = support::connect_unix(socket);
    if (fd < 0) {
        tally.fault("connect failed: " + std::string(std::strerror(errno)));
        return;
    }
    switch (kind) {
    case Kind::Garbage: {
        std::string junk(1 + rng() % 512, '\0');
        for (auto& c : junk) c = static_cast<char>(rng() % 256);
        junk.erase(std::remove(junk.begin(), junk.end(), '\n'), junk.end());
        send_all(fd, junk + "\n");
        read_to_end(fd); // an answer or none (not UTF-8): either way the end comes
        break;
    }
    case Kind::IdleHalfLine:
        send_all(fd, "{\"cmd\":\"finish_con");
        idle.push_back(fd);
        return;
    case Kind::HugeLine: {
        static const std::string huge(8u << 20, 'a');
        send_all(fd, "{\"cmd\":\"" + huge + "\"}\n");
        read_to_end(fd);
        break;
    }
    case Kind::InvalidUtf8:
        send_all(fd, "{\"cmd\":\"apply_locale\",\"locale\":\"\xff\xfe\xc3\x28\"}\n");
        read_to_end(fd);
        break;
    case Kind::ClosedEarly:
        if (rng() % 2) send_all(fd, "{\"cmd\":\"apply");
        break;
    case Kind::Valid: {
        send_all(fd, FINISH);
        std::string got = read_to_end(fd);
        if (got == DONE) ++tally.valid_answered;
        else tally.fault("valid request answered with: " + got.substr(0, 200));
        break;
    }
    case Kind::Count: break;
    }
    ::close(fd);
}

TEST(DaemonSoak, HostileConnectionsLeaveNoDescriptorsOrMemoryBehind) {
    auto started = DaemonProcess::start(TAVIX_INSTALLER_EXE);
    if (!started) GTEST_SKIP() << started.error();
    std::unique_ptr<DaemonProcess> daemon = std::move(*started);
    const pid_t pid = daemon->pid();
    const std::string socket = daemon->socket_path();
    const auto began = std::chrono::steady_clock::now();
    const std::size_t fds_listening = open_descriptors(pid);
    const std::size_t threads_listening = threads(pid);

    // One of each kind first: what the daemon allocates once (its deadline
    // watcher, the allocator's first arenas) is where it starts.
    {
        std::mt19937 rng(1);
        Tally warm;
        std::vector<int> idle;
        for (int k = 0; k < int(Kind::Count); ++k) connection(socket, Kind(k), rng, warm, idle);
        for (int fd : idle) ::close(fd);
        ASSERT_TRUE(warm.faults.empty()) << warm.faults.front();
    }
    // Settled once the warm-up's connection threads have closed theirs and
    // ended (the deadline watcher stays).
    ASSERT_TRUE(support::wait_until(
        [&] { return open_descriptors(pid) == fds_listening && threads(pid) == threads_listening + 1; }))
        << open_descriptors(pid) << " descriptors open after the warm-up, " << fds_listening << " when listening";
    const std::size_t fds_before = fds_listening;
    const std::size_t rss_before = resident_kib(pid);

    constexpr int kThreads = 8;
    constexpr int kConnections = 1000;
    Tally tally;
    int valid_sent = 0;
    for (int i = 0; i < kConnections; ++i) valid_sent += Kind(i % int(Kind::Count)) == Kind::Valid;
    std::vector<std::vector<int>> idle(kThreads);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 rng(100 + t);
            for (int i = t; i < kConnections; i += kThreads)
                connection(socket, Kind(i % int(Kind::Count)), rng, tally, idle[t]);
        });
    }
    for (auto& w : workers) w.join();
    std::size_t idle_count = 0;
    for (const auto& list : idle) idle_count += list.size();
    // Idle peers still waiting, yet the daemon answers at once.
    {
        const auto asked = std::chrono::steady_clock::now();
        auto ex = support::exchange(socket, FINISH, false, 5s);
        const auto took = std::chrono::steady_clock::now() - asked;
        EXPECT_EQ(ex.received, DONE);
        EXPECT_LT(took, 1s) << "with " << idle_count << " idle peers";
    }
    for (auto& list : idle)
        for (int fd : list) ::close(fd);

    std::size_t fds_after = 0;
    EXPECT_TRUE(support::wait_until([&] {
        fds_after = open_descriptors(pid);
        return fds_after * 10 <= fds_before * 11;
    })) << fds_after << " descriptors open after, " << fds_before << " before";
    // Every connection thread has ended (and let go of what it held).
    EXPECT_TRUE(support::wait_until([&] { return threads(pid) == threads_listening + 1; }))
        << threads(pid) << " threads, " << threads_listening + 1 << " before";
    const std::size_t rss_after = resident_kib(pid);

    const auto asked = std::chrono::steady_clock::now();
    auto ex = support::exchange(socket, FINISH, false, 5s);
    const auto answer_ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    const auto total_s = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);

    EXPECT_TRUE(tally.faults.empty()) << tally.faults.front();
    EXPECT_EQ(tally.valid_answered.load(), valid_sent);
    EXPECT_EQ(ex.received, DONE);
    EXPECT_LT(answer_ms, 1s);
    EXPECT_LT(total_s, 60s);
    // Under AddressSanitizer the resident size is mostly its quarantine of
    // freed blocks, not the daemon's own memory.
    if (!kAddressSanitizer) {
        EXPECT_LE(rss_after * 10, rss_before * 11) << rss_after << " KiB resident after, " << rss_before << " before";
    }
    std::printf("soak: %d connections from %d threads in %.1f s; descriptors %zu -> %zu; resident %zu -> %zu KiB; "
                "a valid request answered in %lld ms afterwards\n",
                kConnections, kThreads, double(total_s.count()) / 1000.0, fds_before, fds_after, rss_before, rss_after,
                static_cast<long long>(answer_ms.count()));
    ::testing::Test::RecordProperty("descriptors_before", static_cast<int>(fds_before));
    ::testing::Test::RecordProperty("descriptors_after", static_cast<int>(fds_after));
    ::testing::Test::RecordProperty("resident_kib_before", static_cast<int>(rss_before));
    ::testing::Test::RecordProperty("resident_kib_after", static_cast<int>(rss_after));
}

} // namespace
