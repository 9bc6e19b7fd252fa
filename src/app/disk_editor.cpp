#include "app/disk_editor.hpp"

#include "app/installer_app.hpp"

namespace app::disk_editor {

// The editor is not built yet: its messages change nothing, so the disk page
// offers whole disks only.
void update(InstallerApp&, Msg) {}

} // namespace app::disk_editor
