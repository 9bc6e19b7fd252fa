#pragma once
// File-system kinds by blkid's type names, and the tools that grow, shrink
// and measure them. Tools are found on PATH and run without a shell.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fs {

class FsKind {
public:
    enum Value : std::uint8_t { Ext, Btrfs, Xfs, Ntfs, Fat, Exfat, Swap, Unknown };

    constexpr FsKind(Value v = Unknown) : v_(v) {}
    constexpr operator Value() const { return v_; }

    // By blkid's type name, compared without regard to ASCII case; an
    // absent or unrecognised name is Unknown.
    static FsKind from_name(const std::optional<std::string>& name);

    // "Ext", "Btrfs", ... as used in messages.
    std::string_view name() const;

private:
    Value v_;
};

bool find_in_path(const std::string& program);
bool resize_supported(FsKind kind);
std::optional<std::uint64_t> min_size(const std::string& node, FsKind kind);
[[nodiscard]] std::expected<void, std::string> grow(const std::string& node, FsKind kind, std::uint64_t new_size);
[[nodiscard]] std::expected<void, std::string> shrink(const std::string& node, FsKind kind, std::uint64_t new_size);

// Runs argv (argv[0] found on PATH) and gives its standard output, or the
// error text ("spawn NAME: ..." or "NAME failed: <stderr>"), which is also
// written to standard error.
[[nodiscard]] std::expected<std::string, std::string> run(const std::vector<std::string>& argv);

// The readers of the tools' reports, on their standard output.
std::optional<std::uint64_t> parse_resize2fs_minimum(std::string_view out); // in blocks
std::optional<std::uint64_t> parse_block_size(std::string_view tune2fs_out);
std::optional<std::uint64_t> parse_ntfsresize_minimum(std::string_view out); // in bytes
std::optional<std::uint64_t> parse_fatresize_minimum(std::string_view out);  // in bytes

// The "-M" target resize2fs is given to shrink to new_size bytes.
std::string ext_shrink_target(std::uint64_t new_size);

} // namespace fs
