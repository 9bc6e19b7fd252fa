#include <zem/widgets/divider_paint.hpp>

#include <zem/theme/active.hpp>

namespace zem::theme {

Divider divider_paint() {
    Divider d;
    d.color = palette_divider();
    return d;
}

}  // namespace zem::theme
