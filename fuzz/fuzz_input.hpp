#pragma once
// The fuzzer's bytes behind a descriptor, for readers that take one: an
// in-memory file, read from its start.

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

class InputFd {
public:
    InputFd(const std::uint8_t* data, std::size_t size) {
        fd_ = ::memfd_create("fuzz-input", MFD_CLOEXEC);
        if (fd_ < 0) return;
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            done += std::size_t(n);
        }
        if (::lseek(fd_, 0, SEEK_SET) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~InputFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    InputFd(const InputFd&) = delete;
    InputFd& operator=(const InputFd&) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace fuzz
