#pragma once
// What the install engine laid out on the target disk, read by every step
// after partitioning, and the wait for a partition node to appear.

#include <expected>
#include <optional>
#include <string>

namespace install {

struct TargetLayout {
    // Receives the root file system: a partition node, or the opened LUKS
    // container's node when encrypting.
    std::string root;
    std::optional<std::string> esp;  // EFI system partition, mounted at /boot/efi
    std::optional<std::string> boot; // separate /boot; present exactly when encrypting
    std::optional<std::string> luks; // partition holding the LUKS container; present exactly when encrypting
    bool fresh_table = false;        // this install wrote the partition table

    bool operator==(const TargetLayout&) const = default;
};

// Waits until `node` exists: up to 50 looks, 200 ms apart. Fails with
// node + " did not appear after partitioning".
[[nodiscard]] std::expected<void, std::string> wait_for_node(const std::string& node);

} // namespace install
