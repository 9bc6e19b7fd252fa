#include <cstdlib>
#include <system_error>

#include <zem/theme/theme.hpp>

namespace zem::theme {

std::vector<std::filesystem::path> theme_search_paths() {
    std::vector<std::filesystem::path> dirs;
    // An empty value still counts as set: it names the current directory.
    if (const char* themes = std::getenv("ZEM_THEMES_DIR")) dirs.emplace_back(themes);
    if (const char* data = std::getenv("XDG_DATA_HOME")) {
        dirs.push_back(std::filesystem::path(data) / "zem/themes");
    } else if (const char* home = std::getenv("HOME")) {
        dirs.push_back(std::filesystem::path(home) / ".local/share/zem/themes");
    }
    dirs.emplace_back("/usr/share/zem/themes");
    return dirs;
}

std::expected<Theme, ThemeError> load_theme(std::string_view name) {
    for (const std::filesystem::path& dir : theme_search_paths()) {
        // Joining an absolute name yields the name itself.
        const std::filesystem::path candidate = dir / std::filesystem::path(name);
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate / "theme.json", ec)) return load_theme_file(candidate);
    }
    return std::unexpected(ThemeError::not_found(std::string(name)));
}

}  // namespace zem::theme
