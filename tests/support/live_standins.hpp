#pragma once
// Stand-ins on the live side of an install through the real daemon, for what
// cannot work on this machine; they go into the directory LiveDaemon mounts
// at "/run/standins", first on the daemon's PATH, and log their calls to
// "/run/standins/calls.log":
//   - mount/umount for FAT: no vfat mounting here. A tmpfs takes the file
//     system's place, filled from it with mtools and written back on umount.
//     The tmpfs is mounted with the FAT device as its source, so a program
//     that finds a mount's device from the mount table (grub-install looking
//     for the ESP) finds the real FAT file system;
//   - cryptsetup open/close: no device-mapper. luksFormat is the real one;
//     open keeps the passphrase in "/run/standins/key" and maps the
//     container's data area through a loop device (in clear); close detaches
//     it;
//   - clevis: no TPM; nothing is ever bound;
//   - udevadm: no udev. "settle" makes the /dev/disk/by-uuid links of the
//     devices mounted under the install's target (in the host's /dev, which
//     the live system shares) and logs to "/run/standins/udev.log";
//     LiveDaemon removes the links when it ends.
#include <string>

namespace support {

// Writes mount, umount, clevis, udevadm and (with `crypt`) cryptsetup into `dir`
// (created).
void write_live_standins(const std::string& dir, bool crypt = true);

} // namespace support
