#pragma once

#include <expected>
#include <optional>
#include <string>

namespace install {

// Creates the target's file systems: ext4 "tavix-root" on the root node,
// ext4 "tavix-boot" on the /boot node and FAT32 "EFI" on the ESP node when
// those are given. The first failure ends the step.
[[nodiscard]] std::expected<void, std::string> make_file_systems(const std::string& root,
                                                   const std::optional<std::string>& boot,
                                                   const std::optional<std::string>& esp);

} // namespace install
