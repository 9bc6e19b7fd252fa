#include <base/error.hpp>

#include <cstring>

namespace base {

std::string errno_text(int err) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return std::string(strerror_r(err, buf, sizeof buf));
}

} // namespace base
