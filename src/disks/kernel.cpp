#include "disks/kernel.hpp"

#include "disks/disks.hpp"
#include "fs/fs.hpp"
#include <base/process.hpp>
#include "platform/system_paths.hpp"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <vector>

namespace disks {

namespace {

// Partition numbers the kernel currently has for the disk.
std::vector<std::uint32_t> kernel_partitions(const std::string& disk) {
    namespace stdfs = std::filesystem;
    std::vector<std::uint32_t> out;
    std::error_code ec;
    const std::string name = stdfs::canonical(disk, ec).filename().string();
    if (ec) return out;
    const std::string dir = platform::paths().sys + "/block/" + name;
    stdfs::directory_iterator it(dir, ec);
    if (ec) return out;
    for (; it != stdfs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        auto n = read_attr(it->path().string(), "partition");
        if (!n) continue;
        if (auto v = parse_unsigned(*n)) out.push_back(std::uint32_t(*v));
    }
    return out;
}

} // namespace

std::expected<void, std::string> reread_partitions(const std::string& disk) {
    auto updated = fs::run({"partx", "-u", disk});
    if (!updated) {
        (void)base::capture({"partx", "-d", disk});
        return std::unexpected(updated.error());
    }
    // partx -u neither drops partitions past the table's count nor adds
    // ones listed out of slot order; do both by number.
    std::vector<std::uint32_t> wanted;
    if (auto shown = base::capture({"partx", "--show", "-g", "-o", "NR", disk}); shown && shown->exited_ok()) {
        std::istringstream in(shown->out);
        for (std::string word; in >> word;)
            if (auto v = parse_unsigned(word)) wanted.push_back(std::uint32_t(*v));
    }
    for (auto n : kernel_partitions(disk))
        if (std::find(wanted.begin(), wanted.end(), n) == wanted.end())
            (void)base::capture({"partx", "-d", "--nr", std::to_string(n), disk});
    (void)base::capture({"partx", "-a", disk});
    return {};
}

} // namespace disks
