#pragma once
// The disk page's partition editor: staged operations, the sizing dialogs
// and the batch that applies them.

#include "app/msg.hpp"

namespace app {
class InstallerApp;
namespace disk_editor {
void update(InstallerApp& app, Msg m);
} // namespace disk_editor
} // namespace app
