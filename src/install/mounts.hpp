#pragma once
// Mounting the target, and releasing everything the engine mounted.

#include "disks/disks.hpp"

#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace install {

// Mount points the engine thread mounted, in mount order. `mount` appends,
// `unmount_all` empties it from the end.
using MountList = std::vector<std::string>;

// Runs "mount" OPTIONS... SOURCE TARGET; on success records TARGET.
[[nodiscard]] std::expected<void, std::string> mount(const std::string& source, const std::string& target,
                                       const std::vector<std::string>& options, MountList& list);

// Unmounts every recorded mount point, last first; a mount that refuses a
// plain unmount is detached lazily. The list ends empty.
void unmount_all(MountList& list);

// Unmounts every file system whose source is `device` or one of its
// partitions, deepest mount point first. Outcomes are ignored.
void unmount_disk(const std::string& device);

// Frees the whole disk `disk` (open as `file`) from the running system
// before it is overwritten, or says why it cannot be. Refused, before
// anything is unmounted: a partition of it (or the disk itself) that holds
// the running root file system, also through an overlay, a loop device's
// backing file or a stacked device (sysfs "slaves"); and a partition that is
// active swap. Then everything mounted from it is unmounted; a mount that
// stays is refused too. Each text names the partition and the reason.
[[nodiscard]] std::expected<void, std::string> release_disk(const disks::File& file, const std::string& disk);

// The mount points of `device` and its partitions in the mount table text
// `mounts` (as /proc/self/mounts), in the order to unmount them.
std::vector<std::string> mounts_of_device(const std::string& mounts, const std::string& device);

// Binds /dev and mounts devpts, proc, sysfs (and efivarfs where the firmware
// offers it) under the target root, each recorded in the list.
[[nodiscard]] std::expected<void, std::string> bind_mounts(MountList& list);

// Device path of the disk holding the running root file system; nothing when
// the root is not a block device (an overlay, for example).
std::optional<std::string> medium_disk();

} // namespace install
