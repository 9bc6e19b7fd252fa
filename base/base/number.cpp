#include <base/number.hpp>

namespace base {

std::optional<std::uint64_t> parse_unsigned(std::string_view t) {
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    if (t.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        unsigned d = unsigned(c - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

} // namespace base
