#include <base/fd.hpp>

#include <unistd.h>

namespace base {

void Fd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

}  // namespace base
