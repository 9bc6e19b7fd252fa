#pragma once
// Small shared pieces of the shell's drawing side.

#include <zem/core/paint.hpp>

#include <string>

namespace zem {

// The page background of the active palette ("bg-page").
Color page_background();

// Prints "[zem] render backend: SOFTWARE (reason)" once per process (the
// first caller wins).
void announce_render_backend(const std::string& reason);

// Called on the loop's thread right after each frame of the main surface
// was committed (attached and committed, or swapped), before the flush.
// None by default; the wizard's benchmarks set one to time frames as they
// leave for the compositor, which no client outside the process can see.
using MainFrameCommitted = void (*)();
void set_main_frame_committed(MainFrameCommitted observer);
MainFrameCommitted main_frame_committed();

}  // namespace zem
