// Text fields: focus, carets, edits and the context menu. Focus moves here;
// the editing itself is not wired up yet, so the rest answers "not handled".
#include <zem/shell/app_data.hpp>

namespace zem {

void AppData::set_focus(SurfaceKey key, std::optional<LayoutId> focus) {
    SurfaceState& s = surface_mut(key);
    if (s.focus && s.focus != focus) s.edited_texts.erase(*s.focus);
    s.focus = focus;
    s.redraw = s.relayout = true;
}

bool AppData::text_key(SurfaceKey, const KeyStroke&) { return false; }
void AppData::insert_text(SurfaceKey, std::string_view) {}
void AppData::place_caret_at(SurfaceKey, LayoutId, float, float) {}
void AppData::select_word_at(SurfaceKey, LayoutId, float, float) {}
void AppData::extend_selection_to(SurfaceKey, LayoutId, float, float) {}
void AppData::open_context_menu(SurfaceKey, LayoutId, float, float) {}
bool AppData::context_menu_action(SurfaceKey, float, float) { return false; }

}  // namespace zem
