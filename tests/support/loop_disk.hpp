#pragma once
// A loop device over a sparse image file, for tests that need a real disk.
//
//   if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
//   auto disk = support::LoopDisk::create(64 << 20);        // 512-byte sectors
//   ASSERT_TRUE(disk) << disk.error();
//   ... write a table to disk->path() ...
//   disk->refresh();                                        // partx -u
//   disk->part(1)                                           // "/dev/loopNp1"
//
// The loop number is whatever `losetup -f --show` hands out. The destructor
// drops the partition nodes, detaches the device and removes the image.

#include "support/command.hpp"
#include "support/temp_dir.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

namespace support {

class LoopDisk {
public:
    // Why loop devices cannot be used here, or nothing when they can.
    static std::optional<std::string> unavailable();

    // A zero-filled sparse image of `bytes` attached with the given logical
    // sector size (512 or 4096).
    static std::expected<LoopDisk, std::string> create(std::uint64_t bytes, std::uint32_t sector_size = 512);
    // The same with a partition table written by sfdisk from `sfdisk_script`
    // and the kernel's partition nodes made.
    static std::expected<LoopDisk, std::string> partitioned(std::uint64_t bytes, const std::string& sfdisk_script);

    LoopDisk(LoopDisk&& other) noexcept;
    LoopDisk& operator=(LoopDisk&&) = delete;
    LoopDisk(const LoopDisk&) = delete;
    LoopDisk& operator=(const LoopDisk&) = delete;
    ~LoopDisk();

    const std::string& path() const { return device_; }   // /dev/loopN
    const std::string& image() const { return image_; }   // backing file
    std::string name() const;                             // loopN
    std::string part(std::uint32_t n) const;              // /dev/loopNpn
    std::uint64_t bytes() const { return bytes_; }

    // Makes the kernel's partition nodes match the table on the device
    // (disks::reread_partitions). Returns partx's error text.
    std::expected<void, std::string> refresh() const;

private:
    LoopDisk() = default;
    std::string dir_, image_, device_;
    std::uint64_t bytes_ = 0;
};

} // namespace support

// In a gtest test: skips it with the reason when loop devices cannot be used.
#define REQUIRE_LOOP()                                                                                                 \
    do {                                                                                                               \
        if (auto why = ::support::LoopDisk::unavailable()) GTEST_SKIP() << *why;                                       \
    } while (0)
