#include "kiosk/kiosk.hpp"

#include <base/utf8.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kiosk {

std::optional<std::string> control_socket_path() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime) return std::nullopt;
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (!display || !base::utf8::is_valid(display)) return std::nullopt;
    std::filesystem::path dir(runtime);
    return (dir / ("mebra-" + std::string(display) + ".sock")).native();
}

void set_kiosk(bool enabled) {
    auto path = control_socket_path();
    if (!path) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path->size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path->data(), path->size());

    // Non-blocking: a compositor whose backlog is full or that never reads
    // must not hold up the wizard.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        std::string_view line = enabled ? std::string_view("{\"action\":\"set_kiosk\",\"enabled\":true}\n")
                                        : std::string_view("{\"action\":\"set_kiosk\",\"enabled\":false}\n");
        ssize_t n;
        do {
            n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
    }
    ::close(fd);
}

} // namespace kiosk
