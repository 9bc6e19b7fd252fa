#pragma once
// Process-wide values the shell shares with the drawing, widget and theme
// pieces: the text scale, the physical size that lengths resolve against,
// the page background, and whether frames are drawn in software.

#include <zem/app/scene.hpp>

#include <cstdint>
#include <functional>
#include <utility>

namespace zem {

// The global text scale, 1.0 at start, held in 0.5..3.0.
float current_text_scale();
void set_text_scale(float f);

// The main surface's size in buffer pixels (logical size × scale).
void set_physical_size(uint32_t w, uint32_t h);
std::pair<uint32_t, uint32_t> physical_size();

// The page background of the active palette ("bg-page"). The theme piece
// installs its provider; until then a neutral light grey is used.
RGBA page_background();
void set_page_background_provider(std::function<RGBA()> provider);

void set_software_renderer_active(bool on);
bool software_renderer_active();

// Stores "SOFTWARE (reason)" as the render-backend name, first caller wins,
// and prints "[zem] render backend: SOFTWARE (reason)" once.
void announce_render_backend(const std::string& reason);

}  // namespace zem
