#include "install/pipeline.hpp"

#include "disks/disks.hpp"
#include "install/bootloader.hpp"
#include "install/command.hpp"
#include "install/copy.hpp"
#include "install/boot_platform.hpp"
#include "install/preflight.hpp"
#include "install/encryption.hpp"
#include "install/target_config.hpp"
#include "install/file_systems.hpp"
#include "install/layout.hpp"
#include "platform/system_paths.hpp"

#include <cstdio>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <sstream>
#include <system_error>

namespace install {

namespace {

namespace sfs = std::filesystem;
using ipc::InstallPhase;

std::expected<void, std::string> make_dir(const std::string& path) {
    std::error_code ec;
    sfs::create_directories(path, ec);
    if (ec) return std::unexpected("mkdir " + path + ": " + ec.message());
    return {};
}

std::string gb(std::uint64_t bytes) { return fmt::format("{:.1f}", static_cast<double>(bytes) / 1e9); }

} // namespace

std::optional<std::uint64_t> block_device_bytes(const std::string& node) {
    const std::string name = sfs::path(node).filename().string();
    if (name.empty()) return std::nullopt;
    std::ifstream in(platform::paths().sys + "/class/block/" + name + "/size");
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    const auto first = s.find_first_not_of(" \t\r\n\v\f");
    const auto last = s.find_last_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return std::nullopt;
    auto sectors = disks::parse_unsigned(std::string_view(s).substr(first, last - first + 1));
    if (!sectors || *sectors > UINT64_MAX / 512) return std::nullopt;
    return *sectors * 512;
}

std::expected<void, std::string> check_root_size(const std::string& root_node,
                                                 std::optional<std::uint64_t> root_bytes,
                                                 std::optional<std::uint64_t> used) {
    if (!used || !root_bytes) return {};
    const std::uint64_t need = *used + *used / 10 + NEED_EXTRA;
    if (*root_bytes >= need) return {};
    return std::unexpected(root_node + " has " + gb(*root_bytes) + " GB but the system needs at least " + gb(need) +
                           " GB");
}

std::expected<void, std::string> run_install(const ipc::InstallPlan& plan, const InstallHandle& handle,
                                             MountList& mounts) {
    const auto& paths = platform::paths();
    const std::string& root_dir = paths.target_root;
    // The account's password is the passphrase; without an account there is
    // nothing to unlock with, so no encryption.
    const bool encrypt = plan.encrypt && plan.account.has_value();
    const std::string password = encrypt ? plan.account->password : std::string();

    // Partition.
    set_progress(handle, InstallPhase::Partition, 0.01f);
    // Names and password travel as lines (chpasswd's "user:password"):
    // refused before the disk is touched.
    if (plan.account) {
        if (auto r = check_account_text(plan.account->username, plan.account->hostname, plan.account->password); !r)
            return r;
    }
    auto prepared = prepare_target(plan, encrypt, password);
    if (!prepared) return std::unexpected(prepared.error());
    const TargetLayout& layout = *prepared;
    if (auto r = check_root_size(layout.root, block_device_bytes(layout.root), df_field(paths.host_root, "used"));
        !r)
        return r;
    if (auto r = check_cancelled(); !r) return r;

    // Format.
    set_progress(handle, InstallPhase::Format, 0.05f);
    // An ESP that was there before holds other systems' loaders: never formatted.
    const std::optional<std::string> new_esp = layout.fresh_table ? layout.esp : std::nullopt;
    if (auto r = make_file_systems(layout.root, layout.boot, new_esp); !r) return r;
    if (auto r = check_cancelled(); !r) return r;

    // Copy.
    set_progress(handle, InstallPhase::Copy, 0.10f);
    if (auto r = make_dir(root_dir); !r) return r;
    if (auto r = mount(layout.root, root_dir, {}, mounts); !r) return r;
    if (layout.boot) {
        const std::string boot_dir = root_dir + "/boot";
        if (auto r = make_dir(boot_dir); !r) return r;
        if (auto r = mount(*layout.boot, boot_dir, {}, mounts); !r) return r;
    }
    if (auto r = copy_system(handle); !r) return r;
    if (auto r = check_cancelled(); !r) return r;
    if (layout.esp) {
        // Mounted only now, so the copy never writes into it.
        const std::string efi_dir = root_dir + "/boot/efi";
        if (auto r = make_dir(efi_dir); !r) return r;
        if (auto r = mount(*layout.esp, efi_dir, {}, mounts); !r) return r;
    }

    // Bootloader: no cancelling from here on.
    set_progress(handle, InstallPhase::Bootloader, 0.85f);
    const platform::BootScheme scheme = platform::detect_boot_scheme();
    if (auto r = write_fstab(layout); !r) return r;
    reset_machine_id();
    if (auto r = bind_mounts(mounts); !r) return r;
    if (auto r = install_bootloader(plan, layout, scheme); !r) return r;
    if (scheme == platform::BootScheme::Efi) {
        enable_os_prober();
        // GRUB names the root by UUID only when udev has made the root's
        // /dev/disk/by-uuid link; without it the kernel line gets this
        // machine's device name (root=/dev/sda2), which need not be the
        // disk's name when it boots. Wait for udev to finish with the
        // new file systems first.
        if (auto r = run({"udevadm", "settle"}); !r)
            std::fprintf(stderr, "install: udevadm settle: %s\n", r.error().c_str());
        if (auto r = run({"chroot", root_dir, "update-grub"}); !r) return r;
    }
    set_progress(handle, InstallPhase::Bootloader, 0.92f);
    if (layout.luks && !clevis_bound(*layout.luks)) drop_clevis_hook(root_dir);
    if (auto r = run({"chroot", root_dir, "update-initramfs", "-u"}); !r)
        std::fprintf(stderr, "install: update-initramfs: %s\n", r.error().c_str());
    if (scheme == platform::BootScheme::BootScr) {
        if (auto r = platform::make_uinitrd(root_dir); !r)
            std::fprintf(stderr, "install: uInitrd: %s\n", r.error().c_str());
    }

    // Finalize.
    set_progress(handle, InstallPhase::Finalize, 0.96f);
    (void)apply_locale(root_dir, plan.locale);
    if (plan.account) {
        if (auto r = apply_account(root_dir, *plan.account); !r) return r;
    }
    make_swapfile();
    regenerate_ssh_keys();
    write_markers();
    unmount_all(mounts);
    if (layout.luks) close_crypt();
    (void)run({"sync"});
    return {};
}

} // namespace install
