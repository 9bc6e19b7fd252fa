#pragma once
// Staging the configure scenario's account (and an encryption of the root)
// for the next boot, on the running installed system. The first-boot step
// applies what is staged.

#include <expected>
#include <optional>
#include <string>

namespace install {

// Writes the account marker and, with `encrypt`, the re-encryption key and
// device markers, "/etc/crypttab" and a refreshed initramfs.
[[nodiscard]] std::expected<void, std::string> stage_account(const std::string& username, const std::string& hostname,
                                               const std::string& password, bool encrypt);

// The device mounted on "/" (from /proc/self/mounts), when it is a /dev node.
std::optional<std::string> root_source();

// Writes a file that holds a secret: it is created (or reopened) with mode
// 0600 before any byte of `content` reaches it. Fails with "write PATH: E" or
// "chmod PATH: E".
[[nodiscard]] std::expected<void, std::string> write_private(const std::string& path, const std::string& content);

} // namespace install
