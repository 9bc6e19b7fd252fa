#pragma once
// Start-up's wizard branch: theme, language, kiosk mode, the wizard on the
// toolkit's loop, kiosk mode off.

#include "cli/cli.hpp"

namespace app {

// 101 when the theme cannot be loaded (kiosk mode is then never switched
// on); otherwise the process ends here with status 0 once the loop ends.
int run_wizard(const cli::Cli& cli, cli::Scenario scenario);

} // namespace app
