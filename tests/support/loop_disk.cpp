#include "support/loop_disk.hpp"

#include "disks/kernel.hpp"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace support {

namespace stdfs = std::filesystem;

std::optional<std::string> LoopDisk::unavailable() {
    if (::geteuid() != 0) return "needs root to attach loop devices";
    if (::access("/dev/loop-control", R_OK | W_OK) != 0) return "no /dev/loop-control on this machine";
    auto r = run_command({"losetup", "-f"});
    if (r.exit_code != 0) return "no free loop device: " + r.err;
    return std::nullopt;
}

std::expected<LoopDisk, std::string> LoopDisk::create(std::uint64_t bytes, std::uint32_t sector_size) {
    LoopDisk d;
    std::string tmpl = (stdfs::temp_directory_path() / "tavix-loop-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return std::unexpected(std::string("mkdtemp failed"));
    d.dir_ = tmpl;
    d.image_ = d.dir_ + "/disk.img";
    d.bytes_ = bytes;
    int fd = ::open(d.image_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, off_t(bytes)) != 0) {
        if (fd >= 0) ::close(fd);
        return std::unexpected("cannot create image " + d.image_);
    }
    ::close(fd);
    auto r = run_command({"losetup", "-f", "--show", "--sector-size", std::to_string(sector_size), d.image_});
    if (r.exit_code != 0) return std::unexpected("losetup: " + r.err);
    while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == ' ')) r.out.pop_back();
    d.device_ = r.out;
    return d;
}

std::expected<LoopDisk, std::string> LoopDisk::partitioned(std::uint64_t bytes, const std::string& script) {
    auto d = create(bytes);
    if (!d) return d;
    auto r = run_command({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", d->path()}, script);
    if (r.exit_code != 0) return std::unexpected("sfdisk: " + r.err);
    if (auto nodes = d->refresh(); !nodes) return std::unexpected(nodes.error());
    return d;
}

LoopDisk::LoopDisk(LoopDisk&& o) noexcept
    : dir_(std::move(o.dir_)), image_(std::move(o.image_)), device_(std::move(o.device_)), bytes_(o.bytes_) {
    o.dir_.clear();
    o.image_.clear();
    o.device_.clear();
}

LoopDisk::~LoopDisk() {
    if (!device_.empty()) {
        run_command({"partx", "-d", device_});
        run_command({"losetup", "-d", device_});
    }
    if (!dir_.empty()) {
        std::error_code ec;
        stdfs::remove_all(dir_, ec);
    }
}

std::string LoopDisk::name() const { return stdfs::path(device_).filename().string(); }

std::string LoopDisk::part(std::uint32_t n) const { return device_ + "p" + std::to_string(n); }

std::expected<void, std::string> LoopDisk::refresh() const { return disks::reread_partitions(device_); }

} // namespace support
