#include "support/scripted_daemon.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace support {

ScriptedDaemon::ScriptedDaemon(std::string socket_path, std::vector<DaemonAnswer> script)
    : path_(std::move(socket_path)), script_(std::move(script)) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (listener_ < 0 || path_.size() >= sizeof addr.sun_path || ::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("scripted daemon: cannot make the socket");
    std::memcpy(addr.sun_path, path_.data(), path_.size());
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 8) != 0)
        throw std::runtime_error("scripted daemon: cannot listen on " + path_);
    thread_ = std::thread([this] { serve(); });
}

ScriptedDaemon::~ScriptedDaemon() {
    (void)!::write(wake_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    ::unlink(path_.c_str());
}

std::vector<std::string> ScriptedDaemon::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void ScriptedDaemon::serve() {
    std::vector<int> held; // hanging connections, closed at the end
    for (std::size_t i = 0;; ++i) {
        pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 || (p[1].revents & POLLIN)) break;
        int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        // The request is one line.
        std::string line;
        char ch;
        while (::read(c, &ch, 1) == 1 && ch != '\n') line.push_back(ch);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(line);
        }
        if (i >= script_.size()) {
            ::close(c);
            continue;
        }
        const DaemonAnswer& a = script_[i];
        for (const ipc::Event& e : a.events) (void)ipc::write_line(c, e);
        if (a.end == DaemonAnswer::End::Hang) held.push_back(c);
        else ::close(c);
    }
    for (int c : held) ::close(c);
}

} // namespace support
