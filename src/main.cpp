#include "cli/cli.hpp"

#include <cstdio>

int main(int argc, char** argv) {
    cli::parse(argc, argv);
    std::fputs("tavix-installer: not built yet\n", stderr);
    return 1;
}
