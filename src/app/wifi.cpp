#include "app/wifi.hpp"

#include "app/installer_app.hpp"

namespace app::wifi {

// Connecting is not built yet: the wireless page only moves on.
void update(InstallerApp&, Msg) {}

} // namespace app::wifi
