#pragma once
// Starting external programs: an explicit argument list (argv[0] looked up on
// the search path, never a shell), our descriptors kept out of the child
// (close-on-exec pipes, everything above 2 closed), and SIGPIPE and the
// signal mask back to their defaults in the child.

#include <base/fd.hpp>

#include <expected>

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace base {

enum class ChildStdin {
    Inherit, // the caller's own standard input
    File,    // `stdin_path`, opened read-only
    Pipe,    // a pipe whose write end the caller gets
};

struct SpawnOptions {
    ChildStdin stdin_mode = ChildStdin::File;
    std::string stdin_path = "/dev/null";
    // A process group of its own, led by the child, so that a signal to the
    // group also reaches whatever the program forks.
    bool own_group = false;
};

// One started program with our ends of its pipes (standard output and error
// always, standard input with ChildStdin::Pipe).
struct Child {
    pid_t pid = -1;
    Fd in, out, err;
};

// Starts `argv`; 0, or the errno of the failure (EINVAL for an empty list).
int spawn(const std::vector<std::string>& argv, const SpawnOptions& options, Child& child);

struct Drained {
    std::string out;     // standard output, when kept
    std::string err;     // standard error
    int io_error = 0;    // a read or poll failure
    int write_error = 0; // a failure writing the input (EPIPE included)
};

// Feeds `input` to the child's standard input pipe (when it has one) and
// drains both output streams in one poll loop, so that neither side can
// block the other however much it writes. Closes all the child's pipes.
Drained drain(Child& child, std::string_view input, bool keep_out);

// Waits for `pid`, retrying on EINTR; 0 or the errno of the failure.
int reap(pid_t pid, int& status);

// What a finished program left: its wait status and both output streams.
struct Captured {
    int status = 0;      // raw wait status
    std::string out;     // standard output, raw bytes
    std::string err;     // standard error, raw bytes
    bool exited_ok() const;
};

// Starts argv[0] (searched on PATH) with standard input read from
// `stdin_path`, drains its output and waits for it. Fails only when the
// program cannot be started; the error is the system's text ("empty
// command" for an empty list).
[[nodiscard]] std::expected<Captured, std::string> capture(const std::vector<std::string>& argv,
                                                           const std::string& stdin_path = "/dev/null");

} // namespace base
