#include <base/files.hpp>
#include "install/command.hpp"
#include <base/sigpipe.hpp>
#include "support/temp_dir.hpp"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

struct RunCase {
    const char* name;
    install::Command command;
    std::optional<std::string> error; // absent: success
};

TEST(CommandRun, OutcomesAndFailureTexts) {
    base::ignore_sigpipe();
    const std::vector<RunCase> cases = {
        {"success after standard error", {"sh", "-c", "echo warning >&2; exit 0"}, std::nullopt},
        {"last three of four lines",
         {"sh", "-c", "printf 'one\\ntwo\\nthree\\nfour\\n' >&2; exit 2"},
         "sh exited with exit status: 2: two | three | four"},
        {"carriage returns before newlines dropped",
         {"sh", "-c", "printf 'a\\r\\nb\\r\\n' >&2; exit 1"},
         "sh exited with exit status: 1: a | b"},
        {"last line without newline", {"sh", "-c", "printf 'x\\ny' >&2; exit 3"},
         "sh exited with exit status: 3: x | y"},
        {"no output", {"sh", "-c", "exit 1"}, "sh exited with exit status: 1: "},
        {"standard output is not in the tail", {"sh", "-c", "echo out; exit 4"},
         "sh exited with exit status: 4: "},
        {"invalid UTF-8 replaced", {"sh", "-c", "printf 'bad \\377\\376 end\\n' >&2; exit 1"},
         "sh exited with exit status: 1: bad \xEF\xBF\xBD\xEF\xBF\xBD end"},
        {"killed by a signal", {"sh", "-c", "echo dying >&2; kill -KILL $$"},
         "sh exited with signal: 9 (SIGKILL): dying"},
        // We ignore SIGPIPE; the program must get the default back, so this
        // shell dies of the signal instead of shrugging it off.
        {"SIGPIPE default in the child", {"sh", "-c", "kill -PIPE $$; exit 0"},
         "sh exited with signal: 13 (SIGPIPE): "},
        {"missing program", {"tavix-no-such-program", "x"},
         "spawn tavix-no-such-program: No such file or directory"},
        {"program name as given", {"/bin/sh", "-c", "echo e >&2; exit 9"},
         "/bin/sh exited with exit status: 9: e"},
        {"standard input is the null device", {"sh", "-c", "if read x; then exit 1; fi; exit 0"},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = install::run(c.command);
        if (c.error) {
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error(), *c.error);
        } else {
            EXPECT_TRUE(r.has_value()) << r.error();
        }
    }
}

TEST(CommandRun, LargeOutputOnBothStreamsDoesNotBlock) {
    // Far more than a pipe holds, alternating between the streams.
    auto r = install::run({"sh", "-c",
                           "i=0; while [ $i -lt 20 ]; do head -c 200000 /dev/zero; "
                           "head -c 200000 /dev/zero >&2; i=$((i+1)); done; "
                           "echo >&2; echo second-last >&2; echo last >&2; exit 7"});
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().starts_with("sh exited with exit status: 7: "));
    EXPECT_TRUE(r.error().ends_with(" | second-last | last")) << r.error().substr(r.error().size() - 40);
}

TEST(CommandRun, DescriptorsDoNotLeakIntoPrograms) {
    int fd = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(fd, 3);
    const std::string check = "[ ! -e /proc/$$/fd/" + std::to_string(fd) + " ]";
    auto r = install::run({"sh", "-c", check});
    // It reads its input first: a program that ends without reading it
    // leaves a broken pipe, which is another test's matter.
    auto r2 = install::run_with_stdin({"sh", "-c", "cat > /dev/null; " + check}, "x\n");
    ::close(fd);
    EXPECT_TRUE(r.has_value()) << r.error();
    EXPECT_TRUE(r2.has_value()) << r2.error();
}

std::string read_file(const std::string& path) { return base::read_file(path).value_or(""); }

TEST(CommandRunWithStdin, InputArrivesWholeAndThenEnds) {
    support::TempDir dir;
    const std::string out = dir / "received";
    const std::string secret = "alice:p\"a ss\\w\xC3\xB6rd\n";
    // cat only ends when standard input is closed.
    auto r = install::run_with_stdin({"sh", "-c", "cat > \"$1\"", "sh", out}, secret);
    ASSERT_TRUE(r.has_value()) << r.error();
    EXPECT_EQ(read_file(out), secret);
}

TEST(CommandRunWithStdin, LargeInputWhileTheProgramWritesBack) {
    // The program echoes everything: writing all input before reading any
    // output would fill both pipes and hang.
    std::string input(4 << 20, 'z');
    input += '\n';
    auto r = install::run_with_stdin({"cat"}, input);
    EXPECT_TRUE(r.has_value()) << r.error();
    auto r2 = install::run_with_stdin({"sh", "-c", "cat >&2; echo done >&2; exit 1"}, input);
    ASSERT_FALSE(r2.has_value());
    EXPECT_TRUE(r2.error().ends_with("zz | done")) << r2.error().substr(r2.error().size() - 20);
}

TEST(CommandRunWithStdin, FailureTexts) {
    base::ignore_sigpipe();
    std::string big(1 << 20, 'q');
    const std::vector<std::tuple<const char*, install::Command, std::string, std::string>> cases = {
        {"wrong password", {"sh", "-c", "read l; [ \"$l\" = right ] || { echo 'No key available' >&2; exit 2; }"},
         "wrong\n", "sh exited with exit status: 2: No key available"},
        // Quitting without reading: its own exit explains more than the
        // broken pipe it leaves behind.
        {"quits without reading", {"sh", "-c", "echo refused >&2; exit 5"}, big,
         "sh exited with exit status: 5: refused"},
        {"missing program", {"tavix-no-such-program"}, "x\n",
         "spawn tavix-no-such-program: No such file or directory"},
    };
    for (const auto& [name, cmd, input, text] : cases) {
        SCOPED_TRACE(name);
        auto r = install::run_with_stdin(cmd, input);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error(), text);
    }
    auto ok = install::run_with_stdin({"sh", "-c", "read l; [ \"$l\" = right ]"}, "right\n");
    EXPECT_TRUE(ok.has_value()) << ok.error();
}

TEST(StderrTail, Lines) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"only\n", "only"},
        {"a\n\nb\n", "a |  | b"},
        {"1\n2\n3\n4\n5", "3 | 4 | 5"},
        {"cut \xE2\x82", "cut \xEF\xBF\xBD"},
        {"\xF0\x9F\x98\x80 ok\n", "\xF0\x9F\x98\x80 ok"},
        {"lone\rcr\n", "lone\rcr"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(install::stderr_tail(in), want) << in;
}

} // namespace
