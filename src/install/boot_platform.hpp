#pragma once
// How the machine boots (UEFI, or U-Boot through extlinux or a boot script)
// and the board-specific steps: the U-Boot area of the medium, the root
// named in the extlinux settings or the boot script, and U-Boot ramdisks.
//
// Root directories are joined with relative paths ("etc/default/u-boot"):
// the target's mount point during an install, "/" on the running system.
// Commands inside a root run as "chroot" ROOT COMMAND... through install::run,
// whose failure text is passed on unchanged.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace platform {

enum class BootScheme : std::uint8_t { Efi, Extlinux, BootScr };

// The scheme of the running system, from what exists under
// platform::paths(): firmware/efi in sys, then boot/extlinux/extlinux.conf,
// then boot/boot.scr of the host root; Efi when none does.
BootScheme detect_boot_scheme();

// Copies bytes 32 KiB up to 16 MiB of the source disk to the same offsets
// of the target disk (less when the source ends sooner).
[[nodiscard]] std::expected<void, std::string> copy_uboot_area(const std::string& source, const std::string& target);

// Names `root_text` in ROOT/etc/default/u-boot ("U_BOOT_ROOT=...") and runs
// u-boot-update inside ROOT.
[[nodiscard]] std::expected<void, std::string> set_uboot_root(const std::string& root, const std::string& root_text);

// Names `root_text` in ROOT/boot/env.txt (when readable) and
// ROOT/boot/boot.cmd, then compiles boot.cmd into boot.scr with mkimage.
[[nodiscard]] std::expected<void, std::string> update_boot_scr(const std::string& root, const std::string& root_text);

// Builds /boot/uInitrd-V from every /boot/initrd.img-V inside ROOT.
[[nodiscard]] std::expected<void, std::string> make_uinitrd(const std::string& root);

// The line rewriters of update_boot_scr: the line itself when it does not
// name the root, otherwise the line naming `root_text`.
std::string set_envtxt_rootdev(std::string_view line, std::string_view root_text);
std::string set_bootcmd_rootdev(std::string_view line, std::string_view root_text);

} // namespace platform
