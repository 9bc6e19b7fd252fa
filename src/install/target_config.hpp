#pragma once
// The configuration that turns a copy of the live system into a system of
// its own: mount table and crypttab, machine identity, language, account,
// swap file, SSH host keys, and the marker files that steer the next boot.
//
// Functions without a root argument work on the target's mount point
// (platform::paths().target_root). Commands for the installed system run as
// "chroot" ROOT COMMAND...

#include "install/target_layout.hpp"
#include "ipc/protocol.hpp"

#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace install {

// The image's default user, renamed to the user's account.
inline constexpr std::string_view DEFAULT_USER = "vessara";

// Refuses account texts that would break the line-based files and streams
// they travel through ("user:password" lines for chpasswd, one value per line
// in the staged account): a line break in any of them, or ":" in the user
// name. Nothing is written by the callers when this fails.
[[nodiscard]] std::expected<void, std::string> check_account_text(std::string_view username, std::string_view hostname,
                                                    std::string_view password);

// File-system or container UUID of `node` as blkid reports it.
std::optional<std::string> blkid_uuid(const std::string& node);

// Writes etc/fstab and, when encrypting, etc/crypttab of the target.
[[nodiscard]] std::expected<void, std::string> write_fstab(const TargetLayout& layout);

// Empties etc/machine-id and drops a regular var/lib/dbus/machine-id.
void reset_machine_id();

// Lets GRUB list the other systems of the machine.
void enable_os_prober();

// Locale, keyboard and time zone of a language code below `root`; a code
// outside the table changes nothing. Every file is tried; the text of the
// first that could not be written is the error. Whether locale-gen ran is
// not part of the outcome.
[[nodiscard]] std::expected<void, std::string> apply_locale(const std::string& root, const std::string& code);

// Turns the default user below `root` into the account and sets the host
// name.
[[nodiscard]] std::expected<void, std::string> apply_account(const std::string& root, const ipc::AccountSetup& account);

// A swap file of min(RAM, 2 GiB) when the target has twice that free.
void make_swapfile();

// Replaces the copied SSH host keys with new ones.
void regenerate_ssh_keys();

// Switches the target's markers from an installer medium to a system that
// is configured on its first boot.
void write_markers();

} // namespace install
