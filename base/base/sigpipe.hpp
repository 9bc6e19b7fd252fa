#pragma once

namespace base {

// Makes writes to a closed pipe or socket fail with EPIPE instead of killing
// the process. Idempotent; every spawned program gets the default back.
void ignore_sigpipe();

} // namespace base
