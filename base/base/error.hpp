#pragma once

#include <string>

namespace base {

// The system's text for an errno value ("No such file or directory").
std::string errno_text(int err);

} // namespace base
