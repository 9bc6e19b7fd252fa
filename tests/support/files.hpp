#pragma once
// Small file and path helpers the installer tests share.

#include <base/files.hpp>
#include "platform/system_paths.hpp"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace support {

// The whole content of `path`, or nothing when it cannot be opened.
inline std::optional<std::string> read_file(const std::string& path) {
    auto text = base::read_file(path);
    if (!text) return std::nullopt;
    return std::move(*text);
}

// Writes `content` to `path`, creating the directories above it.
inline void write_file(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Sets the system paths for the scope and puts the previous ones back.
class PathsGuard {
public:
    explicit PathsGuard(platform::SystemPaths p) : saved_(platform::paths()) { platform::set_paths(std::move(p)); }
    ~PathsGuard() { platform::set_paths(saved_); }
    PathsGuard(const PathsGuard&) = delete;
    PathsGuard& operator=(const PathsGuard&) = delete;

private:
    platform::SystemPaths saved_;
};

} // namespace support
