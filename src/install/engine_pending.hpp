#pragma once
// Engine steps whose real versions are not in this tree yet. Each answers
// plainly that it is missing rather than pretending to succeed; the file goes
// away as they arrive.

#include "install/mounts.hpp"
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

// Closes the encrypted root "tavix_crypt"; harmless when nothing is open.
void close_crypt();

// Applies a language's locale, keyboard and time zone below `root`.
void apply_locale(const std::string& root, const std::string& code);

// Stages the account (and encryption) for the next boot.
std::expected<void, std::string> stage_account(const std::string& username, const std::string& hostname,
                                               const std::string& password, bool encrypt);

} // namespace install
