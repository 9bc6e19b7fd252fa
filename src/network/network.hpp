#pragma once
// The wireless networks the wizard lists.

#include <cstdint>
#include <string>

namespace network {

struct WifiNetwork {
    std::string ssid;
    bool secured = false;
    std::uint8_t bars = 0; // signal strength, 0 to 4
};

} // namespace network
