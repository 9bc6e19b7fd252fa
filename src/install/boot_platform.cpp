#include "install/boot_platform.hpp"

#include <base/files.hpp>
#include <base/error.hpp>
#include <base/fd.hpp>

#include "install/command.hpp"
#include "install/text_files.hpp"
#include "platform/system_paths.hpp"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

using base::errno_text;
using install::join;

constexpr off_t UBOOT_AREA_START = 32768;
constexpr std::uint64_t UBOOT_AREA_BYTES = 16777216 - 32768;
constexpr std::size_t COPY_CHUNK = 1 << 20;

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Rewrites every line of `text` with `rewrite`; each output line ends with a
// newline.
template <class F>
std::string rewrite_lines(std::string_view text, F&& rewrite) {
    std::string out;
    for (const auto& line : install::split_lines(text)) out += rewrite(line) + "\n";
    return out;
}

bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
        i += len;
    }
    return true;
}

} // namespace

BootScheme detect_boot_scheme() {
    const auto& p = paths();
    if (exists(join(p.sys, "firmware/efi"))) return BootScheme::Efi;
    if (exists(join(p.host_root, "boot/extlinux/extlinux.conf"))) return BootScheme::Extlinux;
    if (exists(join(p.host_root, "boot/boot.scr"))) return BootScheme::BootScr;
    return BootScheme::Efi;
}

std::expected<void, std::string> copy_uboot_area(const std::string& source, const std::string& target) {
    base::Fd src{::open(source.c_str(), O_RDONLY | O_CLOEXEC)};
    if (src.get() < 0) return std::unexpected("open " + source + ": " + errno_text(errno));
    base::Fd dst{::open(target.c_str(), O_WRONLY | O_CLOEXEC)};
    if (dst.get() < 0) return std::unexpected("open " + target + ": " + errno_text(errno));
    if (::lseek(src.get(), UBOOT_AREA_START, SEEK_SET) < 0) return std::unexpected("seek " + source + ": " + errno_text(errno));
    if (::lseek(dst.get(), UBOOT_AREA_START, SEEK_SET) < 0) return std::unexpected("seek " + target + ": " + errno_text(errno));
    std::vector<char> buf(COPY_CHUNK);
    std::uint64_t remaining = UBOOT_AREA_BYTES;
    while (remaining > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, COPY_CHUNK));
        ssize_t got = ::read(src.get(), buf.data(), want);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::unexpected("read " + source + ": " + errno_text(errno));
        if (got == 0) break;
        std::size_t off = 0;
        while (off < static_cast<std::size_t>(got)) {
            ssize_t put = ::write(dst.get(), buf.data() + off, static_cast<std::size_t>(got) - off);
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) return std::unexpected("write " + target + ": " + errno_text(errno));
            off += static_cast<std::size_t>(put);
        }
        remaining -= static_cast<std::uint64_t>(got);
    }
    (void)::fsync(dst.get());
    return {};
}

std::expected<void, std::string> set_uboot_root(const std::string& root, const std::string& root_text) {
    const std::string path = join(root, "etc/default/u-boot");
    const std::string wanted = "U_BOOT_ROOT=\"" + root_text + "\"";
    bool replaced = false;
    std::string text = rewrite_lines(base::read_file(path).value_or(""), [&](const std::string& line) {
        if (line.starts_with("U_BOOT_ROOT=") || line.starts_with("#U_BOOT_ROOT=")) {
            replaced = true;
            return wanted;
        }
        return line;
    });
    if (!replaced) text += wanted + "\n";
    if (auto r = install::write_text(path, text); !r) return std::unexpected("write " + path + ": " + r.error());
    return install::run({"chroot", root, "u-boot-update"});
}

std::string set_envtxt_rootdev(std::string_view line, std::string_view root_text) {
    if (line.starts_with("rootdev=")) return "rootdev=" + std::string(root_text);
    return std::string(line);
}

std::string set_bootcmd_rootdev(std::string_view line, std::string_view root_text) {
    if (line.starts_with("setenv rootdev ")) return "setenv rootdev \"" + std::string(root_text) + "\"";
    return std::string(line);
}

std::expected<void, std::string> update_boot_scr(const std::string& root, const std::string& root_text) {
    const std::string env_path = join(root, "boot/env.txt");
    if (auto env = base::read_file(env_path)) {
        std::string text = rewrite_lines(*env, [&](const std::string& l) { return set_envtxt_rootdev(l, root_text); });
        if (auto r = install::write_text(env_path, text); !r) return std::unexpected("write " + env_path + ": " + r.error());
    }
    const std::string cmd_path = join(root, "boot/boot.cmd");
    auto cmd = base::read_file(cmd_path);
    if (!cmd) return std::unexpected("read " + cmd_path + ": " + cmd.error());
    std::string text = rewrite_lines(*cmd, [&](const std::string& l) { return set_bootcmd_rootdev(l, root_text); });
    if (auto r = install::write_text(cmd_path, text); !r) return std::unexpected("write " + cmd_path + ": " + r.error());
    return install::run(
        {"chroot", root, "mkimage", "-C", "none", "-A", "arm64", "-T", "script", "-d", "/boot/boot.cmd", "/boot/boot.scr"});
}

std::expected<void, std::string> make_uinitrd(const std::string& root) {
    const std::string dir = join(root, "boot");
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::unexpected("read " + dir + ": " + errno_text(errno));
    std::vector<std::string> versions;
    const std::string prefix = "initrd.img-";
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (!name.starts_with(prefix) || !valid_utf8(name)) continue;
        versions.emplace_back(name.substr(prefix.size()));
    }
    ::closedir(d);
    for (const auto& v : versions) {
        auto r = install::run({"chroot", root, "mkimage", "-n", "uInitrd", "-A", "arm64", "-O", "linux", "-T", "ramdisk", "-C",
                               "gzip", "-d", "/boot/initrd.img-" + v, "/boot/uInitrd-" + v});
        if (!r) return r;
    }
    return {};
}

} // namespace platform
