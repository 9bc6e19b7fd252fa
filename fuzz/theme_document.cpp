// A theme document (theme.json of a theme directory) through the loader,
// then every slot of both modes through the slot lookups, and the input
// itself as a colour and a colour channel.
#include "fuzz_input.hpp"

#include <zem/theme/color.hpp>
#include <zem/theme/slot.hpp>
#include <zem/theme/theme.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

// A directory of its own for the run, removed at exit (kept in a plain
// array: it must outlive every static destructor).
const char* theme_dir() {
    static char dir[] = "/tmp/tavix-fuzz-theme-XXXXXX";
    static const bool made = [] {
        if (!::mkdtemp(dir)) std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        return true;
    }();
    (void)made;
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)zem::theme::parse_colour(text);
    (void)zem::theme::parse_colour_channel(text);
    {
        std::ofstream out(std::string(theme_dir()) + "/theme.json", std::ios::binary | std::ios::trunc);
        out.write(text.data(), std::streamsize(text.size()));
    }
    auto theme = zem::theme::load_theme_file(theme_dir());
    if (!theme) return 0;
    for (const auto* mode : {&theme->light, &theme->dark}) {
        for (const auto& [name, slot] : mode->slots) {
            (void)zem::theme::colour_slot(mode->slots, name);
            (void)zem::theme::surface_from_slot(mode->slots, name);
        }
    }
    return 0;
}
