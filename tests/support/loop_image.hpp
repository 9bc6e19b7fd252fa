#pragma once
// A sparse image file attached to a loop device, for tests that need a real
// block device. Never assumes a loop number; detaches in its destructor.

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <vector>

namespace support {

// Runs argv (no shell) and returns its standard output, or a text naming the
// program, its status and its standard error.
std::expected<std::string, std::string> capture_output(const std::vector<std::string>& argv);

class LoopImage {
public:
    // A sparse image of `size` bytes on a free loop device. When
    // `sfdisk_script` is not empty it is fed to sfdisk and the partition
    // nodes are created with partx. Fails with a reason (used to skip).
    static std::expected<std::unique_ptr<LoopImage>, std::string>
    create(std::uint64_t size, const std::string& sfdisk_script = "");

    ~LoopImage();
    LoopImage(const LoopImage&) = delete;
    LoopImage& operator=(const LoopImage&) = delete;

    const std::string& device() const { return device_; }
    // Node of partition `n` ("/dev/loopNpM").
    std::string partition(int n) const { return device_ + "p" + std::to_string(n); }

private:
    LoopImage() = default;
    std::string image_;
    std::string device_;
    bool partitioned_ = false;
};

// A directory under /tmp removed with its contents at the end of the scope.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Moves the calling process into a private mount namespace whose mounts do
// not propagate to the host, so a test's mounts vanish with it. Must run while
// the process has a single thread.
std::expected<void, std::string> enter_private_mounts();

// Whether `path` is a mount point in this process's namespace.
bool is_mount_point(const std::string& path);

} // namespace support
