// Session files: directory, codec, atomic writes, the start-up decision.

#include "session_support.hpp"
#include "support/process.hpp"

#include <zem/shell/session.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zem;
using namespace zem::test;

namespace {

void write_text(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

ino_t inode(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class SessionStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = make_temp_dir("zem-session");
        state_home.emplace("XDG_STATE_HOME", root);
        restore.emplace("ZEM_SESSION_RESTORE", std::nullopt);
        dir = root + "/net.tavix.Test";
    }
    void TearDown() override { remove_tree(root); }

    // "session.json" as a previous run would have left it.
    void previous(const std::string& bytes) {
        std::filesystem::create_directories(dir);
        write_text(dir + "/session.json", bytes);
    }

    std::string root, dir;
    std::optional<EnvGuard> state_home, restore;
};

TEST_F(SessionStoreTest, StateDirectoryComesFromXdgStateHomeThenHome) {
    struct Case {
        std::optional<std::string> xdg, home;
        std::string app_id;
        std::optional<std::string> dir;
    };
    const Case cases[] = {
        {"/s", "/h", "a.b", "/s/a.b"},
        {"", "/h", "a.b", "/h/.local/state/a.b"},
        {std::nullopt, "/h", "a.b", "/h/.local/state/a.b"},
        {"rel", "/h", "a.b", "rel/a.b"},
        {std::nullopt, std::nullopt, "a.b", std::nullopt},
        {"", "", "a.b", std::nullopt},
        {"/s", "/h", "", std::nullopt},
        {"/s", "/h", ".", std::nullopt},
        {"/s", "/h", "..", std::nullopt},
        {"/s", "/h", "a/b", std::nullopt},
        {"/s", "/h", "...", "/s/..."},
    };
    for (const Case& c : cases) {
        EnvGuard x("XDG_STATE_HOME", c.xdg), h("HOME", c.home);
        EXPECT_EQ(session_state_dir(c.app_id), c.dir) << "app id " << c.app_id;
    }
}

TEST_F(SessionStoreTest, RefusedAppIdWritesOneQuotedLineAndNoFiles) {
    for (std::string id : {std::string(""), std::string(".."), std::string("a/b\"\n")}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(SessionStore::open(id));
        std::string quoted = id == "a/b\"\n" ? "\"a/b\\\"\\n\"" : "\"" + id + "\"";
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "zem: session state disabled: cannot derive a state directory for app_id " + quoted + "\n");
    }
    EXPECT_TRUE(std::filesystem::is_empty(root));
}

TEST_F(SessionStoreTest, DirectoryIsMadeWithParentsAsPrivate) {
    EnvGuard x("XDG_STATE_HOME", root + "/deep/er");
    mode_t old = ::umask(0);
    auto store = SessionStore::open("net.tavix.Test");
    ::umask(old);
    ASSERT_TRUE(store);
    for (std::string d : {root + "/deep", root + "/deep/er", root + "/deep/er/net.tavix.Test"}) {
        struct stat st{};
        ASSERT_EQ(::stat(d.c_str(), &st), 0) << d;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << d;
    }
}

TEST_F(SessionStoreTest, DirectoryThatCannotBeMadeDisablesPersistence) {
    write_text(root + "/file", "x");
    EnvGuard x("XDG_STATE_HOME", root + "/file");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SessionStore::open("net.tavix.Test"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zem: session state disabled: cannot create " + root + "/file/net.tavix.Test: Not a directory\n");
}

TEST(SessionFileCodec, ReaderAcceptsTheLenientFormsAndRefusesTheRest) {
    struct Case {
        std::string bytes;
        std::optional<std::string> id;  // expected "session_id" of a valid file
        bool valid;
        std::string error = {};
    };
    const Case cases[] = {
        {R"({"version":1,"session_id":"s","clean_exit":false,"pid":7})", "s", true},
        {" \t\r\n{ \"pid\" : 7 ,\n\"clean_exit\":true, \"version\":1 } \n", std::nullopt, true},
        {R"({"version":1,"session_id":null,"clean_exit":false,"pid":7,"extra":[1,{"a":2}]})", std::nullopt, true},
        {R"([1,"x",false,7])", "x", true},
        {R"({"version":1,"clean_exit":false})", {}, false, "missing field `pid`"},
        {R"({"version":1,"clean_exit":false,"pid":7,"pid":8})", {}, false, "duplicate field `pid`"},
        {R"({"version":1,"clean_exit":false,"pid":7,"x":1,"x":2})", {}, false, "duplicate field `x`"},
        {R"({"version":1,"clean_exit":false,"pid":-1})", {}, false, "invalid value: integer `-1`, expected u32"},
        {R"({"version":1,"clean_exit":false,"pid":4294967296})", {}, false, "expected u32"},
        {R"({"version":1,"clean_exit":"false","pid":7})", {}, false, "expected a boolean"},
        {R"({"version":1,"clean_exit":false,"pid":7}x)", {}, false, "trailing characters"},
        {R"({"version":1,"sess)", {}, false, "EOF"},
        {"", {}, false, ""},
        {R"([1,"x",false])", {}, false, "invalid length 3"},
    };
    for (const Case& c : cases) {
        auto f = parse_session_file(c.bytes);
        EXPECT_EQ(f.has_value(), c.valid) << c.bytes;
        if (f) {
            EXPECT_EQ(f->session_id, c.id) << c.bytes;
        } else {
            EXPECT_NE(f.error().find(c.error), std::string::npos) << c.bytes << " -> " << f.error();
        }
    }
}

TEST(SessionFileCodec, WriterIsCompactWithEscapesAndUtf8) {
    SessionFile f;
    f.session_id = "é\"x\n";
    f.clean_exit = true;
    f.pid = 42;
    EXPECT_EQ(encode_session_file(f), "{\"version\":1,\"session_id\":\"é\\\"x\\n\",\"clean_exit\":true,\"pid\":42}");
    f.session_id.reset();
    f.clean_exit = false;
    f.pid = 4294967295u;
    EXPECT_EQ(encode_session_file(f), R"({"version":1,"session_id":null,"clean_exit":false,"pid":4294967295})");
    f.session_id = "\xff";
    EXPECT_FALSE(encode_session_file(f));
}

TEST_F(SessionStoreTest, DamagedFileIsSetAsideWithOneWarning) {
    const std::string damaged[] = {
        R"({"version":1,"session_id":"s","clean_exit":false,"pid":7,"pid":7})",
        R"({"version":1,"session_id":"s","clean_e)",
        R"({"version":1,"session_id":"s","clean_exit":false,"pid":-1})",
        R"({"version":1,"session_id":"s","clean_exit":false,"pid":7} trailing)",
        std::string(70 * 1024, ' ') + "{}",
    };
    for (const std::string& bytes : damaged) {
        previous(bytes);
        testing::internal::CaptureStderr();
        auto store = SessionStore::open("net.tavix.Test");
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(store);
        EXPECT_FALSE(store->session_id) << bytes.substr(0, 80);
        EXPECT_EQ(session_restore_mode(*store, false), RestoreDecision::Fresh);
        EXPECT_EQ(err.rfind("zem: session state: damaged session.json set aside as session.json.damaged: ", 0), 0u)
            << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(exists(dir + "/session.json"));
        EXPECT_EQ(read_file(dir + "/session.json.damaged"), bytes);
    }
}

TEST_F(SessionStoreTest, NewerVersionIsNoPreviousSessionAndIsLeftAlone) {
    const std::string bytes = R"({"version":2,"session_id":"s","clean_exit":false,"pid":0})";
    previous(bytes);
    testing::internal::CaptureStderr();
    auto store = SessionStore::open("net.tavix.Test");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->session_id);
    EXPECT_EQ(session_restore_mode(*store, false), RestoreDecision::Fresh);
    EXPECT_EQ(read_file(dir + "/session.json"), bytes);
    EXPECT_FALSE(exists(dir + "/session.json.damaged"));
}

TEST_F(SessionStoreTest, DecisionTable) {
    // A child that lives for the test, and one that is gone.
    pid_t live = fork();
    if (live == 0) {
        ::pause();
        _exit(0);
    }
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    ::waitpid(gone, nullptr, 0);
    struct Case {
        std::optional<std::string> file;
        bool forced;
        RestoreDecision want;
    };
    auto file = [](bool clean, long pid) {
        return "{\"version\":1,\"session_id\":\"s\",\"clean_exit\":" + std::string(clean ? "true" : "false") +
               ",\"pid\":" + std::to_string(pid) + "}";
    };
    const Case cases[] = {
        {std::nullopt, false, RestoreDecision::Fresh},
        {file(true, live), false, RestoreDecision::Fresh},
        {file(false, 0), false, RestoreDecision::Recover},
        {file(false, getpid()), false, RestoreDecision::Recover},
        {file(false, live), false, RestoreDecision::AnotherInstance},
        {file(false, 1), false, RestoreDecision::AnotherInstance},
        {file(false, gone), false, RestoreDecision::Recover},
        {file(false, live), true, RestoreDecision::Forced},
        {std::nullopt, true, RestoreDecision::Forced},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir);
        if (c.file) previous(*c.file);
        auto store = SessionStore::open("net.tavix.Test");
        ASSERT_TRUE(store);
        EXPECT_EQ(session_restore_mode(*store, c.forced), c.want) << c.file.value_or("(none)") << " " << c.forced;
    }
    ::kill(live, SIGKILL);
    ::waitpid(live, nullptr, 0);
}

TEST_F(SessionStoreTest, SecondStoreOnTheSameDirectoryWhileTheFirstIsOpenIsAnotherInstance) {
    auto first = SessionStore::open("net.tavix.Test");
    ASSERT_TRUE(first);
    first->mark_started();
    auto second = SessionStore::open("net.tavix.Test");
    ASSERT_TRUE(second);
    EXPECT_EQ(session_restore_mode(*second, false), RestoreDecision::AnotherInstance);
    EXPECT_EQ(session_restore_mode(*second, true), RestoreDecision::Forced);
    first.reset();
    auto third = SessionStore::open("net.tavix.Test");
    ASSERT_TRUE(third);
    // Our own pid in the file: counts as gone.
    EXPECT_EQ(session_restore_mode(*third, false), RestoreDecision::Recover);
}

TEST_F(SessionStoreTest, RestoreSwitchIsReadOnceAndRemoved) {
    struct Case {
        std::optional<std::string> value;
        RestoreDecision want;
    };
    const Case cases[] = {
        {"1", RestoreDecision::Forced},
        {"1 ", RestoreDecision::Fresh},
        {"true", RestoreDecision::Fresh},
        {"", RestoreDecision::Fresh},
        {std::nullopt, RestoreDecision::Fresh},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir);
        std::vector<std::vector<uint8_t>> restored;
        AppAdapter<StateApp> app(StateApp{.id = "net.tavix.Test", .state = std::nullopt, .restored = &restored});
        if (c.value) ::setenv("ZEM_SESSION_RESTORE", c.value->c_str(), 1);
        SessionState s = session_restore_setup("net.tavix.Test", app);
        EXPECT_EQ(s.restore_mode, c.want) << c.value.value_or("(unset)");
        EXPECT_EQ(std::getenv("ZEM_SESSION_RESTORE"), nullptr);
        EXPECT_TRUE(s.store);
    }
}

TEST_F(SessionStoreTest, SetupHandsStateBackOnlyWhenRecoveringOrForced) {
    struct Case {
        std::string file;
        std::optional<std::string> state;
        bool forced;
        RestoreDecision mode;
        bool handed;
    };
    const std::string crashed = R"({"version":1,"session_id":"s","clean_exit":false,"pid":0})";
    const std::string clean = R"({"version":1,"session_id":"s","clean_exit":true,"pid":0})";
    const Case cases[] = {
        {crashed, "abc", false, RestoreDecision::Recover, true},
        {clean, "abc", true, RestoreDecision::Forced, true},
        {clean, "abc", false, RestoreDecision::Fresh, false},
        {crashed, "", false, RestoreDecision::Recover, false},
        {crashed, std::nullopt, false, RestoreDecision::Recover, false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir);
        previous(c.file);
        if (c.state) write_text(dir + "/state.bin", *c.state);
        if (c.forced) ::setenv("ZEM_SESSION_RESTORE", "1", 1);
        std::vector<std::vector<uint8_t>> restored;
        AppAdapter<StateApp> app(StateApp{.id = "net.tavix.Test", .state = std::nullopt, .restored = &restored});
        SessionState s = session_restore_setup("net.tavix.Test", app);
        EXPECT_EQ(s.restore_mode, c.mode);
        ASSERT_EQ(restored.size(), c.handed ? 1u : 0u) << c.file;
        if (c.handed) {
            EXPECT_EQ(std::string(restored[0].begin(), restored[0].end()), *c.state);
        }
        ASSERT_TRUE(s.store);
        EXPECT_EQ(s.store->session_id, "s");
        // Marked started: our pid, not clean, the id kept.
        auto now = parse_session_file(read_file(dir + "/session.json"));
        ASSERT_TRUE(now);
        EXPECT_FALSE(now->clean_exit);
        EXPECT_EQ(now->pid, uint32_t(getpid()));
        EXPECT_EQ(now->session_id, "s");
    }
}

TEST_F(SessionStoreTest, AnotherInstanceLeavesItsFilesAlone) {
    auto holder = SessionStore::open("net.tavix.Test");
    ASSERT_TRUE(holder);
    holder->mark_started();
    holder->save(std::vector<uint8_t>{1, 2, 3});
    std::string before = read_file(dir + "/session.json");
    AppAdapter<StateApp> app(StateApp{});
    testing::internal::CaptureStderr();
    SessionState s = session_restore_setup("net.tavix.Test", app);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zem: another instance of net.tavix.Test is running; session persistence disabled\n");
    EXPECT_FALSE(s.store);
    EXPECT_EQ(read_file(dir + "/session.json"), before);
    EXPECT_EQ(read_file(dir + "/state.bin"), std::string("\1\2\3"));
}

TEST_F(SessionStoreTest, SaveWritesOnlyWhatChangedAndRemovesStateWhenThereIsNone) {
    previous("{}");  // damaged: set aside, fresh
    write_text(dir + "/state.bin", "old");
    testing::internal::CaptureStderr();
    auto store = SessionStore::open("net.tavix.Test");
    (void)testing::internal::GetCapturedStderr();
    ASSERT_TRUE(store);
    std::vector<uint8_t> a{'o', 'l', 'd'};
    // The first save always writes, even bytes already on disk.
    ino_t before = inode(dir + "/state.bin");
    store->save(a);
    ino_t first = inode(dir + "/state.bin");
    EXPECT_NE(first, before);
    store->save(a);
    EXPECT_EQ(inode(dir + "/state.bin"), first);
    store->save(std::vector<uint8_t>{'n'});
    EXPECT_EQ(read_file(dir + "/state.bin"), "n");
    store->save(std::nullopt);
    EXPECT_FALSE(exists(dir + "/state.bin"));
    EXPECT_FALSE(store->last_state);
    store->save(std::nullopt);  // nothing there: quiet
    store->save_and_exit(std::vector<uint8_t>{'z'});
    EXPECT_EQ(read_file(dir + "/state.bin"), "z");
    auto f = parse_session_file(read_file(dir + "/session.json"));
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->clean_exit);
    struct stat st{};
    ASSERT_EQ(::stat((dir + "/state.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SessionStoreTest, FailedWriteIsReportedAndRetriedByTheNextSave) {
    auto store = SessionStore::open("net.tavix.Test");
    ASSERT_TRUE(store);
    // A directory where the file goes: the rename fails, for root too.
    std::filesystem::create_directories(dir + "/session.json");
    std::filesystem::create_directories(dir + "/state.bin/x");
    testing::internal::CaptureStderr();
    store->write_session_file(false);
    store->save(std::vector<uint8_t>{1});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zem: session state: cannot write session.json: Is a directory\n"
              "zem: session state: cannot write state.bin: Is a directory\n");
    EXPECT_FALSE(store->last_state);
    std::filesystem::remove_all(dir + "/session.json");
    std::filesystem::remove_all(dir + "/state.bin");
    testing::internal::CaptureStderr();
    store->write_session_file(false);
    store->save(std::vector<uint8_t>{1});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(read_file(dir + "/state.bin"), std::string("\1"));
    EXPECT_TRUE(parse_session_file(read_file(dir + "/session.json")));
}

TEST(SessionSaveTimer, FiresThirtySecondsAfterInsertionAndEveryThirtyAfterEachRun) {
    auto clock = std::make_shared<event_loop::Instant>(event_loop::Instant{});
    auto reactor = event_loop::Reactor::create([clock] { return *clock; });
    ASSERT_TRUE(reactor);
    int saves = 0;
    ASSERT_TRUE(insert_session_save_timer(**reactor, [&] { ++saves; }));
    *clock += std::chrono::milliseconds(29999);
    (void)(*reactor)->dispatch(std::chrono::milliseconds(0));
    EXPECT_EQ(saves, 0);
    *clock += std::chrono::milliseconds(5001);  // ran at 35 s
    (void)(*reactor)->dispatch(std::chrono::milliseconds(0));
    EXPECT_EQ(saves, 1);
    EXPECT_EQ((*reactor)->next_deadline(), event_loop::Instant{} + std::chrono::seconds(65));
}

}  // namespace
