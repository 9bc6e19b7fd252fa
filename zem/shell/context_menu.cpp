// The text context menu: Copy, Cut, Paste and Delete act on the field the
// menu was opened on and report through that field, even when focus moved
// to another one while the menu was open.
#include <zem/frame/context_menu_paint.hpp>
#include <zem/shell/text_fields.hpp>

namespace zem {

void AppData::open_context_menu(SurfaceKey key, LayoutId id, float x, float y) {
    SurfaceState& s = surface_mut(key);
    ContextMenu menu;
    menu.widget = id;
    menu.has_selection = selected_text_of(*this, key, id).has_value();
    menu.can_paste = !clipboard_text.empty();
    menu.caret_at = field_offset_at(*this, key, id, x, y);
    menu.rect = context_menu_rect(x, y, static_cast<float>(s.size[0]), static_cast<float>(s.size[1]),
                                  s.effective_scale());
    s.context_menu = menu;
    s.redraw = s.relayout = true;
}

bool AppData::context_menu_action(SurfaceKey key, float x, float y) {
    SurfaceState& s = surface_mut(key);
    if (!s.context_menu) return false;
    const ContextMenu menu = *s.context_menu;
    const LayoutId id = menu.widget;
    auto close = [&] {
        SurfaceState& st = surface_mut(key);
        st.context_menu.reset();
        st.redraw = st.relayout = true;
    };
    const std::optional<MenuEntry> entry = context_menu_item_at(menu.rect, x, y);
    if (!entry) {
        close();
        return true;
    }
    const bool enabled = *entry == MenuEntry::Paste ? menu.can_paste : menu.has_selection;
    if (!enabled) return true;  // a disabled row keeps the menu open
    auto copy = [&] {
        if (auto t = selected_text_of(*this, key, id)) {
            clipboard_text = std::move(*t);
            offer_clipboard_text(*this, input_serial);
        }
    };
    auto remove = [&] {
        if (auto f = load_field(surface(key), id); f && f->delete_selection()) commit_field(*this, key, id, *f, true);
    };
    switch (*entry) {
        case MenuEntry::Copy: copy(); break;
        case MenuEntry::Cut:
            copy();
            remove();
            break;
        case MenuEntry::Delete: remove(); break;
        case MenuEntry::Paste:
            if (menu.caret_at) {
                s.kept.carets[id] = *menu.caret_at;
                s.kept.anchors[id] = *menu.caret_at;
            }
            if (!clipboard_text.empty()) insert_text_into(*this, key, id, clipboard_text);
            break;
    }
    close();
    return true;
}

}  // namespace zem
