#include "startup/startup.hpp"

#include <cstdio>
#include <sys/stat.h>

namespace startup {

namespace {

int not_built(const char* role) {
    std::fprintf(stderr, "tavix-installer: %s is not built yet\n", role);
    return 1;
}

} // namespace

cli::Scenario choose_scenario(const cli::Cli& cli, const platform::SystemPaths& paths) {
    if (cli.scenario) return *cli.scenario;
    struct stat st;
    if (::stat(paths.marker("configure-pending").c_str(), &st) == 0) return cli::Scenario::Configure;
    return cli::Scenario::Install;
}

int run(const cli::Cli& cli, const Roles& roles) {
    if (cli.firstboot) {
        if (!roles.firstboot) return not_built("the first-boot step");
        roles.firstboot();
        return 0;
    }
    if (cli.daemon) {
        if (!roles.daemon) return not_built("the daemon");
        auto r = roles.daemon();
        if (!r) {
            std::string line = "tavix-installer daemon: " + r.error() + "\n";
            std::fputs(line.c_str(), stderr);
            return 1;
        }
        return 0;
    }
    if (!roles.wizard) return not_built("the wizard");
    return roles.wizard(cli, choose_scenario(cli, platform::paths()));
}

} // namespace startup
