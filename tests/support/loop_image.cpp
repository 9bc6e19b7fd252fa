#include "support/loop_image.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

namespace {

std::string errno_text() { return std::strerror(errno); }

// Runs argv with `input` on standard input; returns its wait status and
// stores stdout and stderr.
int spawn_and_wait(const std::vector<std::string>& argv, const std::string& input, std::string& out,
                   std::string& err) {
    int in_p[2], out_p[2], err_p[2];
    if (pipe2(in_p, O_CLOEXEC) || pipe2(out_p, O_CLOEXEC) || pipe2(err_p, O_CLOEXEC)) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in_p[0], 0);
        dup2(out_p[1], 1);
        dup2(err_p[1], 2);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in_p[0]);
    close(out_p[1]);
    close(err_p[1]);
    // Test inputs are small (sfdisk scripts): one write fits the pipe.
    if (!input.empty()) (void)!write(in_p[1], input.data(), input.size());
    close(in_p[1]);
    pollfd fds[2] = {{out_p[0], POLLIN, 0}, {err_p[0], POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_fds = 2;
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

std::expected<std::string, std::string> run_in(const std::vector<std::string>& argv,
                                               const std::string& input = "") {
    std::string out, err;
    int status = spawn_and_wait(argv, input, out, err);
    if (status != 0)
        return std::unexpected(argv[0] + " failed (status " + std::to_string(status) + "): " + err);
    return out;
}

} // namespace

std::expected<std::string, std::string> capture_output(const std::vector<std::string>& argv) {
    return run_in(argv);
}

std::expected<std::unique_ptr<LoopImage>, std::string> LoopImage::create(std::uint64_t size,
                                                                        const std::string& script) {
    if (geteuid() != 0) return std::unexpected("loop devices need root");
    std::unique_ptr<LoopImage> img(new LoopImage());
    char tmpl[] = "/tmp/tavix-loop-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return std::unexpected("mkstemp: " + errno_text());
    img->image_ = tmpl;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        return std::unexpected("ftruncate: " + errno_text());
    }
    close(fd);
    auto dev = run_in({"losetup", "-f", "--show", img->image_});
    if (!dev) return std::unexpected(dev.error());
    img->device_ = *dev;
    while (!img->device_.empty() && (img->device_.back() == '\n' || img->device_.back() == ' '))
        img->device_.pop_back();
    if (!script.empty()) {
        if (auto r = run_in({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", img->device_}, script); !r)
            return std::unexpected(r.error());
        img->partitioned_ = true;
        if (auto r = run_in({"partx", "-u", img->device_}); !r) {
            // partx -u only updates; a table the kernel has never seen needs -a.
            if (auto a = run_in({"partx", "-a", img->device_}); !a) return std::unexpected(a.error());
        }
    }
    return img;
}

LoopImage::~LoopImage() {
    if (!device_.empty()) {
        if (partitioned_) (void)run_in({"partx", "-d", device_});
        (void)run_in({"losetup", "-d", device_});
    }
    if (!image_.empty()) unlink(image_.c_str());
}

ScratchDir::ScratchDir() {
    char tmpl[] = "/tmp/tavix-test-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::expected<void, std::string> enter_private_mounts() {
    if (unshare(CLONE_NEWNS) != 0) return std::unexpected("unshare: " + errno_text());
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::unexpected("make / private: " + errno_text());
    return {};
}

bool is_mount_point(const std::string& path) {
    std::ifstream in("/proc/self/mounts");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        std::string src, point;
        if (ss >> src >> point && point == path) return true;
    }
    return false;
}

} // namespace support
