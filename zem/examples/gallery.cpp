// zem-gallery: a page of the toolkit's elements in a window.
//
//   zem-gallery [--size WxH] [--title TEXT] [--every-kind | --fields] [--print-messages]
//
// Without --size the window asks for full screen. --every-kind shows one of
// every interactive kind (what accessibility clients and input tests are
// tried against). --print-messages writes each message the page sends to
// standard output, one line each: "message NAME", followed by the value of
// a slider or the text of the name field (a password only by its length).
// --fields shows two text fields and prints every change of one to standard
// output as a line "NAME=TEXT" (what clipboard and input-method tests read).

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
    bool every_kind = false;
    bool print_messages = false;
    bool fields = false;
    zem::gallery::GalleryState state;
    zem::gallery::FieldsState field_state;

    std::string app_id() { return "net.tavix.ZemGallery"; }
    std::optional<zem::WindowConfig> window_config() {
        if (!title) return std::nullopt;
        return zem::WindowConfig{*title, app_id()};
    }
    std::optional<std::pair<uint32_t, uint32_t>> window_size() { return size; }
    std::vector<Msg> poll() { return {}; }
    void update(Msg m) {
        if (print_messages) print(m);
        if (fields) {
            if (m.which == "first") field_state.first = m.text;
            else if (m.which == "second") field_state.second = m.text;
            else return;
            std::printf("%s=%s\n", m.which.c_str(), m.text.c_str());
            std::fflush(stdout);
            return;
        }
        if (!every_kind) {
            if (m.which == "Primary") on = !on;
            return;
        }
        auto& s = state;
        if (m.which == "Primary" || m.which == "Wi-Fi") s.switch_on = !s.switch_on;
        else if (m.which == "Advance") s.progress = s.progress >= 1.0f ? 0.0f : s.progress + 0.25f;
        else if (m.which == "Remember me") s.remember = !s.remember;
        else if (m.which == "Light" || m.which == "Dark") s.dark = m.which == "Dark";
        else if (m.which == "name") s.name = m.text;
        else if (m.which == "password") s.password = m.text;
        else if (m.which == "slider") s.volume = m.value;
        else if (m.which == "level") s.level = m.value;
    }
    static void print(const Msg& m) {
        if (m.which == "slider" || m.which == "level") std::printf("message %s %.3f\n", m.which.c_str(), m.value);
        else if (m.which == "password") std::printf("message password %zu\n", m.text.size());
        else if (m.which == "name") std::printf("message name %s\n", m.text.c_str());
        else std::printf("message %s\n", m.which.c_str());
        std::fflush(stdout);
    }
    zem::Element view() {
        if (fields) return zem::gallery::fields_page(field_state);
        return every_kind ? zem::gallery::every_kind_page(state) : zem::gallery::page(on, 0.6f);
    }
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
        } else if (std::strcmp(argv[i], "--every-kind") == 0) {
            app.every_kind = true;
        } else if (std::strcmp(argv[i], "--print-messages") == 0) {
            app.print_messages = true;
        } else if (std::strcmp(argv[i], "--fields") == 0) {
            app.fields = true;
        } else {
            std::fprintf(stderr, "usage: zem-gallery [--size WxH] [--title TEXT] [--every-kind | --fields] [--print-messages]\n");
            return 2;
        }
    }
    zem::run(std::move(app));
    return 0;
}
