#pragma once
// The loop's side of accessibility: the action channel, the snapshots the
// tree is built from, and carrying out what assistive technologies ask.

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include <zem/access/tree.hpp>
#include <zem/shell/event_loop.hpp>

namespace zem {

struct AppData;

// Creates the action channel and the adapter, and starts watching the
// session bus for assistive technologies (no bus: the adapter stays idle).
[[nodiscard]] std::expected<void, std::string> setup_accessibility(AppData& d, event_loop::Reactor& reactor,
                                                                   bool with_bus);

// What each surface showed in its last frame; remembers which overlay got
// which number so that requests find their surface again.
std::vector<access::A11ySurface> snapshot_surfaces(AppData& d);

// Hands the adapter a new tree when an assistive technology listens and a
// frame was drawn (or it asked for a first tree).
void update_accessibility(AppData& d, bool drew);

// Carries out the waiting requests in order.
void apply_accessibility_actions(AppData& d);

// The window gained or lost keyboard focus (also told after every resize).
void a11y_update_focus(AppData& d, bool focused);
// The window's size in buffer pixels.
void a11y_set_window_bounds(AppData& d, std::uint32_t width, std::uint32_t height);

}  // namespace zem
