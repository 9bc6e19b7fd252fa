// "session.json" as the toolkit reads it at start-up: the previous run, a
// crash or anything else with access to the state directory may have left
// any bytes there.
#include <zem/shell/session_file.hpp>

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto file = zem::parse_session_file(bytes);
    if (!file) return 0;
    // What the reader accepted is written back in the compact form and reads
    // back the same: the next start must see what this one kept.
    auto text = zem::encode_session_file(*file);
    if (!text) std::abort();
    auto again = zem::parse_session_file(*text);
    if (!again || again->version != file->version || again->session_id != file->session_id ||
        again->clean_exit != file->clean_exit || again->pid != file->pid)
        std::abort();
    return 0;
}
