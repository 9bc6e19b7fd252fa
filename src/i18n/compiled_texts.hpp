#pragma once
// The catalogue's texts as the build compiles them from locales/*.json:
// languages in building order, each language's keys in ascending byte order.

#include <cstddef>
#include <string_view>

namespace i18n::compiled {

struct Text {
    std::string_view code;
    std::string_view key;
    std::string_view text;
};

extern const Text kTexts[];
extern const std::size_t kTextCount;

} // namespace i18n::compiled
