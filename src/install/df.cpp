#include "install/df.hpp"

#include "disks/disks.hpp"
#include "fs/process.hpp"

namespace install {

std::optional<std::uint64_t> df_field(const std::string& path, const std::string& column) {
    auto c = fs::capture({"df", "-B1", "--output=" + column, path});
    if (!c || !c->exited_ok()) return std::nullopt;
    const std::string out = fs::lossy_utf8(c->out);
    auto first = out.find('\n');
    if (first == std::string::npos) return std::nullopt;
    std::string_view rest = std::string_view(out).substr(first + 1);
    auto second = rest.find('\n');
    if (second == std::string_view::npos && rest.empty()) return std::nullopt;
    return disks::parse_unsigned(fs::trim(rest.substr(0, second)));
}

} // namespace install
