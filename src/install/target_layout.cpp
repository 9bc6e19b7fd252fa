#include "install/target_layout.hpp"

#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace install {

std::expected<void, std::string> wait_for_node(const std::string& node) {
    for (int look = 0; look < 50; ++look) {
        struct stat st {};
        if (::stat(node.c_str(), &st) == 0) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return std::unexpected(node + " did not appear after partitioning");
}

} // namespace install
