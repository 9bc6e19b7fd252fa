#include "fs/process.hpp"

#include "platform/process.hpp"

#include <algorithm>
#include <cstdint>
#include <sys/wait.h>

namespace fs {

bool Captured::exited_ok() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

std::expected<Captured, std::string> capture(const std::vector<std::string>& argv, const std::string& stdin_path) {
    if (argv.empty()) return std::unexpected(std::string("empty command"));
    platform::SpawnOptions options;
    options.stdin_path = stdin_path;
    platform::Child child;
    if (int e = platform::spawn(argv, options, child)) return std::unexpected(platform::errno_text(e));
    platform::Drained d = platform::drain(child, {}, true);
    Captured c;
    c.out = std::move(d.out);
    c.err = std::move(d.err);
    (void)platform::reap(child.pid, c.status);
    return c;
}

std::string lossy_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = std::uint8_t(s[i]);
        std::size_t len = 0;
        std::uint32_t min = 0, c = 0;
        if (b < 0x80) {
            out += char(b);
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) len = 2, min = 0x80, c = b & 0x1F;
        else if ((b & 0xF0) == 0xE0) len = 3, min = 0x800, c = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, min = 0x10000, c = b & 0x07;
        std::size_t k = 1;
        if (len) {
            for (; k < len && i + k < s.size(); ++k) {
                auto cb = std::uint8_t(s[i + k]);
                if ((cb & 0xC0) != 0x80) break;
                c = (c << 6) | (cb & 0x3F);
            }
        }
        if (len && k == len && c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            i += std::max<std::size_t>(1, len ? k : 1);
        }
    }
    return out;
}

std::string trim(std::string_view s) {
    const char* ws = " \t\n\r\f\v";
    auto b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    auto e = s.find_last_not_of(ws);
    return std::string(s.substr(b, e - b + 1));
}

} // namespace fs
