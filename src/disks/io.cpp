#include "disks/io.hpp"

#include <base/error.hpp>

#include <cerrno>
#include <unistd.h>

namespace disks::io {

std::expected<void, std::string> read_at(int fd, void* buf, std::size_t len, std::uint64_t offset) {
    auto* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < len) {
        ssize_t n = ::pread(fd, p + done, len - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(errno_text(errno));
        }
        if (n == 0) return std::unexpected(std::string("unexpected end of device"));
        done += std::size_t(n);
    }
    return {};
}

std::expected<void, std::string> write_at(int fd, const void* buf, std::size_t len, std::uint64_t offset) {
    const auto* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < len) {
        ssize_t n = ::pwrite(fd, p + done, len - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(errno_text(errno));
        }
        if (n == 0) return std::unexpected(std::string("short write"));
        done += std::size_t(n);
    }
    return {};
}

} // namespace disks::io
