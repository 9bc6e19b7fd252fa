// A request line as the daemon reads it from a local client: any bytes a
// peer can send on the socket, read through the daemon's own reader.
#include "fuzz_input.hpp"
#include "ipc/protocol.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputFd in(data, size);
    if (!in) return 0;
    ipc::RequestRead r = ipc::read_request(in.fd());
    if (r.status == ipc::RequestRead::Status::Ok) {
        // What the daemon accepted travels again and reads back the same.
        auto text = ipc::encode(r.request);
        if (!text) std::abort();
        auto again = ipc::Request::deserialize(*text);
        if (!again || !(*again == r.request)) std::abort();
    }
    return 0;
}
