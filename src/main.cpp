#include <cstdio>

int main() {
    std::fputs("tavix-installer: not built yet\n", stderr);
    return 1;
}
