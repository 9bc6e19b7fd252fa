#pragma once
// A minimal Debian root tree for tests that need a real system to work on:
// an install copied from it, commands run inside it with chroot, an account
// renamed in it.
//
//   auto root = support::debian_root();            // built once, then cached
//   if (!root) GTEST_SKIP() << root.error();
//   support::TempDir dir;
//   ASSERT_TRUE(support::copy_debian_root(dir.path() + "/root"));
//
// The tree is made by debootstrap (minbase variant) from Debian's mirror and
// kept under /var/cache/tavix-tests/ (or $TAVIX_TEST_CACHE), keyed by a
// hash of everything that goes into it (suite, mirror, package list, the
// image's own additions), so a change of the list builds a new one. It is built in a scratch directory and
// renamed into place, under a lock file, so test processes running at the
// same time wait for one build and never see half a tree. The cached tree is
// never handed out for writing: tests work on copies.
//
// Besides debootstrap's minimal system it holds: passwd (usermod, chpasswd),
// locales (locale-gen), openssh-client (ssh-keygen -A), e2fsprogs and
// util-linux (resize2fs, partx, blkid), and the image's default user
// "vessara" with its home directory, as an installer image carries it.
//
// `arm64_root()` is the same kind of tree for AArch64 (debootstrap --arch=arm64,
// its second stage run through qemu-user-static and binfmt_misc, which is
// mounted and told about qemu-aarch64 when it is not yet), holding what an
// installer image boots with: a kernel, GRUB for arm64 EFI, initramfs-tools
// with cryptsetup, systemd as init and an SSH server; its initramfs is built
// once (by the kernel's installation; the trigger's rebuild is held off).
// It is cached beside
// the other, under its own key. The boot tests install it and start it in an
// emulated machine.

#include <expected>
#include <string>
#include <vector>

namespace support {

// The Debian packages added to debootstrap's minimal set.
const std::vector<std::string>& debian_root_packages();

// The same for the AArch64 tree.
const std::vector<std::string>& arm64_root_packages();

// Path of the cached pristine tree, building it first when it is missing.
// Fails with a reason to skip: not root, no debootstrap, no mirror.
std::expected<std::string, std::string> debian_root();
std::expected<std::string, std::string> arm64_root();

// A fresh copy of the cached tree at `dest` (created; must not exist or be
// empty), with owners, modes, hard links, ACLs and extended attributes kept.
std::expected<void, std::string> copy_debian_root(const std::string& dest);

} // namespace support
