#include "install/mounts.hpp"

#include <base/files.hpp>
#include "install/command.hpp"
#include "platform/system_paths.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <sys/stat.h>

namespace install {

namespace fs = std::filesystem;

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The mount table writes blanks, tabs, newlines and backslashes in paths as
// three-digit octal escapes.
std::string decode_mount_field(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// Whether `source` is the disk `device` or one of its partitions. Partition
// nodes follow the kernel's naming: the disk's name, a "p" when that name
// ends in a digit, and the number. So /dev/loop1 owns /dev/loop1p2 but not
// /dev/loop10, and /dev/sda owns /dev/sda12.
bool belongs_to(const std::string& source, const std::string& device) {
    if (source == device) return true;
    if (device.empty() || source.size() <= device.size() || source.compare(0, device.size(), device) != 0)
        return false;
    std::string_view suffix(source);
    suffix.remove_prefix(device.size());
    if (is_digit(device.back())) {
        if (suffix.front() != 'p') return false;
        suffix.remove_prefix(1);
    }
    return !suffix.empty() && std::all_of(suffix.begin(), suffix.end(), is_digit);
}

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream ss(line);
    std::string f;
    while (ss >> f) fields.push_back(f);
    return fields;
}

} // namespace

std::expected<void, std::string> mount(const std::string& source, const std::string& target,
                                       const std::vector<std::string>& options, MountList& list) {
    Command cmd{"mount"};
    cmd.insert(cmd.end(), options.begin(), options.end());
    cmd.push_back(source);
    cmd.push_back(target);
    if (auto r = run(cmd); !r) return r;
    list.push_back(target);
    return {};
}

void unmount_all(MountList& list) {
    while (!list.empty()) {
        std::string target = std::move(list.back());
        list.pop_back();
        if (!run({"umount", target})) (void)run({"umount", "-l", target});
    }
}

std::vector<std::string> mounts_of_device(const std::string& mounts, const std::string& device) {
    std::vector<std::string> points;
    std::istringstream in(mounts);
    std::string line;
    while (std::getline(in, line)) {
        auto fields = fields_of(line);
        if (fields.size() < 2) continue;
        if (belongs_to(decode_mount_field(fields[0]), device))
            points.push_back(decode_mount_field(fields[1]));
    }
    // Byte order puts /a before /a/b; unmounting from the end releases the
    // deeper mount first.
    std::sort(points.begin(), points.end());
    std::reverse(points.begin(), points.end());
    return points;
}

void unmount_disk(const std::string& device) {
    auto mounts = base::read_file(platform::paths().proc + "/self/mounts");
    if (!mounts) return;
    for (const auto& point : mounts_of_device(*mounts, device)) (void)run({"umount", point});
}

std::expected<void, std::string> bind_mounts(MountList& list) {
    const auto& p = platform::paths();
    const fs::path root = p.target_root;
    if (auto r = mount(p.dev, (root / "dev").string(), {"--bind"}, list); !r) return r;
    if (auto r = mount("devpts", (root / "dev/pts").string(), {"-t", "devpts"}, list); !r) return r;
    if (auto r = mount("proc", (root / "proc").string(), {"-t", "proc"}, list); !r) return r;
    if (auto r = mount("sysfs", (root / "sys").string(), {"-t", "sysfs"}, list); !r) return r;
    std::error_code ec;
    if (fs::exists(fs::path(p.sys) / "firmware/efi/efivars", ec))
        (void)mount("efivarfs", (root / "sys/firmware/efi/efivars").string(), {"-t", "efivarfs"}, list);
    return {};
}

std::optional<std::string> medium_disk() {
    const auto& p = platform::paths();
    auto mounts = base::read_file(p.proc + "/self/mounts");
    if (!mounts) return std::nullopt;
    std::istringstream in(*mounts);
    std::string line;
    while (std::getline(in, line)) {
        auto fields = fields_of(line);
        if (fields.size() < 2 || fields[1] != "/") continue;
        const std::string source = decode_mount_field(fields[0]);
        if (!source.starts_with("/dev/")) return std::nullopt;
        const std::string name = fs::path(source).filename().string();
        std::error_code ec;
        fs::path dir = fs::canonical(fs::path(p.sys) / "class/block" / name, ec);
        if (ec) return std::nullopt;
        std::string disk = name;
        struct stat st {};
        if (::stat((dir / "partition").c_str(), &st) == 0) disk = dir.parent_path().filename().string();
        return (fs::path(p.dev) / disk).string();
    }
    return std::nullopt;
}

} // namespace install
