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

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace support {

// Output of a program run by the tests (no shell).
struct CommandResult {
    int exit_code = -1; // -1 when it did not exit normally or could not start
    std::string out;
    std::string err;
};
CommandResult run_command(const std::vector<std::string>& argv);
// The same with `input` on the program's standard input.
CommandResult run_command(const std::vector<std::string>& argv, const std::string& input);

class LoopDisk {
public:
    // Why loop devices cannot be used here, or nothing when they can.
    static std::optional<std::string> unavailable();

    // A zero-filled sparse image of `bytes` attached with the given logical
    // sector size (512 or 4096).
    static std::expected<LoopDisk, std::string> create(std::uint64_t bytes, std::uint32_t sector_size = 512);

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

// A temporary directory removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace support
