// A separate process for the session tests that kill or race real programs.
//
//   session_child loop   saves ever-new state and session files, printing
//                        the number of each finished round
//   session_child hold   starts a session as a program would, prints what it
//                        decided, then waits to be killed
//
// Both use XDG_STATE_HOME and the app id "net.tavix.Test".

#include "session_support.hpp"

#include <zem/shell/session.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

using namespace zem;

namespace {

// 256 KiB in which every byte after the 8-byte round number is the same: a
// torn file shows as a mixed payload or a wrong length.
std::vector<uint8_t> payload(uint64_t round) {
    std::vector<uint8_t> bytes(8 + 256 * 1024, static_cast<uint8_t>(round % 251));
    std::memcpy(bytes.data(), &round, 8);
    return bytes;
}

int loop() {
    auto store = SessionStore::open("net.tavix.Test");
    if (!store) return 2;
    // Rounds carry on from the previous process, so new state always differs.
    uint64_t round = store->session_id ? std::stoull(store->session_id->substr(3)) : 0;
    for (;;) {
        ++round;
        store->save(payload(round));
        store->session_id = "id-" + std::to_string(round);
        store->write_session_file(round % 2 == 0);
        std::printf("%llu\n", static_cast<unsigned long long>(round));
        std::fflush(stdout);
    }
}

const char* name(RestoreDecision d) {
    switch (d) {
        case RestoreDecision::Fresh: return "fresh";
        case RestoreDecision::Recover: return "recover";
        case RestoreDecision::Forced: return "forced";
        case RestoreDecision::AnotherInstance: return "another";
    }
    return "?";
}

int hold() {
    AppAdapter<test::StateApp> app(test::StateApp{});
    SessionState s = session_restore_setup("net.tavix.Test", app);
    std::printf("%s %s\n", s.store ? "store" : "none", s.store ? name(s.restore_mode) : "-");
    std::fflush(stdout);
    for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "loop") return loop();
    if (mode == "hold") return hold();
    return 2;
}
