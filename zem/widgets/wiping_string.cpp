#include <zem/widgets/wiping_string.hpp>

#include <string.h>  // explicit_bzero

namespace zem {

void WipingString::wipe() noexcept {
    if (!text_.empty()) explicit_bzero(text_.data(), text_.size());
}

}  // namespace zem
