#pragma once
// Switches read from the environment.

namespace base {

// Whether a switch's value turns it on: set, not empty, valid UTF-8, and not
// "0".
bool flag_value_on(const char* value);

// The environment variable `name` read as a switch (see flag_value_on).
bool env_flag(const char* name);

}  // namespace base
