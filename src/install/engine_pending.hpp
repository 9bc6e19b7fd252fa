#pragma once
// Engine steps whose real versions are not in this tree yet. Each answers
// plainly that it is missing rather than pretending to succeed; the file goes
// away as they arrive.

#include "install/layout.hpp"
#include "install/mounts.hpp"
#include "ipc/protocol.hpp"

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

namespace platform {

enum class BootScheme : std::uint8_t { Efi, Extlinux, BootScr };
BootScheme detect_boot_scheme();
std::expected<void, std::string> copy_uboot_area(const std::string& source, const std::string& target);
std::expected<void, std::string> set_uboot_root(const std::string& root_dir, const std::string& root);
std::expected<void, std::string> update_boot_scr(const std::string& root_dir, const std::string& root);
std::expected<void, std::string> make_uinitrd(const std::string& root_dir);

} // namespace platform

namespace install {

class InstallStatus;
using InstallHandle = std::shared_ptr<InstallStatus>;

// Encryption.
std::expected<std::string, std::string> setup_luks(const std::string& node, const std::string& password);
bool clevis_bound(const std::string& node);
void drop_clevis_hook(const std::string& root);
void close_crypt();

// Target configuration.
std::optional<std::string> blkid_uuid(const std::string& node);
std::expected<void, std::string> write_fstab(const TargetLayout& layout);
void reset_machine_id();
void enable_os_prober();
void apply_locale(const std::string& root, const std::string& code);
std::expected<void, std::string> apply_account(const std::string& root, const ipc::AccountSetup& account);
void make_swapfile();
void regenerate_ssh_keys();
void write_markers();

// Stages the account (and encryption) for the next boot.
std::expected<void, std::string> stage_account(const std::string& username, const std::string& hostname,
                                               const std::string& password, bool encrypt);

} // namespace install
