#pragma once
// A daemon socket that plays a script instead of doing the work: for each
// connection, in order, it reads the request line, sends the scripted events
// and then closes, drops the connection without an answer, or hangs until
// the test ends. The wizard's client cannot tell it from the real daemon.

#include "ipc/protocol.hpp"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace support {

struct DaemonAnswer {
    enum class End { Close, Drop, Hang };
    std::vector<ipc::Event> events;
    End end = End::Close;
};

class ScriptedDaemon {
public:
    // Listens on `socket_path` and answers connection i with script[i];
    // connections past the script are closed at once.
    ScriptedDaemon(std::string socket_path, std::vector<DaemonAnswer> script);
    ~ScriptedDaemon(); // releases a hang and joins
    ScriptedDaemon(const ScriptedDaemon&) = delete;
    ScriptedDaemon& operator=(const ScriptedDaemon&) = delete;

    // The request lines received so far.
    std::vector<std::string> requests();

private:
    void serve();

    std::string path_;
    std::vector<DaemonAnswer> script_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace support
