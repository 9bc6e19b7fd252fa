#pragma once
// The wireless page: network choice, passwords, connection jobs and the
// connectivity check.

#include "app/msg.hpp"

namespace app {
class InstallerApp;
namespace wifi {
void update(InstallerApp& app, Msg m);
} // namespace wifi
} // namespace app
