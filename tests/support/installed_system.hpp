#pragma once
// Looking at a disk after a whole install through the real daemon, the way a
// user would look at the result: its table, its file systems, and what the
// root file system holds. Shared by the engine's end-to-end tests and the
// install walked from the wizard's screen.
//
//   const std::string t = support::look_inside(disk.part(2), dir.path() + "/look");
//   support::check_installed_root(t, {"ann", "annbox", "s3cret pass", "de_DE.UTF-8", "de", "Europe/Berlin"});
//
// The checks report through gtest's EXPECT macros, so a test sees every
// difference at once.

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace support {

// The live system's own additions over the Debian tree, as an overlay layer
// at `dir` (replaced): the install marker, an old SSH host key, and inside
// the system the boot-loader tools that cannot run here (they log to
// "/var/log/tavix-standins.log" and fail when "/etc/tavix-test/fail-NAME"
// exists). `scheme`: "efi", "extlinux" or "bootscr" (the board's boot files
// the live system carries). `fail`: the stand-ins that fail.
void write_live_layer(const std::string& dir, const std::string& scheme = "efi",
                      const std::vector<std::string>& fail = {});

// Copies the interesting parts of the file system on `node` (mounted
// read-only in a mount namespace of its own; `offset` skips a LUKS header)
// into `out` (created): etc, var/lib/tavix-installer, the boot-loader
// stand-ins' log, home, boot, extlinux, plus "swapfile.stat" (size and
// mode of /swapfile) and "top.list" (the names at the top).
void look_inside(const std::string& node, const std::string& out, std::uint64_t offset = 0);

// `sfdisk --json`'s "partitiontable" of `disk`.
nlohmann::json sfdisk_table(const std::string& disk);

// One tag of `blkid -p` on `node` ("" when absent).
std::string blkid_tag(const std::string& node, const std::string& tag);

// What a finished install was asked to set up.
struct InstalledSetup {
    std::string user;
    std::string hostname;
    std::string password;
    std::string lang;     // "de_DE.UTF-8"
    std::string keyboard; // XKB layout: "de"
    std::string timezone; // "Europe/Berlin"
};

// What every finished install leaves in its root file system (`t`, from
// look_inside): the image's user renamed with its password, host name,
// language, a machine of its own (identity, host keys), the markers for the
// next boot, and nothing of the live session's mounts.
void check_installed_root(const std::string& t, const InstalledSetup& setup);

} // namespace support
