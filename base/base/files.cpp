#include <base/files.hpp>

#include <base/error.hpp>
#include <base/fd.hpp>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace base {

std::expected<std::string, std::string> read_file(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::unexpected(errno_text(errno));
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::unexpected(errno_text(errno));
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
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

}  // namespace base
