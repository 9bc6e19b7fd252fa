// The session protocol against the scripted compositor: the exact requests
// for a new, a restored and a replaced session and for a compositor that does
// not offer it, and what reaches "session.json" meanwhile.

#include "session_support.hpp"
#include "support/process.hpp"
#include "support/scripted_compositor.hpp"

#include <zem/shell/session.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace zem;
using namespace zem::test;
using namespace std::chrono_literals;

namespace {

class SessionProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        root = make_temp_dir("zem-session-protocol");
        dir = root + "/net.tavix.Test";
        state_home.emplace("XDG_STATE_HOME", root);
        restore.emplace("ZEM_SESSION_RESTORE", std::nullopt);
        ::setenv("GSETTINGS_BACKEND", "memory", 1);
        ::setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes", 1);
    }
    void TearDown() override {
        if (runner.joinable()) {
            if (c) c->close_toplevel();
            runner.join();
        }
        c.reset();
        remove_tree(root);
    }

    void start(bool offer) {
        ScriptedOptions o;
        o.session_manager = offer;
        auto made = ScriptedCompositor::start(o);
        ASSERT_TRUE(made) << made.error();
        c = std::move(*made);
        ::setenv("WAYLAND_DISPLAY", c->socket().c_str(), 1);
        runner = std::thread([this] {
            result = run_handle(std::make_unique<AppAdapter<StateApp>>(StateApp{}));
        });
        ASSERT_TRUE(zem::test::wait_until([&] { return !c->matching("wl_surface.attach").empty(); })) << "no first frame";
    }
    void finish() {
        c->close_toplevel();
        runner.join();
        ASSERT_TRUE(result) << result.error().text();
    }

    // The session's requests and the main window's, up to its first commit.
    std::vector<std::string> window_and_session() const {
        std::vector<std::string> out;
        bool committed = false;
        for (const std::string& l : c->log()) {
            bool session = l.starts_with("xdg_session") || l.starts_with("xdg_toplevel_session");
            bool window = !committed && (l.starts_with("xdg_surface.get_toplevel") || l.starts_with("xdg_toplevel.") ||
                                         l.starts_with("wl_surface.commit"));
            if (session || window) out.push_back(l);
            if (l.starts_with("wl_surface.commit")) committed = true;
        }
        return out;
    }

    SessionFile file() const {
        auto f = parse_session_file(read_file(dir + "/session.json"));
        EXPECT_TRUE(f) << f.error();
        return f.value_or(SessionFile{});
    }
    void previous(const std::string& bytes) {
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/session.json", std::ios::trunc) << bytes;
    }

    std::string root, dir;
    std::optional<EnvGuard> state_home, restore;
    std::unique_ptr<ScriptedCompositor> c;
    std::thread runner;
    std::expected<void, RunError> result;
};

TEST_F(SessionProtocol, NewSessionRegistersTheMainWindowBeforeItsFirstCommit) {
    start(true);
    EXPECT_EQ(window_and_session(), (std::vector<std::string>{
                                        "xdg_session_manager_v1.get_session(new,1,nil)",
                                        "xdg_surface.get_toplevel(new)",
                                        "xdg_toplevel.set_title(zem)",
                                        "xdg_toplevel.set_app_id(net.tavix.Test)",
                                        "xdg_toplevel.set_fullscreen(nil)",
                                        "xdg_session_v1.restore_toplevel(new,xdg_toplevel,main)",
                                        "wl_surface.commit()",
                                    }));
    std::vector<std::string> session_binds;
    for (auto& l : c->binds())
        if (l.starts_with("xdg_session")) session_binds.push_back(l);
    EXPECT_EQ(session_binds, std::vector<std::string>{"xdg_session_manager_v1,1"});

    // Each id the compositor assigns is written at once, the last one wins.
    c->send_session_created("s-1");
    EXPECT_TRUE(zem::test::wait_until([&] { return read_file(dir + "/session.json").find("\"s-1\"") != std::string::npos; }));
    c->send_session_created("s-2");
    EXPECT_TRUE(zem::test::wait_until([&] { return read_file(dir + "/session.json").find("\"s-2\"") != std::string::npos; }));
    EXPECT_FALSE(file().clean_exit);
    finish();
    SessionFile end = file();
    EXPECT_TRUE(end.clean_exit);
    EXPECT_EQ(end.session_id, "s-2");
    EXPECT_EQ(end.pid, uint32_t(getpid()));
    // Never destroyed at a normal end.
    EXPECT_TRUE(c->matching("xdg_session_v1.destroy").empty());
}

TEST_F(SessionProtocol, ReasonFollowsTheStartUpDecisionAndTheStoredIdIsAlwaysSent) {
    struct Case {
        std::string file;
        bool forced;
        std::string request;
    };
    const Case cases[] = {
        {R"({"version":1,"session_id":"s-1","clean_exit":false,"pid":0})", false,
         "xdg_session_manager_v1.get_session(new,2,s-1)"},
        {R"({"version":1,"session_id":"s-1","clean_exit":true,"pid":0})", false,
         "xdg_session_manager_v1.get_session(new,1,s-1)"},
        {R"({"version":1,"session_id":"s-1","clean_exit":true,"pid":0})", true,
         "xdg_session_manager_v1.get_session(new,3,s-1)"},
        // A NUL cannot travel in a Wayland string: sent as none.
        {R"({"version":1,"session_id":"a\u0000b","clean_exit":true,"pid":0})", false,
         "xdg_session_manager_v1.get_session(new,1,nil)"},
    };
    for (const Case& k : cases) {
        std::filesystem::remove_all(dir);
        previous(k.file);
        if (k.forced) ::setenv("ZEM_SESSION_RESTORE", "1", 1);
        start(true);
        EXPECT_EQ(c->matching("xdg_session"),
                  (std::vector<std::string>{k.request, "xdg_session_v1.restore_toplevel(new,xdg_toplevel,main)"}));
        EXPECT_EQ(std::getenv("ZEM_SESSION_RESTORE"), nullptr);
        finish();
        EXPECT_TRUE(file().clean_exit);
        c.reset();
    }
}

TEST_F(SessionProtocol, ReplacedSessionDestroysBothObjectsAndStopsWriting) {
    start(true);
    testing::internal::CaptureStderr();
    c->send_session_replaced();
    bool destroyed = zem::test::wait_until([&] { return !c->matching("xdg_session_v1.destroy").empty(); });
    std::string before = read_file(dir + "/session.json");
    finish();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zem: session taken over by another instance; this one stops persisting state\n");
    ASSERT_TRUE(destroyed);
    EXPECT_EQ(c->matching("xdg_session"), (std::vector<std::string>{
                                               "xdg_session_manager_v1.get_session(new,1,nil)",
                                               "xdg_session_v1.restore_toplevel(new,xdg_toplevel,main)",
                                               "xdg_session_v1.destroy()",
                                           }));
    auto order = window_and_session();
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[order.size() - 2], "xdg_toplevel_session_v1.destroy()");
    EXPECT_EQ(order[order.size() - 1], "xdg_session_v1.destroy()");
    // No exit save: the file stays as the take-over found it.
    EXPECT_EQ(read_file(dir + "/session.json"), before);
    EXPECT_FALSE(file().clean_exit);
}

TEST_F(SessionProtocol, CompositorWithoutTheGlobalStillGetsTheFilesWritten) {
    start(false);
    EXPECT_TRUE(window_and_session().size() == 5u) << ::testing::PrintToString(window_and_session());
    EXPECT_TRUE(c->matching("xdg_session").empty());
    EXPECT_FALSE(file().clean_exit);
    finish();
    EXPECT_TRUE(file().clean_exit);
}

TEST_F(SessionProtocol, RunWithoutAStoreDoesNotBindTheManager) {
    auto holder = SessionStore::open("net.tavix.Test");
    ASSERT_TRUE(holder);
    holder->mark_started();
    testing::internal::CaptureStderr();
    start(true);
    finish();
    // The render backend line comes first when this is the process's first run.
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err.ends_with("\nzem: another instance of net.tavix.Test is running; session persistence disabled\n") ||
                err == "zem: another instance of net.tavix.Test is running; session persistence disabled\n")
        << err;
    for (auto& b : c->binds()) EXPECT_FALSE(b.starts_with("xdg_session")) << b;
    EXPECT_TRUE(c->matching("xdg_session").empty());
}

TEST_F(SessionProtocol, LostConnectionEndsWithACleanExitSave) {
    start(true);
    testing::internal::CaptureStderr();
    c.reset();
    runner.join();
    (void)testing::internal::GetCapturedStderr();
    ASSERT_TRUE(result) << result.error().text();
    EXPECT_TRUE(file().clean_exit);
}

}  // namespace
