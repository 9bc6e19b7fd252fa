#include "app/start.hpp"
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
    roles.wizard = app::run_wizard;
    return startup::run(cli, roles);
}
