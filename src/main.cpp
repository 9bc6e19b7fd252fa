#include "cli/cli.hpp"
#include "daemon/server.hpp"
#include "firstboot/firstboot.hpp"
#include "startup/startup.hpp"

#include <csignal>

int main(int argc, char** argv) {
    const cli::Cli cli = cli::parse(argc, argv);

    // A peer that goes away shows up as a write error, never as a signal;
    // children get the default action back when they are spawned.
    std::signal(SIGPIPE, SIG_IGN);

    startup::Roles roles;
    roles.firstboot = firstboot::run;
    roles.daemon = daemon_server::run;
    // Each further role is plugged in here once it is built, for example:
    //   roles.wizard = <theme, language, kiosk on, InstallerApp, zem::run, kiosk off>;
    return startup::run(cli, roles);
}
