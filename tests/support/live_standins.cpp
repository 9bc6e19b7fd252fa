#include "support/live_standins.hpp"

#include <filesystem>
#include <fstream>

namespace support {

namespace {

const char* LIVE_MOUNT = R"SH(#!/bin/sh
# Stand-in for mount: FAT cannot be mounted on this machine. A tmpfs takes
# its place, filled from the file system with mtools; umount writes it back.
if [ $# -eq 2 ] && [ "$(blkid -o value -s TYPE "$1")" = vfat ]; then
  echo "mount $*" >> /run/standins/calls.log
  /run/host-root/usr/bin/mount -t tmpfs "$1" "$2" || exit 32
  mcopy -s -n -i "$1" '::/*' "$2"/ 2>/dev/null
  echo "$2 $1" >> /run/standins/fat-mounts
  exit 0
fi
exec /run/host-root/usr/bin/mount "$@"
)SH";

const char* LIVE_UMOUNT = R"SH(#!/bin/sh
# Stand-in for umount: writes a FAT stand-in mount back (see mount).
for t; do :; done
src=$(awk -v t="$t" '$1 == t { s = $2 } END { print s }' /run/standins/fat-mounts 2>/dev/null)
if [ -n "$src" ]; then
  (cd "$t" && for f in * .[!.]*; do [ -e "$f" ] && mcopy -s -D o -i "$src" "$f" ::/; done) || exit 32
  awk -v t="$t" '$1 != t' /run/standins/fat-mounts > /run/standins/fat-mounts.new
  mv /run/standins/fat-mounts.new /run/standins/fat-mounts
fi
exec /run/host-root/usr/bin/umount "$@"
)SH";

const char* LIVE_CRYPTSETUP = R"SH(#!/bin/sh
# Stand-in for cryptsetup: no device-mapper here. luksFormat is the real one;
# open keeps the passphrase it was given, for the test to compare, and maps
# the container's data area through a loop device; close detaches it.
echo "cryptsetup $*" >> /run/standins/calls.log
real=/run/host-root/usr/sbin/cryptsetup
case "$1" in
  open)
    node=$4 name=$5
    cat > /run/standins/key
    offset=$($real luksDump "$node" | sed -n 's/^[[:space:]]*offset: \([0-9]*\) \[bytes\].*/\1/p' | head -n1)
    loop=$(losetup -f --show --offset "$offset" "$node") || exit 1
    echo "$loop" > /run/standins/crypt-loop
    ln -s "$loop" "/dev/mapper/$name" ;;
  close)
    [ -f /run/standins/crypt-loop ] || { echo "Device $2 is not active." >&2; exit 4; }
    losetup -d "$(cat /run/standins/crypt-loop)"
    rm -f /run/standins/crypt-loop "/dev/mapper/$2" ;;
  *) exec $real "$@" ;;
esac
)SH";

const char* LIVE_CLEVIS = R"SH(#!/bin/sh
# Stand-in for clevis: no TPM here; nothing is ever bound.
echo "clevis $*" >> /run/standins/calls.log
)SH";

// udev makes the /dev/disk/by-uuid links that GRUB needs to name the root
// by UUID; it does not run on this machine.
const char* LIVE_UDEVADM = R"SH(#!/bin/sh
# Stand-in for udevadm: no udev runs on this machine. "settle" leaves what
# udev would have made by then for the devices mounted for the install: their
# /dev/disk/by-uuid links. Links whose device is gone are dropped, as udev
# drops them. The links made are listed in /run/standins/udev-links, for the
# test's side to remove when the daemon ends (this /dev is the host's).
echo "udevadm $*" >> /run/standins/udev.log
[ "$1" = settle ] || exit 0
mkdir -p /dev/disk/by-uuid
for l in /dev/disk/by-uuid/*; do
  if [ -L "$l" ] && [ ! -e "$l" ]; then rm -f "$l"; fi
done
awk '$2 == "/run/tavix-install/root" || index($2, "/run/tavix-install/root/") == 1 { print $1 }' /proc/self/mounts |
  sort -u | while read -r src; do
  case "$src" in /dev/*) ;; *) continue ;; esac
  dev=$(readlink -f "$src")
  uuid=$(blkid -o value -s UUID "$dev")
  [ -n "$uuid" ] || continue
  link=/dev/disk/by-uuid/$uuid
  [ -e "$link" ] && continue
  ln -sfn "../../${dev#/dev/}" "$link" && echo "$link" >> /run/standins/udev-links
done
exit 0
)SH";

} // namespace

void write_live_standins(const std::string& dir, bool crypt) {
    namespace sfs = std::filesystem;
    sfs::create_directories(dir);
    for (const auto& [name, text] : {std::pair{"mount", LIVE_MOUNT}, std::pair{"umount", LIVE_UMOUNT},
                                     std::pair{"cryptsetup", LIVE_CRYPTSETUP}, std::pair{"clevis", LIVE_CLEVIS},
                                     std::pair{"udevadm", LIVE_UDEVADM}}) {
        if (!crypt && std::string(name) == "cryptsetup") continue;
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        sfs::permissions(path, sfs::perms(0755));
    }
}

} // namespace support
