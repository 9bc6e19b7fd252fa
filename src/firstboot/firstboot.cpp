#include "firstboot/firstboot.hpp"

#include <base/error.hpp>
#include <base/files.hpp>
#include <base/utf8.hpp>

#include "disks/disks.hpp"
#include "disks/edit.hpp"
#include "disks/table.hpp"
#include <base/process.hpp>
#include "install/boot_platform.hpp"
#include "install/command.hpp"
#include "install/encryption.hpp"
#include "install/mounts.hpp"
#include "install/staging.hpp"
#include "install/target_config.hpp"
#include "install/text_files.hpp"
#include "platform/system_paths.hpp"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace firstboot {

namespace {

namespace stdfs = std::filesystem;

constexpr std::uint64_t GROW_MARGIN = 67108864; // 64 MiB: less is not worth a resize

void log_line(const std::string& line) {
    const std::string text = "firstboot: " + line + "\n";
    std::fputs(text.c_str(), stderr);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void remove_marker(const std::string& name) { ::unlink(platform::paths().marker(name).c_str()); }
void write_empty_marker(const std::string& name) { (void)install::write_text(platform::paths().marker(name), ""); }

std::string last_component(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void finish_encryption() {
    const auto& p = platform::paths();
    if (!exists(p.marker("reencrypt-key"))) return;
    auto root = install::root_source();
    if (!root || root->find("/mapper/") == std::string::npos) return; // not encrypted yet: try on a later boot

    log_line("re-encryption finished, retiring the staged key");
    const std::string partuuid = std::string(base::utf8::trim(base::read_file(p.marker("reencrypt-device")).value_or("")));
    const std::string device = p.dev + "/disk/by-partuuid/" + partuuid;
    if (install::tpm_present() && exists(device)) {
        auto r = install::run({"clevis", "luks", "bind", "-f", "-k", p.marker("reencrypt-key"), "-d", device, "tpm2",
                               std::string(install::TPM2_PIN_CONFIG)});
        if (!r) log_line("TPM bind failed, boot will ask for the password: " + r.error());
    }
    remove_marker("reencrypt-key");
    remove_marker("reencrypt-device");
    if (exists(device) && !install::clevis_bound(device)) install::drop_clevis_hook(p.host_root);
    if (auto r = install::run({"update-initramfs", "-u"}); !r) log_line("update-initramfs: " + r.error());
    if (platform::detect_boot_scheme() == platform::BootScheme::BootScr)
        if (auto r = platform::make_uinitrd(p.host_root); !r) log_line("uInitrd: " + r.error());
}

void apply_staged_account() {
    const auto& p = platform::paths();
    auto text = base::read_file(p.marker("account-staged"));
    if (!text) return;
    auto lines = install::split_lines(*text);
    if (lines.size() < 3) {
        remove_marker("account-staged");
        return;
    }
    log_line("applying staged account " + lines[0]);
    if (auto r = install::apply_account(p.host_root, {lines[0], lines[1], lines[2]}); !r)
        log_line("apply account: " + r.error());
    remove_marker("account-staged");
    write_empty_marker("configured");
    remove_marker("configure-pending");
}

void switch_direct_flash() {
    const auto& p = platform::paths();
    if (!exists(p.marker("install-pending"))) return;
    auto disk = install::medium_disk();
    if (!disk) return;
    const std::string name = last_component(*disk);
    if (name.empty()) return;
    auto removable = base::read_file(p.sys + "/block/" + name + "/removable");
    if ((removable && std::string(base::utf8::trim(*removable)) == "1") || disks::device_kind(name) == disks::DeviceKind::USB) return;
    log_line("root lives on fixed storage " + *disk + ", switching to the Configure flow");
    if (auto r = grow_root(); !r) log_line("grow root: " + r.error());
    write_empty_marker("configure-pending");
    remove_marker("install-pending");
}

} // namespace

std::expected<void, std::string> grow_root() {
    const auto& p = platform::paths();
    auto root = install::root_source();
    if (!root) return std::unexpected(std::string("cannot resolve the root partition"));
    const std::string cannot_resolve = "cannot resolve the root disk";
    std::error_code ec;
    const stdfs::path part_dir = stdfs::canonical(stdfs::path(p.sys) / "class/block" / last_component(*root), ec);
    if (ec) return std::unexpected(cannot_resolve);
    auto number_text = base::read_file((part_dir / "partition").string());
    if (!number_text) return std::unexpected(cannot_resolve);
    auto number = disks::parse_unsigned(std::string(base::utf8::trim(*number_text)));
    if (!number || *number > UINT32_MAX) return std::unexpected(cannot_resolve);
    const std::uint32_t n = static_cast<std::uint32_t>(*number);
    const std::string disk_name = part_dir.parent_path().filename().string();
    if (disk_name.empty()) return std::unexpected(cannot_resolve);
    const std::string D = install::join(p.dev, disk_name);

    std::uint64_t possible = 0;
    {
        disks::File f(::open(D.c_str(), O_RDONLY | O_CLOEXEC));
        if (f.get() < 0) return std::unexpected("open " + D + ": " + base::errno_text(errno));
        // A table written for a smaller image is read with its backup moved to
        // the device's real end, so the usable area already reaches it.
        auto gpt = disks::find_gpt(f.get());
        if (!gpt) return std::unexpected("no gpt on " + D + ": " + gpt.error().text);
        const std::uint64_t S = gpt->sector_size;
        if (n < 1 || n > gpt->entries.size() || !gpt->entries[n - 1].used())
            return std::unexpected("p" + std::to_string(n) + ": not in GPT on " + D);
        const auto& entry = gpt->entries[n - 1];
        for (std::size_t i = 0; i < gpt->entries.size(); ++i)
            if (i != n - 1 && gpt->entries[i].used() && gpt->entries[i].first_lba > entry.first_lba) return {};
        const std::uint64_t current = (entry.last_lba - entry.first_lba + 1) * S;
        possible = gpt->last_usable >= entry.first_lba ? (gpt->last_usable - entry.first_lba + 1) * S : 0;
        if (possible <= current + GROW_MARGIN) return {};
    }
    log_line("growing " + *root + " to fill " + D);
    if (auto r = disks::resize_partition(D, n, possible); !r) return r;
    if (auto r = install::run({"partx", "-u", D}); !r) return r;
    if (auto r = install::run({"resize2fs", *root}); !r) return r;
    return {};
}

void run() {
    // One step's surprise must not cost the machine the others.
    for (void (*step)() : {finish_encryption, apply_staged_account, switch_direct_flash}) {
        try {
            step();
        } catch (const std::exception& e) {
            log_line(e.what());
        }
    }
}

} // namespace firstboot
