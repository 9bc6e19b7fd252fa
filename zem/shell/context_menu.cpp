// The text context menu: Copy, Cut, Paste and Delete on the field it was
// opened on.
#include <zem/shell/text_fields.hpp>

namespace zem {

void AppData::open_context_menu(SurfaceKey, LayoutId, float, float) {}
bool AppData::context_menu_action(SurfaceKey, float, float) { return false; }

}  // namespace zem
