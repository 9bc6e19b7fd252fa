// Event lines as the wizard reads them from the daemon's socket: every event
// of the stream until its end or the first error.
#include "fuzz_input.hpp"
#include "ipc/protocol.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputFd in(data, size);
    if (!in) return 0;
    ipc::EventReader reader(in.fd());
    // Each event takes at least one byte of the stream: more reads than
    // bytes would be a reader that never ends.
    for (std::size_t reads = 0;; ++reads) {
        if (reads > size + 1) std::abort();
        auto e = reader.next();
        if (!e || !*e) break;
        auto text = ipc::encode(**e);
        if (!text) std::abort();
    }
    return 0;
}
