#include "platform/system_paths.hpp"

#include <mutex>
#include <shared_mutex>

namespace platform {

namespace {
std::shared_mutex g_lock;
SystemPaths& storage() {
    static SystemPaths p;
    return p;
}
} // namespace

const SystemPaths& paths() {
    std::shared_lock lock(g_lock);
    return storage();
}

void set_paths(SystemPaths p) {
    std::unique_lock lock(g_lock);
    storage() = std::move(p);
}

} // namespace platform
