#pragma once
// One figure of df's report for the file system holding a path. Defined
// with the plan check, which owns it (install/preflight.cpp).

#include <cstdint>
#include <optional>
#include <string>

namespace install {

// Runs "df" "-B1" "--output=<column>" path and reads the second line of its
// output as an unsigned decimal number (a leading "+" accepted). Nothing when
// df cannot start, fails, or prints no such number.
std::optional<std::uint64_t> df_field(const std::string& path, const std::string& column);

} // namespace install
