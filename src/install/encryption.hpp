#pragma once
// The LUKS and TPM operations of the install engine, and the crypttab options
// an encrypted root is opened with.
//
// The passphrase is the account password as typed: it travels as bytes on
// the standard input of each command, never on a command line or in a file.

#include <expected>
#include <string>
#include <string_view>

namespace install {

// Mapping name of the opened container, and its device node. Only one
// container is open at a time.
inline constexpr std::string_view CRYPT_NAME = "tavix_crypt";
inline constexpr std::string_view CRYPT_DEVICE = "/dev/mapper/tavix_crypt";

// Clevis tpm2 pin configuration: bind to PCR 7.
inline constexpr std::string_view TPM2_PIN_CONFIG = R"({"pcr_ids":"7"})";

// On-screen unlock prompt of the target's initramfs, used when nothing can
// unlock the root without the user.
inline constexpr std::string_view KEYSCRIPT = "/usr/share/initramfs-tools/scripts/unl0kr-keyscript";

// Formats `node` as LUKS2 with `password`, opens it as "tavix_crypt", waits
// for the mapper node and binds it to the TPM when there is one (a failed
// binding is only logged). Returns "/dev/mapper/tavix_crypt".
[[nodiscard]] std::expected<std::string, std::string> setup_luks(const std::string& node, const std::string& password);

// Whether the machine has a TPM 2.0: "/dev/tpmrm0" exists, or
// "/sys/class/tpm/tpm0/tpm_version_major" holds "2".
bool tpm_present();

// Whether clevis lists any binding on the LUKS device `node`.
bool clevis_bound(const std::string& node);

// Purges the clevis initramfs integration inside `root`; logs its problems.
void drop_clevis_hook(const std::string& root);

// Closes "tavix_crypt"; harmless when nothing is open.
void close_crypt();

// Options of the root's crypttab line: "luks,discard", with the keyscript
// added when there is no TPM and `root` carries the script.
std::string crypttab_options(const std::string& root);

} // namespace install
