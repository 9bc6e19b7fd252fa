#include "support/debian_root.hpp"

#include <base/process.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace support {

namespace {

namespace stdfs = std::filesystem;

// Shared by every checkout on the machine. TAVIX_TEST_CACHE moves it (read
// here only, never by the installer): a test run can then start from an
// empty cache, as on a new machine, without taking the shared one away.
std::string cache_dir() {
    const char* dir = std::getenv("TAVIX_TEST_CACHE");
    return dir && *dir ? std::string(dir) : std::string("/var/cache/tavix-tests");
}
const std::string SUITE = "bookworm";
const std::string MIRROR = "http://deb.debian.org/debian";
const std::string DEFAULT_USER = "vessara";

std::string describe(const std::vector<std::string>& argv, const base::Captured& c) {
    std::string text = argv[0] + " failed (";
    if (WIFEXITED(c.status))
        text += "exit status " + std::to_string(WEXITSTATUS(c.status));
    else
        text += "wait status " + std::to_string(c.status);
    text += ")";
    std::string err = c.err.size() > 2000 ? c.err.substr(c.err.size() - 2000) : c.err;
    if (!err.empty()) text += ": " + err;
    return text;
}

std::expected<void, std::string> run(const std::vector<std::string>& argv) {
    auto c = base::capture(argv);
    if (!c) return std::unexpected(argv[0] + ": " + c.error());
    if (!c->exited_ok()) return std::unexpected(describe(argv, *c));
    return {};
}

// What a tree is made of: the host's own architecture, or another one whose
// programs run through qemu-user and binfmt_misc.
struct Flavour {
    std::string name; // the cache entry's prefix: "debian-root"
    std::string arch; // empty: the host's
    const std::vector<std::string>& packages;
    // Under emulation each initramfs build takes a quarter of an hour, and
    // installing the packages builds it twice: once for the kernel, then
    // again when initramfs-tools' trigger runs. The second build is held off
    // (update_initramfs=no during the second stage; it holds off "-u" only),
    // so the tree carries the one the kernel's installation made, from every
    // hook already unpacked. An install rebuilds it in the target anyway.
    bool initramfs_once = false;
};

Flavour host_flavour() { return {"debian-root", "", debian_root_packages()}; }
Flavour arm64_flavour() { return {"debian-root-arm64", "arm64", arm64_root_packages(), true}; }

const std::string INITRAMFS_CONF = "/etc/initramfs-tools/update-initramfs.conf";

// Everything that shapes the tree, so a change to any of it makes a new key.
std::string recipe(const Flavour& f) {
    std::string r = "suite=" + SUITE + "\nmirror=" + MIRROR + "\nvariant=minbase\n";
    if (!f.arch.empty()) r += "arch=" + f.arch + "\n";
    if (f.initramfs_once) r += "initramfs=once\n";
    for (const auto& p : f.packages) r += "package=" + p + "\n";
    r += "user=" + DEFAULT_USER + "\n";
    return r;
}

std::string key(const Flavour& f) {
    const auto r = recipe(f);
    uLong a = crc32(0L, Z_NULL, 0);
    a = crc32(a, reinterpret_cast<const Bytef*>(r.data()), static_cast<uInt>(r.size()));
    uLong b = adler32(0L, Z_NULL, 0);
    b = adler32(b, reinterpret_cast<const Bytef*>(r.data()), static_cast<uInt>(r.size()));
    return fmt::format("{:08x}{:08x}", a & 0xffffffffu, b & 0xffffffffu);
}

// Holds an exclusive lock on a file until destroyed.
class Lock {
public:
    explicit Lock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~Lock() {
        if (fd_ >= 0) ::close(fd_); // closing releases the lock
    }
    bool held() const { return fd_ >= 0; }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int fd_ = -1;
};

std::expected<void, std::string> build(const Flavour& f, const std::string& dir) {
    std::string packages;
    for (const auto& p : f.packages) packages += (packages.empty() ? "" : ",") + p;
    std::vector<std::string> argv{"debootstrap", "--variant=minbase", "--include=" + packages};
    if (!f.arch.empty()) argv.push_back("--arch=" + f.arch);
    if (f.initramfs_once) argv.push_back("--foreign");
    argv.insert(argv.end(), {SUITE, dir, MIRROR});
    if (auto r = run(argv); !r) return r;
    if (f.initramfs_once) {
        // initramfs-tools is only unpacked in the second stage: its own
        // configuration file lands beside this one as ".dpkg-dist"
        // (debootstrap keeps existing configuration files) and replaces it
        // afterwards.
        std::error_code ec;
        stdfs::create_directories(dir + "/etc/initramfs-tools", ec);
        std::ofstream(dir + INITRAMFS_CONF) << "update_initramfs=no\n";
        if (auto r = run({"chroot", dir, "/debootstrap/debootstrap", "--second-stage"}); !r) return r;
        const std::string conf = dir + INITRAMFS_CONF;
        if (::rename((conf + ".dpkg-dist").c_str(), conf.c_str()) != 0)
            return std::unexpected("initramfs-tools left no " + INITRAMFS_CONF + ".dpkg-dist");
        bool initrd = false;
        for (const auto& e : stdfs::directory_iterator(dir + "/boot", ec))
            initrd |= e.path().filename().string().starts_with("initrd.img-");
        if (!initrd) return std::unexpected(std::string("the kernel's installation made no initramfs"));
    }
    // The installer image's default user, renamed by the account step.
    if (auto r = run({"chroot", dir, "useradd", "-m", "-s", "/bin/bash", "-U", DEFAULT_USER}); !r) return r;
    // debootstrap leaves its apt lists and package files behind: tests copy
    // the tree often, so keep it small.
    std::error_code ec;
    stdfs::remove_all(dir + "/var/cache/apt/archives", ec);
    stdfs::create_directories(dir + "/var/cache/apt/archives/partial", ec);
    for (const auto& e : stdfs::directory_iterator(dir + "/var/lib/apt/lists", ec))
        if (e.is_regular_file()) stdfs::remove(e.path(), ec);
    return {};
}


// AArch64 programs run here through qemu-user, which binfmt_misc hands them
// to. The handler is registered with the F flag (the interpreter is opened
// once, at registration), so it also serves inside a chroot that has no
// qemu of its own.
std::expected<void, std::string> arm64_programs_run() {
    const std::string misc = "/proc/sys/fs/binfmt_misc";
    if (::access((misc + "/register").c_str(), F_OK) != 0 &&
        ::mount("binfmt_misc", misc.c_str(), "binfmt_misc", 0, nullptr) != 0)
        return std::unexpected("cannot mount " + misc + ": " + std::string(strerror(errno)));
    if (::access((misc + "/qemu-aarch64").c_str(), F_OK) == 0) return {};
    const std::string conf = "/usr/lib/binfmt.d/qemu-aarch64.conf";
    std::ifstream in(conf);
    std::string line;
    if (!in || !std::getline(in, line)) return std::unexpected(conf + " is missing (qemu-user-static)");
    std::ofstream reg(misc + "/register");
    reg << line;
    reg.flush();
    if (!reg && ::access((misc + "/qemu-aarch64").c_str(), F_OK) != 0)
        return std::unexpected("cannot register qemu-aarch64 with binfmt_misc");
    return {};
}

std::expected<std::string, std::string> cached_root(const Flavour& f) {
    if (::geteuid() != 0) return std::unexpected(std::string("building a Debian root needs root"));
    if (::access("/usr/sbin/debootstrap", X_OK) != 0)
        return std::unexpected(std::string("debootstrap is not installed"));
    if (!f.arch.empty())
        if (auto r = arm64_programs_run(); !r) return std::unexpected(r.error());
    const std::string cache = cache_dir();
    std::error_code ec;
    stdfs::create_directories(cache, ec);
    if (ec) return std::unexpected("mkdir " + cache + ": " + ec.message());
    const std::string k = key(f);
    const std::string final_dir = cache + "/" + f.name + "-" + k;
    // A finished tree is only ever renamed into place, so its presence
    // means it is complete; the lock is for the builders.
    if (stdfs::is_directory(final_dir)) return final_dir;
    Lock lock(cache + "/" + f.name + "-" + k + ".lock");
    if (!lock.held()) return std::unexpected("cannot lock the Debian root cache: " + std::string(strerror(errno)));
    if (stdfs::is_directory(final_dir)) return final_dir; // built while we waited
    // A scratch tree left by a builder that died holds the lock no longer.
    const std::string prefix = ".build-" + k + "-";
    for (const auto& e : stdfs::directory_iterator(cache, ec)) {
        if (!e.path().filename().string().starts_with(prefix)) continue;
        // debootstrap mounts these inside its target while it works.
        for (const char* m : {"/proc", "/sys", "/dev/pts", "/dev"}) ::umount2((e.path().string() + m).c_str(), MNT_DETACH);
        stdfs::remove_all(e.path(), ec);
    }
    const std::string scratch = cache + "/" + prefix + std::to_string(::getpid());
    stdfs::create_directories(scratch, ec);
    if (auto r = build(f, scratch); !r) {
        stdfs::remove_all(scratch, ec);
        return std::unexpected("cannot build a Debian root: " + r.error());
    }
    std::ofstream(scratch + "/.tavix-test-root") << recipe(f);
    if (::rename(scratch.c_str(), final_dir.c_str()) != 0) {
        std::string why = strerror(errno);
        stdfs::remove_all(scratch, ec);
        return std::unexpected("rename " + scratch + ": " + why);
    }
    return final_dir;
}

} // namespace

const std::vector<std::string>& debian_root_packages() {
    static const std::vector<std::string> list = {"passwd", "locales", "openssh-client", "e2fsprogs", "util-linux"};
    return list;
}

const std::vector<std::string>& arm64_root_packages() {
    static const std::vector<std::string> list = {
        "passwd",         "locales",          "openssh-client", "openssh-server",       "e2fsprogs",
        "util-linux",     "linux-image-arm64", "grub-efi-arm64", "initramfs-tools",     "systemd-sysv",
        "udev",           "kmod",             "cryptsetup-initramfs"};
    return list;
}

std::expected<std::string, std::string> debian_root() { return cached_root(host_flavour()); }

std::expected<std::string, std::string> arm64_root() { return cached_root(arm64_flavour()); }

std::expected<void, std::string> copy_debian_root(const std::string& dest) {
    auto src = debian_root();
    if (!src) return std::unexpected(src.error());
    std::error_code ec;
    stdfs::create_directories(dest, ec);
    if (ec) return std::unexpected("mkdir " + dest + ": " + ec.message());
    return run({"cp", "-a", *src + "/.", dest + "/"});
}

} // namespace support
