#pragma once
// Follows the desktop's text-scaling factor ("text-scaling-factor" of
// "org.gnome.desktop.interface") through the gsettings tool, on a thread of
// its own, and sends each value it learns over a channel.

#include <zem/shell/event_loop.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace zem {

// The last piece after spaces and colons, trimmed, as a positive f32.
std::optional<float> parse_scaling_factor(std::string_view text);

// One reading through "<program> get ...".
std::optional<float> read_text_scaling_factor(const std::string& program = "gsettings");

// The thread body: one reading, then "<program> monitor ..." line by line,
// until the output ends or the loop is gone; the monitor is then killed and
// reaped.
void watch_text_scaling_factor(event_loop::Sender<float> sender, const std::string& program = "gsettings");

// Starts the detached thread "zem-text-scale".
void spawn_text_scale_watcher(event_loop::Sender<float> sender);

}  // namespace zem
