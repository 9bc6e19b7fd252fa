#include <base/env.hpp>

#include <base/utf8.hpp>

#include <cstdlib>
#include <string_view>

namespace base {

bool flag_value_on(const char* value) {
    if (value == nullptr || *value == '\0') return false;
    const std::string_view v(value);
    return utf8::is_valid(v) && v != "0";
}

bool env_flag(const char* name) { return flag_value_on(std::getenv(name)); }

}  // namespace base
