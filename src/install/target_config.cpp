#include "install/target_config.hpp"

#include <base/error.hpp>
#include <base/files.hpp>
#include <base/utf8.hpp>

#include "disks/disks.hpp"
#include <base/process.hpp>
#include "install/command.hpp"
#include "install/preflight.hpp"
#include "install/encryption.hpp"
#include "install/text_files.hpp"
#include "platform/system_paths.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace install {

namespace {

namespace stdfs = std::filesystem;

void log_line(const std::string& line) {
    const std::string text = line + "\n";
    std::fputs(text.c_str(), stderr);
}

std::string_view trim_start(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r' ||
                          s.front() == '\f' || s.front() == '\v'))
        s.remove_prefix(1);
    return s;
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

const std::string& target() { return platform::paths().target_root; }

struct Language {
    std::string_view code, locale, layout, zone;
};

constexpr std::array<Language, 10> LANGUAGES{{
    {"en", "en_US.UTF-8", "us", "Etc/UTC"},
    {"es", "es_ES.UTF-8", "es", "Europe/Madrid"},
    {"zh", "zh_CN.UTF-8", "cn", "Asia/Shanghai"},
    {"hi", "hi_IN.UTF-8", "in", "Asia/Kolkata"},
    {"fr", "fr_FR.UTF-8", "fr", "Europe/Paris"},
    {"de", "de_DE.UTF-8", "de", "Europe/Berlin"},
    {"pt", "pt_PT.UTF-8", "pt", "Europe/Lisbon"},
    {"ja", "ja_JP.UTF-8", "jp", "Asia/Tokyo"},
    {"ru", "ru_RU.UTF-8", "ru", "Europe/Moscow"},
    {"ko", "ko_KR.UTF-8", "kr", "Asia/Seoul"},
}};

constexpr std::uint64_t SWAP_LIMIT = 2147483648ull;

} // namespace

std::expected<void, std::string> check_account_text(std::string_view username, std::string_view hostname,
                                                    std::string_view password) {
    if (has_line_break(username)) return std::unexpected(std::string("the user name must not contain a line break"));
    if (username.find(':') != std::string_view::npos)
        return std::unexpected(std::string("the user name must not contain \":\""));
    if (has_line_break(hostname)) return std::unexpected(std::string("the host name must not contain a line break"));
    if (has_line_break(password)) return std::unexpected(std::string("the password must not contain a line break"));
    return {};
}

std::optional<std::string> blkid_uuid(const std::string& node) {
    auto c = base::capture({"blkid", "-o", "value", "-s", "UUID", node});
    if (!c || !c->exited_ok()) return std::nullopt;
    std::string uuid = std::string(base::utf8::trim(base::utf8::lossy(c->out)));
    if (uuid.empty()) return std::nullopt;
    return uuid;
}

std::expected<void, std::string> write_fstab(const TargetLayout& layout) {
    const std::string& R = target();
    auto root_uuid = blkid_uuid(layout.root);
    if (!root_uuid) return std::unexpected("no UUID for " + layout.root);
    std::string text = "UUID=" + *root_uuid + "\t/\text4\terrors=remount-ro\t0\t1\n";
    if (layout.boot)
        if (auto u = blkid_uuid(*layout.boot)) text += "UUID=" + *u + "\t/boot\text4\tdefaults\t0\t2\n";
    if (layout.esp)
        if (auto u = blkid_uuid(*layout.esp)) text += "UUID=" + *u + "\t/boot/efi\tvfat\tumask=0077\t0\t1\n";
    if (auto r = write_text(join(R, "etc/fstab"), text); !r) return std::unexpected("write fstab: " + r.error());
    if (layout.luks) {
        auto luks_uuid = blkid_uuid(*layout.luks);
        if (!luks_uuid) return std::unexpected("no UUID for " + *layout.luks);
        const std::string line = std::string(CRYPT_NAME) + "\tUUID=" + *luks_uuid + "\tnone\t" + crypttab_options(R) + "\n";
        if (auto r = write_text(join(R, "etc/crypttab"), line); !r) return std::unexpected("write crypttab: " + r.error());
    }
    return {};
}

void reset_machine_id() {
    const std::string& R = target();
    (void)write_text(join(R, "etc/machine-id"), "");
    const std::string dbus = join(R, "var/lib/dbus/machine-id");
    struct stat st {};
    if (::lstat(dbus.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(dbus.c_str());
}

void enable_os_prober() {
    const std::string path = join(target(), "etc/default/grub");
    std::string out;
    for (const auto& line : split_lines(base::read_file(path).value_or(""))) {
        std::string_view t = trim_start(line);
        if (t.starts_with("GRUB_DISABLE_OS_PROBER") || t == "#GRUB_DISABLE_OS_PROBER=false") continue;
        out += line + "\n";
    }
    out += "GRUB_DISABLE_OS_PROBER=false\n";
    (void)write_text(path, out);
}

std::expected<void, std::string> apply_locale(const std::string& root, const std::string& code) {
    auto it = std::find_if(LANGUAGES.begin(), LANGUAGES.end(), [&](const Language& l) { return l.code == code; });
    if (it == LANGUAGES.end()) return {};
    const std::string locale(it->locale), layout(it->layout), zone(it->zone);
    // Every step is tried; the first one that fails is what the caller hears.
    std::optional<std::string> first_failure;
    auto write = [&](const std::string& path, const std::string& text) {
        if (auto r = write_text(path, text); !r && !first_failure) first_failure = "write " + path + ": " + r.error();
    };
    write(join(root, "etc/default/locale"), "LANG=" + locale + "\n");

    const std::string gen_path = join(root, "etc/locale.gen");
    const std::string wanted = locale + " UTF-8";
    const std::string gen = base::read_file(gen_path).value_or("");
    bool present = false;
    for (const auto& line : split_lines(gen))
        if (std::string(base::utf8::trim(line)) == wanted) present = true;
    if (!present) {
        // A last line without its newline must not swallow the new entry.
        const std::string sep = (!gen.empty() && !gen.ends_with('\n')) ? "\n" : "";
        write(gen_path, gen + sep + wanted + "\n");
    }
    (void)run({"chroot", root, "locale-gen"});

    write(join(root, "etc/default/keyboard"),
          "XKBMODEL=\"pc105\"\nXKBLAYOUT=\"" + layout + "\"\nXKBVARIANT=\"\"\nXKBOPTIONS=\"\"\nBACKSPACE=\"guess\"\n");
    write(join(root, "etc/timezone"), zone + "\n");
    const std::string localtime = join(root, "etc/localtime");
    ::unlink(localtime.c_str());
    if (::symlink(("/usr/share/zoneinfo/" + zone).c_str(), localtime.c_str()) != 0 && !first_failure)
        first_failure = "link " + localtime + ": " + base::errno_text(errno);
    if (first_failure) return std::unexpected(*first_failure);
    return {};
}

std::expected<void, std::string> apply_account(const std::string& root, const ipc::AccountSetup& account) {
    const std::string& U = account.username;
    const std::string& H = account.hostname;
    if (auto r = check_account_text(U, H, account.password); !r) return r;
    const std::string old_user(DEFAULT_USER);
    if (auto r = run({"chroot", root, "usermod", "-l", U, old_user}); !r) return r;
    if (auto r = run({"chroot", root, "usermod", "-d", "/home/" + U, "-m", U}); !r) return r;
    (void)run({"chroot", root, "usermod", "-aG", "sudo", U});
    if (auto r = run_with_stdin({"chroot", root, "chpasswd"}, U + ":" + account.password + "\n"); !r) return r;
    if (auto r = write_text(join(root, "etc/hostname"), H + "\n"); !r)
        return std::unexpected("write hostname: " + r.error());
    const std::string hosts_path = join(root, "etc/hosts");
    const std::string entry = "127.0.1.1\t" + H;
    std::string hosts;
    bool replaced = false;
    for (const auto& line : split_lines(base::read_file(hosts_path).value_or(""))) {
        if (trim_start(line).starts_with("127.0.1.1")) {
            hosts += entry + "\n";
            replaced = true;
        } else {
            hosts += line + "\n";
        }
    }
    if (!replaced) hosts += entry + "\n";
    if (auto r = write_text(hosts_path, hosts); !r) return std::unexpected("write hosts: " + r.error());
    return {};
}

void make_swapfile() {
    const std::string& R = target();
    auto meminfo = base::read_file(platform::paths().proc + "/meminfo");
    if (!meminfo) return;
    std::optional<std::uint64_t> kib;
    for (const auto& line : split_lines(*meminfo)) {
        if (!line.starts_with("MemTotal:")) continue;
        std::string_view rest = trim_start(std::string_view(line).substr(9));
        kib = disks::parse_unsigned(rest.substr(0, rest.find_first_of(" \t")));
        break;
    }
    if (!kib || *kib == 0) return;
    const std::uint64_t size = (*kib > SWAP_LIMIT / 1024) ? SWAP_LIMIT : std::min(*kib * 1024, SWAP_LIMIT);
    auto avail = df_field(R, "avail");
    if (!avail) return;
    if (*avail < 2 * size) {
        log_line("install: skipping swapfile, only " + std::to_string(*avail) + " bytes free on target");
        return;
    }
    const std::string swapfile = join(R, "swapfile");
    if (auto r = run({"chroot", R, "fallocate", "-l", std::to_string(size), "/swapfile"}); !r) {
        log_line("install: skipping swapfile: " + r.error());
        ::unlink(swapfile.c_str());
        return;
    }
    ::chmod(swapfile.c_str(), 0600);
    if (auto r = run({"chroot", R, "mkswap", "/swapfile"}); !r) {
        log_line("install: skipping swapfile: " + r.error());
        ::unlink(swapfile.c_str());
        return;
    }
    int fd = ::open(join(R, "etc/fstab").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return;
    const std::string line = "/swapfile\tnone\tswap\tsw\t0\t0\n";
    (void)!::write(fd, line.data(), line.size());
    ::close(fd);
}

void regenerate_ssh_keys() {
    const std::string& R = target();
    const std::string ssh = join(R, "etc/ssh");
    std::error_code ec;
    if (stdfs::is_directory(ssh, ec)) {
        for (const auto& e : stdfs::directory_iterator(ssh, ec)) {
            if (e.path().filename().string().starts_with("ssh_host_")) {
                std::error_code ignored;
                stdfs::remove(e.path(), ignored);
            }
        }
    }
    (void)run({"chroot", R, "ssh-keygen", "-A"});
}

void write_markers() {
    const std::string dir = join(target(), "var/lib/tavix-installer");
    std::error_code ec;
    stdfs::create_directories(dir, ec);
    ::unlink((dir + "/install-pending").c_str());
    (void)write_text(dir + "/configure-pending", "");
}

} // namespace install
