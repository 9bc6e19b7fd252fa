#include <zem/shell/hooks.hpp>

#include <zem/theme/active.hpp>

#include <cstdio>
#include <mutex>

namespace zem {

Color page_background() { return theme::palette_bg_page(); }

void announce_render_backend(const std::string& reason) {
    static std::once_flag once;
    std::call_once(once, [&] { std::fprintf(stderr, "[zem] render backend: SOFTWARE (%s)\n", reason.c_str()); });
}

}  // namespace zem
