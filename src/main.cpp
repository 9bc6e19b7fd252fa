#include "daemon/server.hpp"
#include "platform/sigpipe.hpp"

#include <cstdio>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    // A peer that goes away must never kill any of the roles.
    platform::ignore_sigpipe();
    if (argc >= 2 && std::string_view(argv[1]) == "daemon") {
        std::string error = daemon_server::run();
        std::fprintf(stderr, "tavix-installer daemon: %s\n", error.c_str());
        return 1;
    }
    std::fputs("tavix-installer: not built yet\n", stderr);
    return 1;
}
