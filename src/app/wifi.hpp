#pragma once
// The wireless page: network choice, passwords, connection jobs and the
// connectivity check.

#include "app/msg.hpp"

namespace app {
class InstallerApp;
namespace wifi {
void update(InstallerApp& app, Msg m);
// Leaving the page abandons a running connect: its dialogs close and its
// late result is dropped.
void leave(InstallerApp& app);
} // namespace wifi
} // namespace app
