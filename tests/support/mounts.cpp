#include "support/mounts.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>

namespace support {

std::expected<void, std::string> enter_private_mounts() {
    if (::unshare(CLONE_NEWNS) != 0) return std::unexpected(std::string("unshare: ") + std::strerror(errno));
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::unexpected(std::string("make / private: ") + std::strerror(errno));
    return {};
}

bool is_mount_point(const std::string& path) {
    std::ifstream in("/proc/self/mounts");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        std::string src, point;
        if (ss >> src >> point && point == path) return true;
    }
    return false;
}

} // namespace support
