#include <zem/shell/hooks.hpp>

#include <zem/canvas/egl.hpp>
#include <zem/theme/active.hpp>

#include <cstdio>
#include <mutex>

namespace zem {

Color page_background() { return theme::palette_bg_page(); }

void announce_render_backend(const std::string& reason) {
    announce_backend("SOFTWARE (" + reason + ")");
}

}  // namespace zem
