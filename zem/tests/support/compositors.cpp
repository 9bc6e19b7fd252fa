#include "support/compositors.hpp"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zem::test {

namespace fs = std::filesystem;

namespace {

bool have(const std::string& program) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (access((std::string(dir) + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

// Waits until a socket whose name starts with `prefix` appears in `dir`.
// Whether a client can connect to the socket at `path` now. The socket file
// appears when the compositor binds it, a moment before it listens: a
// client in between is refused.
bool accepts(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        close(fd);
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

// Waits until a socket whose name starts with `prefix` appears in `dir` and
// accepts connections; empty when the compositor ended first or never got
// there.
std::string wait_socket(const std::string& dir, const std::string& prefix, pid_t pid) {
    std::string found;
    bool ended = false;
    wait_until([&] {
        std::error_code ec;
        for (auto& e : fs::directory_iterator(dir, ec)) {
            std::string name = e.path().filename();
            if (name.rfind(prefix, 0) == 0 && name.find(".lock") == std::string::npos && fs::is_socket(e.path()) &&
                accepts(e.path())) {
                found = e.path();
                return true;
            }
        }
        ended = waitpid(pid, nullptr, WNOHANG) == pid;
        return ended;
    });
    return ended ? std::string() : found;
}

// A cursor theme whose every image we use is one transparent pixel, in
// the Xcursor file format: a file header with one table entry, then one
// image chunk (header, then ARGB pixels), all little-endian 32-bit words.
bool write_blank_cursor_theme(const std::string& icons, const std::string& theme) {
    std::string dir = icons + "/" + theme + "/cursors";
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return false;
    const uint32_t kImage = 0xfffd0002u, size = 24;
    const uint32_t words[] = {
        0x72756358u, 16, 0x10000u, 1,  // "Xcur", header size, version, entries
        kImage, size, 28,              // the entry: type, nominal size, offset
        36, kImage, size, 1,           // image chunk: header size, type, size, version
        1, 1, 0, 0, 0,                 // width, height, hot spot x and y, delay
        0x00000000u,                   // the pixel
    };
    for (const char* name : {"left_ptr", "default", "text", "xterm", "pointer", "hand2", "grabbing"}) {
        std::ofstream f(dir + "/" + name, std::ios::binary);
        f.write(reinterpret_cast<const char*>(words), sizeof words);
        if (!f) return false;
    }
    for (const fs::path& p : {fs::path(icons), fs::path(icons) / theme, fs::path(dir)}) chmod(p.c_str(), 0755);
    return true;
}

}  // namespace

HeadlessCompositor::~HeadlessCompositor() {
    kill_now();
    remove_tree(runtime_dir_);
    remove_tree(work_dir_);
}

void HeadlessCompositor::kill_now() {
    if (!running_) return;
    kill(proc_.pid, SIGKILL);
    waitpid(proc_.pid, nullptr, 0);
    running_ = false;
}

std::expected<std::unique_ptr<Sway>, std::string> Sway::start(uint32_t width, uint32_t height, bool blank_cursor) {
    if (!have("sway") || !have("setpriv")) return std::unexpected("sway or setpriv is not installed");
    auto s = std::unique_ptr<Sway>(new Sway());
    s->work_dir_ = make_temp_dir("zem-sway-work");
    s->runtime_dir_ = make_temp_dir("zem-sway-run");
    if (chown(s->runtime_dir_.c_str(), 65534, 65534) != 0 || chmod(s->runtime_dir_.c_str(), 0700) != 0)
        return std::unexpected("cannot hand the runtime directory to nobody (not root?)");
    std::string config = s->work_dir_ + "/config";
    {
        std::ofstream c(config);
        c << "output HEADLESS-1 mode " << width << "x" << height << "\n"
          << "default_border none\n"
          << "default_floating_border none\n"
          << "focus_follows_mouse no\n";
        if (blank_cursor) c << "seat * xcursor_theme zem-blank 24\n";
    }
    if (blank_cursor && !write_blank_cursor_theme(s->work_dir_ + "/icons", "zem-blank"))
        return std::unexpected("cannot write the blank cursor theme");
    chmod(s->work_dir_.c_str(), 0755);
    chmod(config.c_str(), 0644);
    std::map<std::string, std::string> env = {{"XDG_RUNTIME_DIR", s->runtime_dir_},
                                              {"WLR_BACKENDS", "headless"},
                                              {"WLR_RENDERER", "pixman"},
                                              {"WLR_LIBINPUT_NO_DEVICES", "1"},
                                              {"WAYLAND_DISPLAY", ""},
                                              {"DISPLAY", ""},
                                              {"SWAYSOCK", ""}};
    if (blank_cursor) env["XCURSOR_PATH"] = s->work_dir_ + "/icons";
    auto p = spawn({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sway", "-c", config}, env,
                   s->work_dir_, "sway");
    if (!p) return std::unexpected("cannot start sway");
    s->proc_ = *p;
    s->running_ = true;
    s->display_ = wait_socket(s->runtime_dir_, "wayland-", p->pid);
    s->ipc_ = wait_socket(s->runtime_dir_, "sway-ipc.", p->pid);
    if (s->display_.empty() || s->ipc_.empty())
        return std::unexpected("sway did not come up: " + read_file(p->err_path).substr(0, 2000));
    // The output exists once swaymsg answers for it.
    // (Should it never, the test fails on what it finds missing.)
    wait_until([&] {
        auto [st, out] = s->msg({"-t", "get_outputs"});
        return st == 0 && out.find("HEADLESS-1") != std::string::npos;
    });
    return s;
}

std::pair<int, std::string> Sway::msg(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"swaymsg", "-s", ipc_};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_capture(argv);
}

bool Sway::screenshot(const std::string& png_path) const {
    auto [st, out] = run_capture({"grim", png_path}, {{"WAYLAND_DISPLAY", display_}});
    return st == 0;
}

std::expected<std::unique_ptr<Weston>, std::string> Weston::start(uint32_t width, uint32_t height, bool screenshots) {
    if (!have("weston")) return std::unexpected("weston is not installed");
    if (screenshots && !have("weston-screenshooter")) return std::unexpected("weston-screenshooter is not installed");
    if (geteuid() != 0) return std::unexpected("weston headless runs as root here");
    auto w = std::unique_ptr<Weston>(new Weston());
    w->work_dir_ = make_temp_dir("zem-weston-work");
    w->runtime_dir_ = make_temp_dir("zem-weston-run");
    chmod(w->runtime_dir_.c_str(), 0700);
    std::map<std::string, std::string> env = {{"XDG_RUNTIME_DIR", w->runtime_dir_},
                                              {"WAYLAND_DISPLAY", ""},
                                              {"DISPLAY", ""}};
    std::vector<std::string> argv = {"weston", "--backend=headless-backend.so", "--use-pixman", "--socket=zem-weston",
                                     "--width=" + std::to_string(width), "--height=" + std::to_string(height),
                                     "--idle-time=0"};
    if (screenshots) argv.push_back("--debug");
    auto p = spawn(argv, env, w->work_dir_, "weston");
    if (!p) return std::unexpected("cannot start weston");
    w->proc_ = *p;
    w->running_ = true;
    w->display_ = wait_socket(w->runtime_dir_, "zem-weston", p->pid);
    if (w->display_.empty())
        return std::unexpected("weston did not come up: " + read_file(p->err_path).substr(0, 2000));
    return w;
}

bool Weston::screenshot(const std::string& png_path) const {
    // The screenshooter names its file by the time and writes it into its
    // working directory: one fresh directory per shot leaves no doubt which.
    std::string shots = make_temp_dir("zem-weston-shot");
    auto s = spawn({"env", "-C", shots, "weston-screenshooter"},
                   {{"WAYLAND_DISPLAY", display_}, {"XDG_RUNTIME_DIR", runtime_dir_}}, shots, "shooter");
    bool ok = false;
    if (s) {
        if (!wait_for(s->pid, kWaitLimit)) {
            kill(s->pid, SIGKILL);
            waitpid(s->pid, nullptr, 0);
        }
        std::error_code ec;
        for (auto& e : fs::directory_iterator(shots, ec))
            if (!ok && e.path().extension() == ".png")
                ok = fs::copy_file(e.path(), png_path, fs::copy_options::overwrite_existing, ec);
    }
    remove_tree(shots);
    return ok;
}

}  // namespace zem::test
