#pragma once
// Making the copied system bootable the way the running system boots.

#include "install/boot_platform.hpp"
#include "install/layout.hpp"
#include "ipc/protocol.hpp"

#include <expected>
#include <string>

namespace install {

// GRUB into the ESP on UEFI machines; on U-Boot boards the medium's U-Boot
// area onto a freshly laid-out disk and the new root device in the extlinux
// settings or the boot script. Works on the mounted target with the pseudo
// file systems bound in.
[[nodiscard]] std::expected<void, std::string> install_bootloader(const ipc::InstallPlan& plan, const TargetLayout& layout,
                                                    platform::BootScheme scheme);

} // namespace install
