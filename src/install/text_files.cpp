#include "install/text_files.hpp"

#include <base/error.hpp>
#include <base/files.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace install {

std::expected<void, std::string> write_text(const std::string& path, std::string_view content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return std::unexpected(base::errno_text(errno));
    if (int err = base::write_all(fd, content)) {
        ::close(fd);
        return std::unexpected(base::errno_text(err));
    }
    if (::close(fd) != 0 && errno != EINTR) return std::unexpected(base::errno_text(errno));
    return {};
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (nl != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

std::string join(const std::string& root, std::string_view rel) {
    while (rel.starts_with('/')) rel.remove_prefix(1);
    if (root.empty()) return "/" + std::string(rel);
    if (root.ends_with('/')) return root + std::string(rel);
    return root + "/" + std::string(rel);
}

} // namespace install
