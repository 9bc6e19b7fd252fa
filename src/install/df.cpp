#include "install/df.hpp"

#include "disks/disks.hpp"
#include "fs/process.hpp"

namespace install {

std::optional<std::uint64_t> parse_df_output(const std::string& raw) {
    const std::string out = fs::lossy_utf8(raw);
    const auto first_end = out.find('\n');
    if (first_end == std::string::npos) return std::nullopt;
    const auto second_end = out.find('\n', first_end + 1);
    const std::string second = out.substr(first_end + 1, second_end == std::string::npos
                                                             ? std::string::npos
                                                             : second_end - first_end - 1);
    const std::string value = fs::trim(second);
    if (value.empty()) return std::nullopt;
    return disks::parse_unsigned(value);
}

std::optional<std::uint64_t> df_field(const std::string& path, const std::string& column) {
    auto r = fs::capture({"df", "-B1", "--output=" + column, path});
    if (!r || !r->exited_ok()) return std::nullopt;
    return parse_df_output(r->out);
}

} // namespace install
