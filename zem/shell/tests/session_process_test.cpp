// Session files against real processes: killed in the middle of saving,
// started twice at once, and killed while holding the state directory.

#include "support/process.hpp"

#include <zem/shell/session.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>

using namespace zem;
using namespace zem::test;
using namespace std::chrono_literals;

namespace {

std::size_t lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

class SessionProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        root = make_temp_dir("zem-session-proc");
        dir = root + "/net.tavix.Test";
    }
    void TearDown() override {
        for (pid_t p : children) {
            ::kill(p, SIGKILL);
            ::waitpid(p, nullptr, 0);
        }
        remove_tree(root);
    }
    Spawned child(const std::string& mode, const std::string& tag, std::map<std::string, std::string> env = {}) {
        env["XDG_STATE_HOME"] = root;
        if (!env.contains("ZEM_SESSION_RESTORE")) env["ZEM_SESSION_RESTORE"] = "";
        auto s = spawn({ZEM_SESSION_CHILD, mode}, env, root, tag);
        EXPECT_TRUE(s);
        if (s) children.push_back(s->pid);
        return s.value_or(Spawned{});
    }
    void kill_now(pid_t pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::erase(children, pid);
    }
    // The first line a "hold" child printed: "store <decision>" or "none -".
    std::string decision(const Spawned& s) {
        EXPECT_TRUE(zem::test::wait_until([&] { return lines(read_file(s.out_path)) >= 1; })) << s.out_path;
        std::string out = read_file(s.out_path);
        return out.substr(0, out.find('\n'));
    }

    std::string root, dir;
    std::vector<pid_t> children;
};

TEST_F(SessionProcesses, KilledAtAnyPointOfASaveLeavesOldOrNewFilesNeverDamagedOnes) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int round = 0; round < 40; ++round) {
        Spawned s = child("loop", "loop");
        std::size_t want = std::uniform_int_distribution<std::size_t>(1, 20)(rng);
        ASSERT_TRUE(zem::test::wait_until([&] { return lines(read_file(s.out_path)) >= want; })) << "round " << round;
        // Somewhere inside a later save.
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(rng)));
        kill_now(s.pid);

        auto f = parse_session_file(read_file(dir + "/session.json"));
        ASSERT_TRUE(f) << "round " << round << ": " << f.error();
        EXPECT_EQ(f->version, 1u);
        EXPECT_EQ(f->pid, uint32_t(s.pid));
        ASSERT_TRUE(f->session_id && f->session_id->starts_with("id-"));
        uint64_t session_round = std::stoull(f->session_id->substr(3));

        std::string state = read_file(dir + "/state.bin");
        ASSERT_EQ(state.size(), 8u + 256 * 1024) << "round " << round;
        uint64_t state_round = 0;
        std::memcpy(&state_round, state.data(), 8);
        // The state of a round is saved before its session file.
        EXPECT_TRUE(state_round == session_round || state_round == session_round + 1)
            << state_round << " vs " << session_round;
        EXPECT_EQ(state.find_first_not_of(static_cast<char>(state_round % 251), 8), std::string::npos)
            << "mixed payload in round " << round;
        ASSERT_FALSE(std::filesystem::exists(dir + "/session.json.damaged")) << "round " << round;
    }
}

TEST_F(SessionProcesses, TwoCopiesSavingAtOnceNeverLeaveAMixedFile) {
    // What a forced restore beside a running copy does: both write.
    for (int round = 0; round < 5; ++round) {
        Spawned a = child("loop", "a"), b = child("loop", "b");
        ASSERT_TRUE(zem::test::wait_until([&] { return lines(read_file(a.out_path)) >= 30 && lines(read_file(b.out_path)) >= 30; }));
        kill_now(a.pid);
        kill_now(b.pid);
        EXPECT_EQ(read_file(a.err_path), "");
        EXPECT_EQ(read_file(b.err_path), "");
        auto f = parse_session_file(read_file(dir + "/session.json"));
        ASSERT_TRUE(f) << f.error();
        EXPECT_TRUE(f->pid == uint32_t(a.pid) || f->pid == uint32_t(b.pid));
        std::string state = read_file(dir + "/state.bin");
        ASSERT_EQ(state.size(), 8u + 256 * 1024);
        uint64_t state_round = 0;
        std::memcpy(&state_round, state.data(), 8);
        EXPECT_EQ(state.find_first_not_of(static_cast<char>(state_round % 251), 8), std::string::npos);
        ASSERT_FALSE(std::filesystem::exists(dir + "/session.json.damaged"));
    }
}

TEST_F(SessionProcesses, TwoStartedTogetherOneWins) {
    for (int round = 0; round < 5; ++round) {
        std::filesystem::remove_all(dir);
        Spawned a = child("hold", "a"), b = child("hold", "b");
        std::string da = decision(a), db = decision(b);
        bool a_won = da == "store fresh";
        const Spawned& winner = a_won ? a : b;
        const Spawned& loser = a_won ? b : a;
        EXPECT_EQ(std::set<std::string>({da, db}), (std::set<std::string>{"store fresh", "none -"}))
            << "round " << round;
        EXPECT_EQ(read_file(loser.err_path),
                  "zem: another instance of net.tavix.Test is running; session persistence disabled\n");
        EXPECT_EQ(read_file(winner.err_path), "");
        auto f = parse_session_file(read_file(dir + "/session.json"));
        ASSERT_TRUE(f);
        EXPECT_EQ(f->pid, uint32_t(winner.pid));
        EXPECT_FALSE(f->clean_exit);
        kill_now(a.pid);
        kill_now(b.pid);
    }
}

TEST_F(SessionProcesses, StateOfAKilledInstanceIsTakenOverAndRecovered) {
    Spawned first = child("hold", "first");
    ASSERT_EQ(decision(first), "store fresh");
    Spawned second = child("hold", "second");
    ASSERT_EQ(decision(second), "none -");
    kill_now(second.pid);
    kill_now(first.pid);
    Spawned third = child("hold", "third");
    EXPECT_EQ(decision(third), "store recover");
    EXPECT_EQ(read_file(third.err_path), "");
    auto f = parse_session_file(read_file(dir + "/session.json"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->pid, uint32_t(third.pid));
}

TEST_F(SessionProcesses, ForcedRestoreIgnoresARunningInstance) {
    Spawned first = child("hold", "first");
    ASSERT_EQ(decision(first), "store fresh");
    Spawned second = child("hold", "second", {{"ZEM_SESSION_RESTORE", "1"}});
    EXPECT_EQ(decision(second), "store forced");
    EXPECT_EQ(read_file(second.err_path), "");
}

}  // namespace
