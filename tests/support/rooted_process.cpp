#include "support/rooted_process.hpp"

#include <base/process.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

namespace {

namespace stdfs = std::filesystem;
using namespace std::chrono_literals;

const char* const EXE_DIR = "/.tavix-exe";

// Only system calls between fork and exec: the test process may have threads.
[[noreturn]] void child_fail(int report_fd, const char* what, const char* path) {
    int err = errno;
    char msg[512];
    int n = snprintf(msg, sizeof msg, "%s %s: %s", what, path, strerror(err));
    (void)!write(report_fd, msg, static_cast<std::size_t>(n));
    _exit(127);
}

// mkdir -p on a writable copy of the path, without allocating.
bool make_dirs(char* path) {
    for (char* p = path + 1; *p; ++p) {
        if (*p != '/') continue;
        *p = '\0';
        if (mkdir(path, 0755) != 0 && errno != EEXIST) return false;
        *p = '/';
    }
    return mkdir(path, 0755) == 0 || errno == EEXIST;
}

std::string parent_of(const std::string& path) { return stdfs::path(path).parent_path().string(); }

// Copies the executable, its libraries and the dynamic loader into `dir`,
// which the child mounts at the root's EXE_DIR.
std::expected<std::pair<std::string, std::string>, std::string> stage_executable(const std::string& exe,
                                                                                 const std::string& dir) {
    auto c = base::capture({"ldd", exe});
    if (!c || !c->exited_ok()) return std::unexpected("ldd " + exe + " failed");
    std::error_code ec;
    stdfs::create_directories(dir + "/lib", ec);
    if (ec) return std::unexpected("mkdir " + dir + ": " + ec.message());
    std::string loader;
    std::istringstream in(c->out);
    std::string line;
    while (std::getline(in, line)) {
        std::string lib;
        auto arrow = line.find("=> ");
        if (arrow != std::string::npos) {
            lib = line.substr(arrow + 3);
        } else {
            auto first = line.find_first_not_of(" \t");
            if (first == std::string::npos) continue;
            lib = line.substr(first);
        }
        lib = lib.substr(0, lib.find(" ("));
        if (!lib.starts_with("/")) continue;
        const std::string name = stdfs::path(lib).filename().string();
        if (name.starts_with("ld-linux")) loader = name;
        stdfs::copy_file(lib, dir + "/lib/" + name, stdfs::copy_options::overwrite_existing, ec);
        if (ec) return std::unexpected("copy " + lib + ": " + ec.message());
    }
    if (loader.empty()) return std::unexpected("no dynamic loader in ldd's answer for " + exe);
    stdfs::copy_file(exe, dir + "/tavix-installer", stdfs::copy_options::overwrite_existing, ec);
    if (ec) return std::unexpected("copy " + exe + ": " + ec.message());
    return std::make_pair(std::string(EXE_DIR) + "/lib/" + loader, std::string(EXE_DIR) + "/tavix-installer");
}

struct Node {
    std::string path;
    mode_t mode;
    dev_t rdev;
};

} // namespace

std::expected<std::unique_ptr<RootedProcess>, std::string>
RootedProcess::start(const std::string& exe, const std::string& root_in, const RootedOptions& o) {
    if (geteuid() != 0) return std::unexpected(std::string("a private mount namespace needs root"));
    std::error_code ec;
    const std::string root = stdfs::canonical(root_in, ec).string();
    if (ec) return std::unexpected("canonical " + root_in + ": " + ec.message());
    std::unique_ptr<RootedProcess> p(new RootedProcess());

    char scratch_tmpl[] = "/tmp/tavix-rooted-XXXXXX";
    if (!mkdtemp(scratch_tmpl)) return std::unexpected(std::string("mkdtemp: ") + strerror(errno));
    p->scratch_ = scratch_tmpl;
    // Staged outside the root and mounted into it: the root's own file
    // system may be too small for the executable (a sanitizer build is
    // twice the size), and stays as the test made it.
    const std::string exe_dir = p->scratch_ + "/exe", exe_mount = root + EXE_DIR;
    auto staged = stage_executable(exe, exe_dir);
    if (!staged) return std::unexpected(staged.error());
    p->log_path_ = p->scratch_ + "/stderr";
    int log_fd = ::open(p->log_path_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (log_fd < 0) return std::unexpected(std::string("open log: ") + strerror(errno));

    // Everything the child needs, as ready strings.
    std::vector<Node> nodes;
    for (const char* n : {"null", "zero", "full", "random", "urandom", "tty"}) nodes.push_back({n, 0, 0});
    for (const auto& n : o.dev_nodes) nodes.push_back({n, 0, 0});
    for (auto& n : nodes) {
        struct stat st {};
        if (::stat(("/dev/" + n.path).c_str(), &st) != 0)
            return std::unexpected("stat /dev/" + n.path + ": " + strerror(errno));
        n.mode = st.st_mode;
        n.rdev = st.st_rdev;
        n.path = root + "/dev/" + n.path;
    }
    std::vector<std::string> dirs = {root + "/dev", root + "/proc", root + "/sys", exe_mount};
    std::vector<std::pair<std::string, std::string>> links;
    for (const auto& [path, target] : o.dev_links) {
        dirs.push_back(parent_of(root + "/dev/" + path));
        links.emplace_back(root + "/dev/" + path, target);
    }
    std::vector<std::string> files;
    for (const auto& f : o.dev_files) {
        dirs.push_back(parent_of(root + "/dev/" + f));
        files.push_back(root + "/dev/" + f);
    }
    std::vector<std::pair<std::string, std::string>> overrides; // source file, target
    int k = 0;
    for (const auto& [path, content] : o.overrides) {
        const std::string src = p->scratch_ + "/override-" + std::to_string(k++);
        std::ofstream(src, std::ios::binary) << content;
        overrides.emplace_back(src, root + path);
    }
    std::vector<std::pair<std::string, std::string>> binds; // host directory, target
    for (const auto& [from, to] : o.binds) {
        dirs.push_back(root + to);
        binds.emplace_back(from, root + to);
    }
    const std::string run_dir = root + "/run", state_dir = root + "/var/lib/tavix-installer";
    std::vector<std::string> argv_s = {staged->first, "--library-path", std::string(EXE_DIR) + "/lib", staged->second};
    p->exe_argv_ = argv_s;
    for (const auto& a : o.args) argv_s.push_back(a);
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string path_env = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    char* envp[] = {path_env.data(), nullptr};
    // Writable copies for make_dirs.
    std::vector<std::string> dir_buf = dirs;
    std::string state_buf = state_dir;

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return std::unexpected(std::string("pipe: ") + strerror(errno));
    pid_t pid = fork();
    if (pid < 0) return std::unexpected(std::string("fork: ") + strerror(errno));
    if (pid == 0) {
        close(report[0]);
        int w = report[1];
        if (unshare(CLONE_NEWNS) != 0) child_fail(w, "unshare", "");
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) child_fail(w, "private", "/");
        if (mount(root.c_str(), root.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) child_fail(w, "bind", root.c_str());
        for (auto& d : dir_buf)
            if (!make_dirs(d.data())) child_fail(w, "mkdir", d.c_str());
        if (mount("tmpfs", dirs[0].c_str(), "tmpfs", 0, "mode=0755") != 0) child_fail(w, "tmpfs", dirs[0].c_str());
        for (auto& d : dir_buf)
            if (!make_dirs(d.data())) child_fail(w, "mkdir", d.c_str());
        for (const auto& n : nodes)
            if (mknod(n.path.c_str(), n.mode, n.rdev) != 0) child_fail(w, "mknod", n.path.c_str());
        for (const auto& [path, target] : links)
            if (symlink(target.c_str(), path.c_str()) != 0) child_fail(w, "symlink", path.c_str());
        for (const auto& f : files) {
            int fd = open(f.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            if (fd < 0) child_fail(w, "create", f.c_str());
            close(fd);
        }
        if (mount("proc", dirs[1].c_str(), "proc", 0, nullptr) != 0) child_fail(w, "proc", dirs[1].c_str());
        if (mount("/sys", dirs[2].c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) child_fail(w, "bind", dirs[2].c_str());
        if (mount(exe_dir.c_str(), exe_mount.c_str(), nullptr, MS_BIND, nullptr) != 0)
            child_fail(w, "bind", exe_mount.c_str());
        for (const auto& [src, target] : overrides)
            if (mount(src.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) child_fail(w, "bind", target.c_str());
        for (const auto& [from, target] : binds)
            if (mount(from.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) child_fail(w, "bind", target.c_str());
        if (o.private_run_and_state) {
            if (mount("tmpfs", run_dir.c_str(), "tmpfs", 0, "mode=0755") != 0) child_fail(w, "tmpfs", run_dir.c_str());
            if (!make_dirs(state_buf.data())) child_fail(w, "mkdir", state_dir.c_str());
            if (mount("tmpfs", state_dir.c_str(), "tmpfs", 0, "mode=0755") != 0) child_fail(w, "tmpfs", state_dir.c_str());
        }
        if (chdir(root.c_str()) != 0 || chroot(".") != 0 || chdir("/") != 0) child_fail(w, "chroot", root.c_str());
        int null_fd = open("/dev/null", O_RDWR);
        if (null_fd < 0) child_fail(w, "open", "/dev/null");
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(log_fd, 2);
        signal(SIGPIPE, SIG_DFL);
        execve(argv[0], argv.data(), envp);
        child_fail(w, "exec", argv[0]);
    }
    close(log_fd);
    close(report[1]);
    p->pid_ = pid;
    std::string failure;
    char buf[512];
    ssize_t n;
    while ((n = read(report[0], buf, sizeof buf)) > 0) failure.append(buf, static_cast<std::size_t>(n));
    close(report[0]);
    if (!failure.empty()) {
        p->wait_exit();
        return std::unexpected(failure);
    }
    return p;
}

std::vector<std::string> RootedProcess::enter_command(const std::vector<std::string>& args,
                                                     const std::vector<std::string>& env) const {
    std::vector<std::string> argv = {"nsenter", "--target", std::to_string(pid_), "--mount", "--root", "--wd", "--",
                                     "/usr/bin/env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), exe_argv_.begin(), exe_argv_.end());
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

RootedProcess::~RootedProcess() {
    stop();
    std::error_code ec;
    if (!scratch_.empty()) stdfs::remove_all(scratch_, ec);
}

std::expected<RootedRun, std::string> run_rooted(const std::string& exe, const std::string& root,
                                                 const RootedOptions& options) {
    auto p = RootedProcess::start(exe, root, options);
    if (!p) return std::unexpected(p.error());
    int status = (*p)->wait_exit();
    RootedRun r;
    r.err = (*p)->log();
    if (status == -1) return std::unexpected("did not end in time: " + r.err);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::expected<std::unique_ptr<OverlayRoot>, std::string>
OverlayRoot::create(const std::string& lower, const std::string& source, const std::string& scratch_parent) {
    std::unique_ptr<OverlayRoot> o(new OverlayRoot());
    std::string tmpl = scratch_parent + "/tavix-overlay-XXXXXX";
    if (!mkdtemp(tmpl.data())) return std::unexpected(std::string("mkdtemp: ") + strerror(errno));
    o->dir_ = tmpl;
    o->merged_ = o->dir_ + "/merged";
    for (const char* d : {"/merged", "/upper", "/work"})
        if (mkdir((o->dir_ + d).c_str(), 0755) != 0) return std::unexpected(std::string("mkdir: ") + strerror(errno));
    const std::string options = "lowerdir=" + lower + ",upperdir=" + o->dir_ + "/upper,workdir=" + o->dir_ + "/work";
    if (mount(source.c_str(), o->merged_.c_str(), "overlay", 0, options.c_str()) != 0) {
        std::string why = strerror(errno);
        o->merged_.clear();
        return std::unexpected("mount overlay: " + why);
    }
    return o;
}

OverlayRoot::~OverlayRoot() {
    if (!merged_.empty()) umount2(merged_.c_str(), MNT_DETACH);
    std::error_code ec;
    if (!dir_.empty()) stdfs::remove_all(dir_, ec);
}

std::expected<std::unique_ptr<Mounted>, std::string> Mounted::create(const std::string& device) {
    std::unique_ptr<Mounted> m(new Mounted());
    char tmpl[] = "/tmp/tavix-mnt-XXXXXX";
    if (!mkdtemp(tmpl)) return std::unexpected(std::string("mkdtemp: ") + strerror(errno));
    auto c = base::capture({"mount", device, tmpl});
    if (!c || !c->exited_ok()) {
        rmdir(tmpl);
        return std::unexpected("mount " + device + ": " + (c ? c->err : c.error()));
    }
    m->path_ = tmpl;
    return m;
}

Mounted::~Mounted() {
    if (path_.empty()) return;
    if (umount2(path_.c_str(), 0) != 0) umount2(path_.c_str(), MNT_DETACH);
    rmdir(path_.c_str());
}

void install_standin(const std::string& root, const std::string& name) {
    const std::string dir = root + "/usr/local/sbin";
    std::error_code ec;
    stdfs::create_directories(dir, ec);
    const std::string path = dir + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n"
                           "# Stand-in for a program that cannot run on the test machine.\n"
                           "n=${0##*/}\n"
                           "base=${0%/*}/../../..\n"
                           "{ printf '%s' \"$n\"; for a in \"$@\"; do printf ' %s' \"$a\"; done; echo; } >> \"$base/standin-calls.log\"\n"
                           "[ -f \"$base/standin/$n.out\" ] && cat \"$base/standin/$n.out\"\n"
                           "[ -f \"$base/standin/$n.err\" ] && cat \"$base/standin/$n.err\" >&2\n"
                           "[ -f \"$base/standin/$n.status\" ] && exit \"$(cat \"$base/standin/$n.status\")\"\n"
                           "exit 0\n";
    stdfs::permissions(path, stdfs::perms(0755), ec);
}

std::vector<std::string> standin_calls(const std::string& root) {
    std::vector<std::string> calls;
    std::ifstream in(root + "/standin-calls.log");
    std::string line;
    while (std::getline(in, line)) calls.push_back(line);
    return calls;
}

void standin_answer(const std::string& root, const std::string& name, const std::string& out, int status,
                    const std::string& err) {
    const std::string dir = root + "/standin";
    std::error_code ec;
    stdfs::create_directories(dir, ec);
    std::ofstream(dir + "/" + name + ".out") << out;
    std::ofstream(dir + "/" + name + ".err") << err;
    std::ofstream(dir + "/" + name + ".status") << status;
}

} // namespace support
