#include "install/mounts.hpp"

#include <base/files.hpp>
#include "install/command.hpp"
#include "platform/system_paths.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

// One line of /proc/self/mountinfo.
struct MountInfo {
    dev_t dev = 0;
    std::string point;
    std::string type;
    std::string source;
    std::string options; // the file system's own options
};

std::vector<MountInfo> read_mountinfo() {
    std::vector<MountInfo> out;
    auto text = base::read_file(platform::paths().proc + "/self/mountinfo");
    if (!text) return out;
    std::istringstream in(*text);
    std::string line;
    while (std::getline(in, line)) {
        auto f = fields_of(line);
        auto dash = std::find(f.begin(), f.end(), std::string("-"));
        if (f.size() < 6 || dash == f.end() || f.end() - dash < 3) continue;
        MountInfo m;
        unsigned maj = 0, min = 0;
        if (std::sscanf(f[2].c_str(), "%u:%u", &maj, &min) == 2) m.dev = ::makedev(maj, min);
        m.point = decode_mount_field(f[4]);
        m.type = decode_mount_field(dash[1]);
        m.source = decode_mount_field(dash[2]);
        if (f.end() - dash >= 4) m.options = dash[3];
        out.push_back(std::move(m));
    }
    return out;
}

std::string dev_text(dev_t d) { return std::to_string(::major(d)) + ":" + std::to_string(::minor(d)); }

// The sysfs directory of a block device, resolved; empty when unknown.
fs::path sys_dir(dev_t d) {
    std::error_code ec;
    fs::path dir = fs::canonical(fs::path(platform::paths().sys) / "dev/block" / dev_text(d), ec);
    return ec ? fs::path() : dir;
}

std::optional<dev_t> dev_attr(const fs::path& dir) {
    auto text = base::read_file((dir / "dev").string());
    unsigned maj = 0, min = 0;
    if (!text || std::sscanf(text->c_str(), "%u:%u", &maj, &min) != 2) return std::nullopt;
    return ::makedev(maj, min);
}

bool inside(const std::string& path, const std::string& point) {
    if (point == "/") return path.starts_with("/");
    return path == point || (path.starts_with(point) && path[point.size()] == '/');
}

// Walks what a path, a mount or a device rests on, down to the block
// devices, and reports the first one `wanted` holds.
class Underneath {
public:
    Underneath(std::vector<MountInfo> mounts, const std::map<dev_t, std::string>& wanted)
        : mounts_(std::move(mounts)), wanted_(wanted) {}

    std::optional<std::string> of_path(const std::string& path, int depth) {
        const MountInfo* best = nullptr;
        for (const auto& m : mounts_)
            if (inside(path, m.point) && (!best || m.point.size() >= best->point.size())) best = &m;
        return best ? of_mount(*best, depth) : std::nullopt;
    }

private:
    std::optional<std::string> of_mount(const MountInfo& m, int depth) {
        // An overlay whose layers lie below itself (as seen from inside a
        // chroot) must not send the walk round in circles.
        if (depth > 8 || !mounts_seen_.insert(&m).second) return std::nullopt;
        if (::major(m.dev) != 0) return of_device(m.dev, depth + 1);
        if (m.type == "overlay") {
            std::istringstream opts(m.options);
            for (std::string opt; std::getline(opts, opt, ',');) {
                for (const char* key : {"lowerdir=", "upperdir="}) {
                    if (!opt.starts_with(key)) continue;
                    std::istringstream dirs(opt.substr(std::string(key).size()));
                    for (std::string dir; std::getline(dirs, dir, ':');)
                        if (auto hit = of_path(dir, depth + 1)) return hit;
                }
            }
            return std::nullopt;
        }
        struct stat st {};
        if (m.source.starts_with("/") && ::stat(m.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
            return of_device(st.st_rdev, depth + 1);
        return std::nullopt;
    }

    std::optional<std::string> of_device(dev_t d, int depth) {
        if (depth > 8 || !seen_.insert(d).second) return std::nullopt;
        if (auto it = wanted_.find(d); it != wanted_.end()) return it->second;
        const fs::path dir = sys_dir(d);
        if (dir.empty()) return std::nullopt;
        // A stacked device (device-mapper, RAID) names what it is made of.
        std::error_code ec;
        for (fs::directory_iterator it(dir / "slaves", ec), end; !ec && it != end; it.increment(ec))
            if (auto slave = dev_attr(it->path()))
                if (auto hit = of_device(*slave, depth + 1)) return hit;
        // A loop device lives on a file of some other mount.
        if (auto backing = base::read_file((dir / "loop/backing_file").string())) {
            std::string file = *backing;
            while (!file.empty() && (file.back() == '\n' || file.back() == ' ')) file.pop_back();
            if (!file.empty())
                if (auto hit = of_path(file, depth + 1)) return hit;
        }
        return std::nullopt;
    }

    std::vector<MountInfo> mounts_;
    const std::map<dev_t, std::string>& wanted_;
    std::set<dev_t> seen_;
    std::set<const MountInfo*> mounts_seen_;
};

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

std::expected<void, std::string> release_disk(const disks::File& file, const std::string& disk) {
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::unexpected(disk + " is not a block device");
    // The disk and its partitions as the kernel numbers them, with the
    // node names the texts use.
    const std::string dev_dir = platform::paths().dev;
    std::map<dev_t, std::string> ours{{st.st_rdev, disk}};
    if (const fs::path dir = sys_dir(st.st_rdev); !dir.empty()) {
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (!fs::exists(it->path() / "partition", ec)) continue;
            if (auto d = dev_attr(it->path())) ours[*d] = dev_dir + "/" + it->path().filename().string();
        }
    }

    // The root first, before any unmount could take pieces of the running
    // system away.
    if (auto hit = Underneath(read_mountinfo(), ours).of_path("/", 0))
        return std::unexpected(*hit + " holds the running system");

    if (auto swaps = base::read_file(platform::paths().proc + "/swaps")) {
        std::istringstream in(*swaps);
        std::string line;
        std::getline(in, line); // the heading
        while (std::getline(in, line)) {
            auto f = fields_of(line);
            if (f.empty()) continue;
            const std::string name = decode_mount_field(f[0]);
            struct stat sw {};
            if (::stat(name.c_str(), &sw) == 0 && S_ISBLK(sw.st_mode)) {
                if (auto it = ours.find(sw.st_rdev); it != ours.end())
                    return std::unexpected(it->second + " is in use as swap");
            } else if (auto hit = Underneath(read_mountinfo(), ours).of_path(name, 0)) {
                return std::unexpected(*hit + " holds the active swap file " + name);
            }
        }
    }

    unmount_disk(disk);
    // Mounts made under another name of the same device (a by-uuid link)
    // are found by device number; deepest first.
    std::vector<std::string> points;
    for (const auto& m : read_mountinfo())
        if (ours.contains(m.dev)) points.push_back(m.point);
    std::sort(points.rbegin(), points.rend());
    for (const auto& point : points) (void)run({"umount", point});
    for (const auto& m : read_mountinfo())
        if (auto it = ours.find(m.dev); it != ours.end())
            return std::unexpected(it->second + " is still mounted at " + m.point + " and could not be unmounted");
    return {};
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
