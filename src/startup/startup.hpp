#pragma once
// Start-up: which of the three roles runs, in which order, with which exit
// status.
//
// `main` parses the command line and hands it to `run` with the roles that
// are built into this executable. A role left empty says on standard error
// that it is not built yet and ends with status 1.

#include "cli/cli.hpp"
#include "platform/system_paths.hpp"

#include <expected>
#include <functional>
#include <string>

namespace startup {

struct Roles {
    // The first-boot fix-ups; whatever happens inside, the process then ends
    // with status 0.
    std::function<void()> firstboot;
    // Serves the daemon socket for as long as the process lives; returns only
    // when it cannot start, with the reason.
    std::function<std::expected<void, std::string>()> daemon;
    // Everything after the scenario is chosen (theme, language, kiosk mode,
    // the wizard and the toolkit's loop); returns the exit status.
    std::function<int(const cli::Cli&, cli::Scenario)> wizard;
};

// The scenario forced on the command line, else Configure when the file
// status of the "configure-pending" marker can be read (symbolic links
// followed), else Install.
cli::Scenario choose_scenario(const cli::Cli& cli, const platform::SystemPaths& paths);

// Runs the role the command line selects and returns the exit status:
// `firstboot` wins over `daemon`, which wins over the wizard.
int run(const cli::Cli& cli, const Roles& roles);

} // namespace startup
