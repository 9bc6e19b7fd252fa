#pragma once
// Asks the compositor to enter or leave kiosk mode while the wizard runs.
//
// The request goes to the compositor's control socket
// "$XDG_RUNTIME_DIR/mebra-$WAYLAND_DISPLAY.sock" as one compact JSON line:
//   {"action":"set_kiosk","enabled":true}\n
// The switch is best effort: a missing variable, a missing or refusing
// socket and a failed write all end the call quietly, and it never waits on
// a compositor that does not read.

#include <optional>
#include <string>

namespace kiosk {

void set_kiosk(bool enabled);

// The control socket's path from the environment, or nullopt when
// XDG_RUNTIME_DIR is unset or WAYLAND_DISPLAY is unset or not UTF-8.
std::optional<std::string> control_socket_path();

} // namespace kiosk
