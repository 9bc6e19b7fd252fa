#pragma once
// The first-boot step: finishes what the previous boot left staged (a root
// encryption's TPM binding, an account) and turns a directly written image
// on fixed storage into a configured system with a root that fills the disk.
// Runs as root before the daemon; problems are logged to standard error with
// the prefix "firstboot: " and never stop the later steps.

#include <expected>
#include <string>

namespace firstboot {

void run();

// Grows the root partition (the last on its GPT disk) and its ext4 file
// system to the end of the disk. Not growing because there is nothing to gain
// is success.
[[nodiscard]] std::expected<void, std::string> grow_root();

} // namespace firstboot
