#pragma once
// The plan check: turns the wizard's choices into one InstallPlan, or
// refuses with a text already in the current language. It only reads; it
// never touches a disk.

#include "ipc/protocol.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace install {

inline constexpr std::uint64_t WHOLE_DISK_RESERVE = 538'968'064; // 514 MiB: ESP and alignment
inline constexpr std::uint64_t ENCRYPTION_RESERVE = 838'860'800; // 800 MiB: the separate /boot
inline constexpr std::uint64_t NEED_EXTRA = 1'073'741'824;       // 1 GiB over the running system

// What the wizard selected to install onto.
struct TargetSelection {
    struct None {};
    struct WholeDisk {
        std::string disk;
    };
    struct Partition {
        std::uint32_t number = 0;
        std::string disk;
    };
    struct FreeSpace {
        std::uint64_t start = 0; // start byte of a free gap
        std::string disk;
    };
    std::variant<None, WholeDisk, Partition, FreeSpace> kind;
};

// One partition or free gap as the wizard last listed it.
struct PartitionRow {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    std::uint32_t number = 0; // 0 for a gap
    bool free = false;
    bool logical = false;
};

// One disk as the wizard last listed it.
struct DiskRow {
    std::string path;
    std::optional<std::string> table; // "gpt", "msdos" or absent
    std::uint64_t size_bytes = 0;
    std::vector<PartitionRow> partitions;
};

struct AccountForm {
    std::string username;
    std::string hostname;
    std::string password;
    std::string confirmation;
};

// The members of the wizard's state the check reads.
struct WizardChoices {
    TargetSelection target;
    std::vector<DiskRow> disks;
    std::string language;
    AccountForm account;
    bool encrypt = false;
    bool test = false;
};

// The account form's rules: user name 1-32 bytes of [a-z0-9_-] starting
// with [a-z_]; host name 1-63 bytes of [A-Za-z0-9-] not starting or ending
// with "-"; a password that is not empty and equals its confirmation.
bool account_form_valid(const AccountForm& form);

[[nodiscard]] std::expected<ipc::InstallPlan, std::string> preflight(const WizardChoices& state);

// The same check with the running system's used bytes already measured
// (nothing: unknown, which skips the size check).
[[nodiscard]] std::expected<ipc::InstallPlan, std::string> preflight(const WizardChoices& state,
                                                       std::optional<std::uint64_t> used_bytes);

// Runs "df -B1 --output=<column> <path>" and reads the number on its second
// line; nothing when df fails or prints something else.
std::optional<std::uint64_t> df_field(const std::string& path, const std::string& column);

// The number on the second line of df's output (the first is the header).
std::optional<std::uint64_t> parse_df_output(std::string_view out);

// Paths compared component by component: "/dev/sda/" and "/dev//sda" name
// /dev/sda.
bool same_path(const std::string& a, const std::string& b);

} // namespace install
