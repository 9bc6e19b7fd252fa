#include "install/text_files.hpp"

#include <base/error.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace install {

std::string errno_text(int err) { return base::errno_text(err); }

std::expected<std::string, std::string> read_text(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::unexpected(errno_text(errno));
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return std::unexpected(errno_text(err));
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

int write_all(int fd, std::string_view content) {
    std::size_t off = 0;
    while (off < content.size()) {
        ssize_t n = ::write(fd, content.data() + off, content.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        off += static_cast<std::size_t>(n);
    }
    return 0;
}

std::expected<void, std::string> write_text(const std::string& path, std::string_view content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return std::unexpected(errno_text(errno));
    if (int err = write_all(fd, content)) {
        ::close(fd);
        return std::unexpected(errno_text(err));
    }
    if (::close(fd) != 0 && errno != EINTR) return std::unexpected(errno_text(errno));
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
