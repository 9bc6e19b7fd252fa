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

} // namespace

void write_live_standins(const std::string& dir, bool crypt) {
    namespace sfs = std::filesystem;
    sfs::create_directories(dir);
    for (const auto& [name, text] : {std::pair{"mount", LIVE_MOUNT}, std::pair{"umount", LIVE_UMOUNT},
                                     std::pair{"cryptsetup", LIVE_CRYPTSETUP}, std::pair{"clevis", LIVE_CLEVIS}}) {
        if (!crypt && std::string(name) == "cryptsetup") continue;
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        sfs::permissions(path, sfs::perms(0755));
    }
}

} // namespace support
