#pragma once
// Turning the plan's target into partitions, and the nodes the later install
// steps work on.

#include <base/units.hpp>
#include "install/target_layout.hpp"
#include "ipc/protocol.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

namespace install {

// Byte sizes of the layouts.
using base::MIB;
inline constexpr std::uint64_t EFI_FIRST_START = 1 * MIB;
inline constexpr std::uint64_t UBOOT_FIRST_START = 16 * MIB; // leaves room for the U-Boot area
inline constexpr std::uint64_t ESP_BYTES = 512 * MIB;
inline constexpr std::uint64_t BOOT_BYTES = 768 * MIB;
inline constexpr std::uint64_t MIN_ENCRYPTED_REGION = 800 * MIB; // a region must be larger than this

// Prepares the plan's target (wipes and lays out a whole disk, reuses or
// replaces a partition, fills a free gap) and opens the LUKS container when
// `encrypt` is set, with `password` as its passphrase.
[[nodiscard]] std::expected<TargetLayout, std::string> prepare_target(const ipc::InstallPlan& plan, bool encrypt,
                                                        const std::string& password);

// Creates a /boot partition and an encrypted root partition in the byte
// range [start, start + size) of `disk`.
[[nodiscard]] std::expected<TargetLayout, std::string> layout_encrypted_region(const std::string& disk, std::uint64_t start,
                                                                 std::uint64_t size, const std::string& password);

// The node of the disk's EFI system partition (GPT type or MBR type 0xEF).
std::optional<std::string> find_esp(const std::string& disk);

// Asks the kernel to pick up the disk's new table; never fails (logged).
void reread_partitions(const std::string& disk);

} // namespace install
