// Keyboard focus within a surface.
#include <zem/shell/app_data.hpp>

namespace zem {

void AppData::set_focus(SurfaceKey key, std::optional<LayoutId> focus) {
    SurfaceState& s = surface_mut(key);
    s.focus = focus;
    s.redraw = s.relayout = true;
}

}  // namespace zem
