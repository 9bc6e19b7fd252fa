#pragma once
// Engine steps whose real versions are not in this tree yet. Each answers
// plainly that it is missing rather than pretending to succeed; the file goes
// away as they arrive.

#include "install/encryption.hpp"
#include "install/mounts.hpp"
#include "install/staging.hpp"
#include "install/target_config.hpp"
#include "ipc/protocol.hpp"

#include <expected>
#include <memory>
#include <string>

namespace install {

class InstallStatus;
using InstallHandle = std::shared_ptr<InstallStatus>;

// The real install pipeline.
std::expected<void, std::string> run_install(const ipc::InstallPlan& plan, const InstallHandle& handle,
                                             MountList& mounts);

} // namespace install
