// Text fields under headless sway, driven by outside programs: keys from
// wtype, the clipboard through wl-copy and wl-paste, and an input method of
// ours on zwp_input_method_v2. The gallery's two-field page prints every
// change of a field ("first=TEXT"), which is what these tests read back.
#include "support/compositors.hpp"
#include "support/input_method.hpp"
#include "support/process.hpp"
#include "support/screen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zem::test;
using namespace std::chrono_literals;

namespace {

const char* kAppId = "net.tavix.ZemGallery";

bool ioctl_fionread(int fd, int& queued) { return ioctl(fd, FIONREAD, &queued) == 0; }

bool have(const std::string& tool) { return run_capture({"/bin/sh", "-c", "command -v " + tool}).first == 0; }

class FieldsUnderSway : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"wtype", "wl-copy", "wl-paste", "grim"})
            if (!have(tool)) GTEST_SKIP() << tool << " is missing";
        auto s = Sway::start(800, 600);
        if (!s) GTEST_SKIP() << "no headless sway: " << s.error();
        sway = std::move(*s);
        dir = make_temp_dir("zem-fields");
        env = {{"WAYLAND_DISPLAY", sway->display()},
               {"XDG_RUNTIME_DIR", sway->runtime_dir()},
               {"GSETTINGS_BACKEND", "memory"},
               {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"},
               {"ZEM_FORCE_SOFTWARE", "1"}};
        // Headless sway has no keyboard of its own: each wtype run would add
        // one and take it away again, and the press that comes with a new
        // keyboard reaches no client. A virtual keyboard that stays (wtype
        // waiting an hour) keeps the seat's keyboard in place.
        auto holder = spawn({"wtype", "-s", "3600000"}, env, dir, "keyboard");
        ASSERT_TRUE(holder.has_value());
        helpers.push_back(holder->pid);
        app = spawn({ZEM_GALLERY_EXE, "--fields"}, env, dir, "gallery");
        ASSERT_TRUE(app.has_value());
        ASSERT_TRUE(wait_until([&] { return sway->msg({"-t", "get_tree"}).second.find(kAppId) != std::string::npos; }))
            << read_file(app->err_path);
        focus_first_field();
    }
    void TearDown() override {
        for (pid_t p : helpers) stop(p);
        if (app && app->pid > 0) stop(app->pid);
        sway.reset();
        if (!dir.empty()) remove_tree(dir);
    }

    // Ends a process of ours by its id and reaps it.
    static void stop(pid_t pid) {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        if (!wait_for(pid, 5s)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    // wtype with these arguments: text to type, "-k NAME" for a key,
    // "-M ctrl" / "-m ctrl" to hold and let go of a modifier.
    void keys(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"wtype"};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_EQ(run_capture(argv, env).first, 0);
    }
    void ctrl(const std::string& key) { keys({"-M", "ctrl", key, "-m", "ctrl"}); }

    // The field's text as its last change message gave it.
    std::optional<std::string> last(const std::string& field) {
        const std::string out = read_file(app->out_path), tag = field + "=";
        std::optional<std::string> found;
        for (size_t p = 0; p < out.size();) {
            size_t end = out.find('\n', p);
            if (end == std::string::npos) break;  // a line still being written
            if (out.compare(p, tag.size(), tag) == 0) found = out.substr(p + tag.size(), end - p - tag.size());
            p = end + 1;
        }
        return found;
    }
    bool shows(const std::string& field, const std::string& text, std::chrono::milliseconds limit = kWaitLimit) {
        return wait_until([&] { return last(field) == text; }, limit);
    }

    // Tab until the first field has focus: the window may take a moment to
    // get the keyboard and its first frame, so a lost Tab is tried again.
    void focus_first_field() {
        bool typed = wait_until([&] {
            keys({"-k", "Tab", "x"});
            return wait_until([&] { return last("first").has_value() || last("second").has_value(); }, 2s);
        });
        ASSERT_TRUE(typed) << read_file(app->err_path);
        ASSERT_EQ(last("first"), "x") << "focus went past the first field";
        ctrl("a");
        keys({"-k", "BackSpace"});
        ASSERT_TRUE(shows("first", "")) << output();
    }
    // What the application printed, for failure messages (long lines cut).
    std::string output() {
        std::string out = read_file(app->out_path), shown;
        for (size_t p = 0; p < out.size();) {
            size_t end = std::min(out.find('\n', p), out.size());
            shown += out.substr(p, std::min<size_t>(end - p, 80)) + "\n";
            p = end + 1;
        }
        return shown + read_file(app->err_path);
    }

    std::pair<int, std::string> paste_outside() { return run_capture({"wl-paste", "--no-newline"}, env); }

    // wl-copy serving the file's bytes, in the foreground so that its id is
    // the server's; ended by that id.
    pid_t copy_outside(const std::string& path) {
        auto p = spawn({"/bin/sh", "-c", "exec wl-copy --foreground < \"$0\"", path}, env, dir, "wl-copy");
        if (!p) return -1;
        helpers.push_back(p->pid);
        return p->pid;
    }

    // Pastes until the first field holds `want`: the application reads a new
    // selection on its own time, and an earlier paste may still insert the
    // older text (Ctrl+A then replaces it on the next try).
    bool paste_until(const std::string& want) {
        return wait_until([&] {
            ctrl("a");
            ctrl("v");
            return shows("first", want, 5s);
        });
    }

    std::string write_text(const std::string& name, const std::string& text) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::unique_ptr<Sway> sway;
    std::string dir;
    std::map<std::string, std::string> env;
    std::optional<Spawned> app;
    std::vector<pid_t> helpers;
};

// A large text with line breaks, and what a single-line field makes of it.
std::pair<std::string, std::string> big_text(size_t bytes) {
    std::string text;
    text.reserve(bytes);
    const std::string line = "The quick brown fox jumps over the lazy dog 0123456789 äöü\n";
    while (text.size() + line.size() <= bytes) text += line;
    text.append(bytes - text.size(), 'z');
    std::string single = text;
    std::replace(single.begin(), single.end(), '\n', ' ');
    return {text, single};
}

TEST_F(FieldsUnderSway, CopiedTextReachesAnotherProgram) {
    keys({"hello wörld"});
    ASSERT_TRUE(shows("first", "hello wörld")) << output();
    keys({"-k", "Home", "-k", "Right"});                // caret after "h" ...
    keys({"-M", "shift", "-k", "End", "-m", "shift"});  // ... and "ello wörld" selected
    ctrl("c");
    EXPECT_TRUE(wait_until([&] { return paste_outside() == std::pair<int, std::string>{0, "ello wörld"}; }))
        << paste_outside().second;
    // Cut: the field loses the text, the clipboard keeps it.
    ctrl("a");
    ctrl("x");
    EXPECT_TRUE(shows("first", ""));
    EXPECT_TRUE(wait_until([&] { return paste_outside() == std::pair<int, std::string>{0, "hello wörld"}; }));
}

TEST_F(FieldsUnderSway, TextCopiedOutsideIsPasted) {
    pid_t server = copy_outside(write_text("small", "from outside\nsecond line"));
    ASSERT_GT(server, 0);
    ASSERT_TRUE(wait_until([&] { return paste_outside().second == "from outside\nsecond line"; }));
    // A single-line field turns the line break into a space.
    EXPECT_TRUE(paste_until("from outside second line")) << last("first").value_or("(nothing)");
    stop(server);
    EXPECT_TRUE(wait_for(server, 1s).has_value() || kill(server, 0) != 0);
}

TEST_F(FieldsUnderSway, ATenMegabyteTextIsPastedWhole) {
    auto [text, single] = big_text(10 * 1024 * 1024);
    pid_t server = copy_outside(write_text("big", text));
    ASSERT_GT(server, 0);
    ASSERT_TRUE(wait_until([&] { return paste_outside().second.size() == text.size(); }));
    EXPECT_TRUE(paste_until(single)) << "first field holds " << last("first").value_or("").size() << " bytes";
    // The window still takes keys after it.
    keys({"-k", "Tab", "after"});
    EXPECT_TRUE(shows("second", "after"));
}

TEST_F(FieldsUnderSway, APasteTargetThatNeverReadsLeavesTheWindowAlive) {
    auto [text, single] = big_text(1024 * 1024);
    pid_t server = copy_outside(write_text("mega", text));
    ASSERT_GT(server, 0);
    ASSERT_TRUE(paste_until(single));
    stop(server);
    // Our own copy of the megabyte is now the selection ...
    ctrl("a");
    ctrl("c");
    ASSERT_TRUE(wait_until([&] { return paste_outside().second.size() == single.size(); }));
    // ... and a reader whose output is a pipe nobody drains: it takes what
    // the pipes hold and then stalls, and with it our write end.
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t stalled = fork();
    ASSERT_GE(stalled, 0);
    if (stalled == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        execlp("wl-paste", "wl-paste", "--no-newline", static_cast<char*>(nullptr));
        _exit(127);
    }
    helpers.push_back(stalled);
    close(out[1]);
    // It has started reading once the pipe to us is full.
    ASSERT_TRUE(wait_until([&] {
        int queued = 0;
        return ioctl_fionread(out[0], queued) && queued >= 32768;
    }));
    // Frames keep coming: typing into the other field is drawn and reported.
    const std::string before = dir + "/before.png", after = dir + "/after.png";
    ASSERT_TRUE(sway->screenshot(before));
    keys({"-k", "Tab", "alive"});
    EXPECT_TRUE(shows("second", "alive")) << read_file(app->err_path);
    EXPECT_TRUE(wait_until([&] {
        if (!sway->screenshot(after)) return false;
        auto a = load_png(before), b = load_png(after);
        return a && b && differing_pixels(*a, *b, 2) > 50;
    }));
    // Closing the drain ends whatever of the reader still writes into it.
    close(out[0]);
    stop(stalled);
}

// An input method composes into the focused field: commits, preedit and
// deletions around the caret arrive as one group each, and the field's text
// and caret come back both as the application's change messages and as the
// surrounding text the field reports to the input method.
TEST_F(FieldsUnderSway, AnInputMethodComposesIntoTheFocusedField) {
    auto im = InputMethod::connect(sway->display());
    if (!im) GTEST_SKIP() << im.error();
    InputMethod& m = **im;
    // The compositor activates an input method when a text input turns
    // enabled; the field was enabled before this one came, so focus leaves
    // the fields (to the button) and comes back.
    keys({"-k", "Tab", "-k", "Tab"});
    keys({"-M", "shift", "-k", "Tab", "-k", "Tab", "-m", "shift"});
    auto reports = [&](const std::string& text, std::uint32_t caret) {
        return wait_until([&] {
            return m.pump() && m.state().active && m.state().surrounding == text && m.state().cursor == caret &&
                   m.state().anchor == caret;
        });
    };
    ASSERT_TRUE(reports("", 0)) << "active " << m.state().active << ", surrounding \"" << m.state().surrounding << "\"";

    const std::string hello = "héllo wörld";
    m.send({.commit = hello});
    EXPECT_TRUE(shows("first", hello));
    EXPECT_TRUE(reports(hello, hello.size()));

    // Composing text is shown but is not the field's text; the commit that
    // ends it replaces it.
    const std::string plain = dir + "/plain.png", composing = dir + "/composing.png";
    ASSERT_TRUE(sway->screenshot(plain));
    m.send({.preedit = "ab", .preedit_cursor_begin = 2, .preedit_cursor_end = 2});
    EXPECT_TRUE(wait_until([&] {
        if (!m.pump() || !sway->screenshot(composing)) return false;
        auto a = load_png(plain), b = load_png(composing);
        return a && b && differing_pixels(*a, *b, 2) > 20;
    })) << "the composing text is never drawn";
    EXPECT_EQ(last("first"), hello);
    m.send({.commit = "ABC"});
    EXPECT_TRUE(shows("first", hello + "ABC"));
    EXPECT_TRUE(reports(hello + "ABC", hello.size() + 3));

    // Delete before the caret, then insert, in one group: the protocol's order.
    m.send({.delete_before = 3, .commit = "!"});
    EXPECT_TRUE(shows("first", hello + "!"));
    EXPECT_TRUE(reports(hello + "!", hello.size() + 1));

    // The caret the keyboard moves is where the input method inserts.
    keys({"-k", "Left", "-k", "Left"});  // before "d!"
    m.send({.commit = "-"});
    EXPECT_TRUE(shows("first", "héllo wörl-d!"));
    // The field answers only a `done` whose serial counts all its commits,
    // as the protocol says; the input method acts on the state it has seen,
    // so it must have seen the caret the keys moved before it deletes.
    EXPECT_TRUE(reports("héllo wörl-d!", std::string("héllo wörl-").size()));
    m.send({.delete_after = 1});  // the "d" after the caret
    EXPECT_TRUE(shows("first", "héllo wörl-!"));
    EXPECT_TRUE(reports("héllo wörl-!", std::string("héllo wörl-").size()));
    // Typing goes on at the same caret.
    keys({"?"});
    EXPECT_TRUE(shows("first", "héllo wörl-?!"));
}

}  // namespace
