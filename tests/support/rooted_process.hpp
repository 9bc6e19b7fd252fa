#pragma once
// The real executable run with a test's directory as its "/" (chroot) inside
// a private mount namespace, as it runs on an installed system: the first-boot
// step, or the daemon on the running system.
//
// What the test decides is what that root is: a plain copy of a Debian root,
// an ext4 file system on a loop partition (so "/" is mounted from a real
// partition), or an overlay whose source is named like an opened LUKS
// container. The child then gets:
//   - the root bound onto itself (a plain directory becomes a mount point);
//   - a fresh /proc, the host's /sys (recursively), and a tmpfs /dev holding
//     null, zero, full, random, urandom, tty and the nodes the test names,
//     plus the test's extra files and links below /dev;
//   - files bound over single paths (sysfs attributes the test wants to read
//     differently, for example a device reported as removable);
//   - optionally tmpfs over /run and /var/lib/tavix-installer (the daemon),
//     which the test reaches through /proc/<pid>/root while it runs;
//   - PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin, so
//     stand-ins placed in the root's /usr/local/sbin come first.
// The executable, its shared libraries and the host's dynamic loader are
// copied into a scratch directory mounted at the root's /.tavix-exe, so a
// root of any content and size can run it.
//
// Stand-ins (install_standin) are shell scripts in ROOT/usr/local/sbin: each
// appends its name and arguments, separated by single blanks, as one line to
// ROOT/standin-calls.log; then prints ROOT/standin/NAME.out when it exists,
// prints ROOT/standin/NAME.err to standard error and exits with the number in
// ROOT/standin/NAME.status when those exist, else exits 0. ROOT is found from
// the script's own path, so they serve a chroot and the host's PATH alike.

#include "support/child_process.hpp"

#include <chrono>
#include <expected>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <sys/types.h>

namespace support {

struct RootedOptions {
    std::vector<std::string> args;                            // after the executable: {"firstboot"}
    std::vector<std::string> dev_nodes;                       // host device nodes to copy: {"loop3", "loop3p1"}
    std::vector<std::pair<std::string, std::string>> dev_links; // below /dev: {"disk/by-partuuid/X", "../../loop3p1"}
    std::vector<std::string> dev_files;                       // empty regular files below /dev: {"tpmrm0"}
    std::vector<std::pair<std::string, std::string>> overrides; // absolute path in the child → content bound over it
    bool private_run_and_state = false;                        // tmpfs over /run and /var/lib/tavix-installer
    // Host directories bound at a path in the root (made when missing): what a
    // program entering the namespace needs of the host, such as the
    // compositor's and the accessibility bus's sockets.
    std::vector<std::pair<std::string, std::string>> binds;    // host directory → absolute path in the root
};

class RootedProcess : public ChildProcess {
public:
    static std::expected<std::unique_ptr<RootedProcess>, std::string>
    start(const std::string& exe, const std::string& root, const RootedOptions& options);

    ~RootedProcess(); // kills the process when it still runs
    // "/proc/<pid>/root" while it runs: the child's view of its files.
    std::string view() const { return "/proc/" + std::to_string(pid_) + "/root"; }
    // A command line that runs the same executable, with `args`, in this
    // process's mount namespace and root (nsenter), as a second program of
    // that system would run beside it; `env` (NAME=value) is set inside.
    std::vector<std::string> enter_command(const std::vector<std::string>& args,
                                           const std::vector<std::string>& env = {}) const;
    // The wait status, or -1 on time-out.
    int wait_exit(std::chrono::milliseconds limit = std::chrono::seconds(120)) { return wait_exit_within(limit); }

private:
    RootedProcess() = default;
    std::string scratch_;
    std::vector<std::string> exe_argv_; // loader, its options and the executable, as paths in the root
};

// A writable root over a read-only tree (the cached Debian root): an overlay
// mounted in the test's namespace whose source reads `source` in the mount
// table, so a process rooted in it sees "/" mounted from that device, for
// example "/dev/mapper/tavix_crypt". Unmounted on destruction.
class OverlayRoot {
public:
    // The upper layer lives in a new directory below `scratch_parent`.
    static std::expected<std::unique_ptr<OverlayRoot>, std::string>
    create(const std::string& lower, const std::string& source, const std::string& scratch_parent = "/tmp");
    ~OverlayRoot();
    OverlayRoot(const OverlayRoot&) = delete;
    OverlayRoot& operator=(const OverlayRoot&) = delete;
    const std::string& path() const { return merged_; }

private:
    OverlayRoot() = default;
    std::string dir_, merged_;
};

// Mounts `device` at a fresh directory; unmounts and removes it on
// destruction.
class Mounted {
public:
    static std::expected<std::unique_ptr<Mounted>, std::string> create(const std::string& device);
    ~Mounted();
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;
    const std::string& path() const { return path_; }

private:
    Mounted() = default;
    std::string path_;
};

// Result of a run to the end.
struct RootedRun {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string err; // standard error
};
std::expected<RootedRun, std::string> run_rooted(const std::string& exe, const std::string& root,
                                                 const RootedOptions& options);

// Writes the logging stand-in NAME into ROOT/usr/local/sbin.
void install_standin(const std::string& root, const std::string& name);
// The stand-ins' calls, one line each, in order.
std::vector<std::string> standin_calls(const std::string& root);
// Sets what stand-in NAME prints, writes to standard error, and its status.
void standin_answer(const std::string& root, const std::string& name, const std::string& out, int status = 0,
                    const std::string& err = "");

} // namespace support
