// nmcli's terse scan listing as the wizard reads it: any bytes, any lines.
// Every network read must carry a name and at most four bars, and reading
// the same listing twice gives the same list.
#include "network/network.hpp"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto list = network::parse_wifi_list(bytes);
    for (const auto& w : list) {
        if (w.ssid.empty() || w.bars > 4) std::abort();
    }
    if (network::parse_wifi_list(bytes) != list) std::abort();
    (void)network::parse_nmcli_wifi_line(bytes);
    (void)network::nmcli_unescape(bytes);
    return 0;
}
