#pragma once
// Copying the running system into the mounted target with rsync.

#include "install/command.hpp"
#include "install/engine.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace install {

// Copies the running system (SystemPaths::host_root) into the target mount
// point, turning rsync's overall percentage into Copy fractions from 0.10 to
// 0.85. A cancel kills rsync and everything it started, reaps it, and ends
// the step with "cancelled".
[[nodiscard]] std::expected<void, std::string> copy_system(const InstallHandle& handle);

// rsync's arguments for copying `source` into `target`.
Command rsync_command(const std::string& source, const std::string& target);

// The percentage of one rsync progress line: the last number before the
// first "%". Nothing for a line without one.
std::optional<std::uint32_t> progress_percent(std::string_view line);

// The Copy fraction for a percentage.
float copy_fraction(std::uint32_t percent);

// "rsync failed (Some(N)): ..." / "rsync failed (None): ...", with the last
// five lines of rsync's standard error.
std::string rsync_failure(std::optional<int> exit_code, std::string_view stderr_text);

} // namespace install
