#include "install/bootloader.hpp"

#include "install/command.hpp"
#include "install/encryption.hpp"
#include "install/target_config.hpp"
#include "install/mounts.hpp"
#include "platform/system_paths.hpp"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace install {

namespace {

// Equal as paths, component by component: "/dev/sda/" and "/dev//sda" are
// "/dev/sda".
bool same_path(const std::string& a, const std::string& b) {
    auto parts = [](const std::string& p) {
        std::vector<std::string> out;
        for (const auto& c : std::filesystem::path(p))
            if (!c.empty() && c != "/") out.push_back(c.string());
        return out;
    };
    return parts(a) == parts(b) && a.starts_with('/') == b.starts_with('/');
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::expected<void, std::string> install_grub(const TargetLayout& layout) {
    if (!layout.esp) return std::unexpected(std::string("no bootloader could be installed"));
    const auto& paths = platform::paths();
    const bool booted_efi = exists(paths.sys + "/firmware/efi");
    Command grub{"chroot",
                 paths.target_root,
                 "grub-install",
                 "--target=arm64-efi",
                 "--efi-directory=/boot/efi",
                 "--boot-directory=/boot",
                 "--bootloader-id=Vessara",
                 "--removable",
                 "--recheck"};
    if (auto r = run(grub); !r) return std::unexpected("EFI grub-install: " + r.error());
    if (booted_efi) {
        // The same again without --removable registers a firmware boot entry.
        std::erase(grub, std::string("--removable"));
        (void)run(grub);
    }
    return {};
}

} // namespace

std::expected<void, std::string> install_bootloader(const ipc::InstallPlan& plan, const TargetLayout& layout,
                                                    platform::BootScheme scheme) {
    if (scheme == platform::BootScheme::Efi) return install_grub(layout);

    const std::string disk = plan.disk.string();
    if (plan.mode.get<ipc::TargetMode::WholeDisk>()) {
        auto medium = medium_disk();
        if (!medium) {
            std::fputs("install: cannot locate the medium's disk, u-boot area not copied\n", stderr);
        } else if (!same_path(*medium, disk)) {
            if (auto r = platform::copy_uboot_area(*medium, disk); !r) return r;
        }
    }

    std::string root_text;
    if (layout.luks) {
        root_text = CRYPT_DEVICE;
    } else {
        auto uuid = blkid_uuid(layout.root);
        if (!uuid) return std::unexpected("no UUID for " + layout.root);
        root_text = "UUID=" + *uuid;
    }
    const std::string& target = platform::paths().target_root;
    if (scheme == platform::BootScheme::Extlinux) return platform::set_uboot_root(target, "root=" + root_text);
    return platform::update_boot_scr(target, root_text);
}

} // namespace install
