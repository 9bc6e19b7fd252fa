// zem-gallery: a page of the toolkit's elements in a window.
//
//   zem-gallery [--size WxH] [--title TEXT]
//
// Without --size the window asks for full screen.

#include "gallery_page.hpp"

#include <zem/shell/app.hpp>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Gallery {
    using Msg = zem::gallery::Pressed;

    std::optional<std::pair<uint32_t, uint32_t>> size;
    std::optional<std::string> title;
    bool on = true;

    std::string app_id() { return "net.tavix.ZemGallery"; }
    std::optional<zem::WindowConfig> window_config() {
        if (!title) return std::nullopt;
        return zem::WindowConfig{*title, app_id()};
    }
    std::optional<std::pair<uint32_t, uint32_t>> window_size() { return size; }
    std::vector<Msg> poll() { return {}; }
    void update(Msg m) {
        if (m.which == "Primary") on = !on;
    }
    zem::Element view() { return zem::gallery::page(on, 0.6f); }
};

bool parse_size(const char* s, std::pair<uint32_t, uint32_t>& out) {
    unsigned w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(s, "%ux%u%c", &w, &h, &tail) != 2 || w == 0 || h == 0) return false;
    out = {w, h};
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Gallery app;
    for (int i = 1; i < argc; ++i) {
        std::pair<uint32_t, uint32_t> sz;
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc && parse_size(argv[i + 1], sz)) {
            app.size = sz;
            ++i;
        } else if (std::strcmp(argv[i], "--title") == 0 && i + 1 < argc) {
            app.title = argv[++i];
        } else {
            std::fprintf(stderr, "usage: zem-gallery [--size WxH] [--title TEXT]\n");
            return 2;
        }
    }
    zem::run(std::move(app));
    return 0;
}
