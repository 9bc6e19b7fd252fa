#include "fs/fs.hpp"

#include <base/number.hpp>
#include <base/process.hpp>
#include <base/units.hpp>
#include <base/utf8.hpp>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace fs {

namespace {

std::string lower_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

using base::parse_unsigned;
using base::utf8::lossy;
using base::utf8::trim;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The first run of non-white-space characters.
std::string_view first_word(std::string_view t) {
    std::size_t b = 0;
    while (b < t.size() && is_space(t[b])) ++b;
    std::size_t e = b;
    while (e < t.size() && !is_space(t[e])) ++e;
    return t.substr(b, e - b);
}

// Lines end at "\n"; a "\r" before it is dropped.
std::vector<std::string_view> lines(std::string_view t) {
    std::vector<std::string_view> out;
    while (!t.empty()) {
        auto nl = t.find('\n');
        std::string_view line = t.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.push_back(line);
        if (nl == std::string_view::npos) break;
        t.remove_prefix(nl + 1);
    }
    return out;
}

std::vector<std::string> tools_for_support(FsKind k) {
    switch (k) {
    case FsKind::Ext: return {"resize2fs", "tune2fs"};
    case FsKind::Ntfs: return {"ntfsresize"};
    case FsKind::Fat: return {"fatresize"};
    default: return {};
    }
}

} // namespace

FsKind FsKind::from_name(const std::optional<std::string>& name) {
    if (!name) return Unknown;
    const std::string n = lower_ascii(*name);
    if (n == "ext2" || n == "ext3" || n == "ext4") return Ext;
    if (n == "btrfs") return Btrfs;
    if (n == "xfs") return Xfs;
    if (n == "ntfs") return Ntfs;
    if (n == "vfat" || n == "fat12" || n == "fat16" || n == "fat32") return Fat;
    if (n == "exfat") return Exfat;
    if (n == "swap" || n == "linux-swap" || n == "linux-swap(v1)") return Swap;
    return Unknown;
}

std::string_view FsKind::name() const {
    switch (v_) {
    case Ext: return "Ext";
    case Btrfs: return "Btrfs";
    case Xfs: return "Xfs";
    case Ntfs: return "Ntfs";
    case Fat: return "Fat";
    case Exfat: return "Exfat";
    case Swap: return "Swap";
    case Unknown: break;
    }
    return "Unknown";
}

bool find_in_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    const std::string p = path;
    if (lossy(p) != p) return false;
    std::size_t from = 0;
    while (true) {
        auto colon = p.find(':', from);
        std::string dir = p.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
        // An empty piece is the current directory.
        std::string candidate = dir.empty() ? program : (dir.back() == '/' ? dir : dir + "/") + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
        if (colon == std::string::npos) return false;
        from = colon + 1;
    }
}

bool resize_supported(FsKind kind) {
    auto tools = tools_for_support(kind);
    if (tools.empty()) return false;
    for (const auto& t : tools)
        if (!find_in_path(t)) return false;
    return true;
}

std::expected<std::string, std::string> run(const std::vector<std::string>& argv) {
    const std::string name = argv.empty() ? std::string() : lossy(argv[0]);
    auto c = base::capture(argv);
    std::string error;
    if (!c) {
        error = "spawn " + name + ": " + c.error();
    } else if (!c->exited_ok()) {
        error = name + " failed: " + std::string(trim(lossy(c->err)));
    } else {
        return lossy(c->out);
    }
    std::fprintf(stderr, "fs::run: %s\n", error.c_str());
    return std::unexpected(error);
}

std::optional<std::uint64_t> parse_resize2fs_minimum(std::string_view out) {
    for (auto line : lines(out)) {
        auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view rest = line.substr(colon + 1);
        rest = rest.substr(0, rest.find(':'));
        return parse_unsigned(first_word(rest));
    }
    return std::nullopt;
}

std::optional<std::uint64_t> parse_block_size(std::string_view out) {
    for (auto line : lines(out)) {
        if (line.rfind("Block size:", 0) != 0) continue;
        return parse_unsigned(trim(line.substr(11)));
    }
    return std::nullopt;
}

std::optional<std::uint64_t> parse_ntfsresize_minimum(std::string_view out) {
    for (auto line : lines(out)) {
        auto at = line.find("resize at ");
        if (at == std::string_view::npos) continue;
        if (auto v = parse_unsigned(first_word(line.substr(at + 10)))) return v;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> parse_fatresize_minimum(std::string_view out) {
    for (auto line : lines(out)) {
        std::string t(trim(line));
        if (t.rfind("Min size:", 0) != 0) continue;
        return parse_unsigned(first_word(std::string_view(t).substr(9)));
    }
    return std::nullopt;
}

std::string ext_shrink_target(std::uint64_t new_size) {
    using base::MIB;
    std::uint64_t m = new_size < 2 * MIB ? 1 : new_size / MIB;
    return std::to_string(m) + "M";
}

std::optional<std::uint64_t> min_size(const std::string& node, FsKind kind) {
    switch (kind) {
    case FsKind::Ext: {
        auto out = run({"resize2fs", "-P", node});
        if (!out) return std::nullopt;
        auto blocks = parse_resize2fs_minimum(*out);
        if (!blocks) return std::nullopt;
        std::uint64_t block_size = 4096;
        if (auto t = run({"tune2fs", "-l", node}))
            if (auto b = parse_block_size(*t)) block_size = *b;
        if (block_size != 0 && *blocks > UINT64_MAX / block_size) return UINT64_MAX;
        return *blocks * block_size;
    }
    case FsKind::Ntfs: {
        auto out = run({"ntfsresize", "--info", "--force", node});
        if (!out) return std::nullopt;
        return parse_ntfsresize_minimum(*out);
    }
    case FsKind::Fat: {
        auto out = run({"fatresize", "--info", node});
        if (!out) return std::nullopt;
        return parse_fatresize_minimum(*out);
    }
    default: return std::nullopt;
    }
}

std::expected<void, std::string> grow(const std::string& node, FsKind kind, std::uint64_t new_size) {
    std::expected<std::string, std::string> r;
    switch (kind) {
    case FsKind::Ext:
        (void)run({"e2fsck", "-f", "-y", node}); // a complaint is logged, never fatal
        r = run({"resize2fs", node});
        break;
    case FsKind::Ntfs:
        r = run({"ntfsresize", "--size", std::to_string(new_size), "--force", "--no-progress-bar", node});
        break;
    case FsKind::Fat: r = run({"fatresize", "--size", std::to_string(new_size), node}); break;
    default: return std::unexpected("grow unsupported for " + std::string(kind.name()));
    }
    if (!r) return std::unexpected(r.error());
    return {};
}

std::expected<void, std::string> shrink(const std::string& node, FsKind kind, std::uint64_t new_size) {
    std::expected<std::string, std::string> r;
    switch (kind) {
    case FsKind::Ext:
        (void)run({"e2fsck", "-f", "-y", node});
        r = run({"resize2fs", node, ext_shrink_target(new_size)});
        break;
    case FsKind::Ntfs:
        r = run({"ntfsresize", "--size", std::to_string(new_size), "--force", "--no-progress-bar", node});
        break;
    case FsKind::Fat: r = run({"fatresize", "--size", std::to_string(new_size), node}); break;
    default: return std::unexpected("shrink unsupported for " + std::string(kind.name()));
    }
    if (!r) return std::unexpected(r.error());
    return {};
}

} // namespace fs
