#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace install {

// One column of "df -B1 --output=COLUMN PATH" as a byte count: "used" or
// "avail". Nothing when df fails or prints no number.
std::optional<std::uint64_t> df_field(const std::string& path, const std::string& column);

// The number on the second line of df's output (the first is the header).
std::optional<std::uint64_t> parse_df_output(const std::string& out);

} // namespace install
