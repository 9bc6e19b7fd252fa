// Focus and the editing operations on text fields.
#include <zem/shell/text_fields.hpp>

#include <zem/text/graphemes.hpp>

#include <zem/widgets/text_edit.hpp>

#include <xkbcommon/xkbcommon-keysyms.h>

#include <string.h>  // explicit_bzero

namespace zem {

namespace {

const HitRegion* first_region(const SurfaceState& s, LayoutId id) {
    for (const HitRegion& r : s.regions)
        if (r.id == id) return &r;
    return nullptr;
}

// A copy of a text handed to an application callback; a password's copy is
// wiped once the callback has it.
struct WipedCopy {
    std::string s;
    ~WipedCopy() {
        if (!s.empty()) explicit_bzero(s.data(), s.size());
    }
};

void queue_change(AppData& d, const HitAction::TextEdit& field, std::string_view text) {
    if (!field.on_change || !*field.on_change) return;
    WipedCopy copy{std::string(text)};
    if (auto m = (*field.on_change)(copy.s)) d.messages.push_back(std::move(*m));
}

}  // namespace

const HitAction::TextEdit* text_field(const SurfaceState& s, LayoutId id) {
    const HitRegion* r = first_region(s, id);
    return r == nullptr ? nullptr : r->action.as<HitAction::TextEdit>();
}

std::string_view field_text(const SurfaceState& s, LayoutId id) {
    if (auto it = s.edited_texts.find(id); it != s.edited_texts.end()) return it->second.text;
    const HitAction::TextEdit* f = text_field(s, id);
    return f == nullptr ? std::string_view{} : std::string_view(f->text);
}

std::optional<FieldEdit> load_field(const SurfaceState& s, LayoutId id) {
    const HitAction::TextEdit* f = text_field(s, id);
    if (f == nullptr) return std::nullopt;
    auto find = [id](const auto& map) -> std::optional<std::size_t> {
        auto it = map.find(id);
        return it == map.end() ? std::nullopt : std::optional(it->second);
    };
    return FieldEdit::over(field_text(s, id), find(s.kept.carets), find(s.kept.anchors), f->password, f->multiline,
                           f->caret_to_end);
}

void AppData::store_edit(SurfaceKey key, LayoutId id, std::string_view text) {
    SurfaceState& s = surface_mut(key);
    // The first `view` (or `overlays`) call after this one may reflect it.
    std::uint64_t generation = (key.is_main() ? view_generation : overlay_generation) + 1;
    s.edited_texts[id] = EditedText{WipingString(text), generation};
}

void AppData::drop_reflected_edits(SurfaceKey key) {
    SurfaceState& s = surface_mut(key);
    std::uint64_t shown = key.is_main() ? view_generation : overlay_generation;
    std::erase_if(s.edited_texts, [shown](const auto& e) { return e.second.view_generation <= shown; });
}

void commit_field(AppData& d, SurfaceKey key, LayoutId id, const FieldEdit& f, bool changed) {
    SurfaceState& s = d.surface_mut(key);
    s.kept.carets[id] = f.caret;
    s.kept.anchors[id] = f.anchor;
    s.redraw = s.relayout = true;
    if (!changed) return;
    d.store_edit(key, id, f.text);
    if (const HitAction::TextEdit* field = text_field(s, id)) queue_change(d, *field, f.text);
}

std::optional<std::string> selected_text_of(AppData& d, SurfaceKey key, LayoutId id) {
    auto f = load_field(d.surface(key), id);
    return f ? f->selected_text() : std::nullopt;
}

std::optional<std::string> delete_selection_of(AppData& d, SurfaceKey key, LayoutId id) {
    auto f = load_field(d.surface(key), id);
    if (!f || !f->delete_selection()) return std::nullopt;
    SurfaceState& s = d.surface_mut(key);
    s.kept.carets[id] = f->caret;
    s.kept.anchors[id] = f->anchor;
    s.redraw = s.relayout = true;
    d.store_edit(key, id, f->text);
    return f->text.str();
}

void insert_text_into(AppData& d, SurfaceKey key, LayoutId id, std::string_view text) {
    auto f = load_field(d.surface(key), id);
    if (!f) return;  // typing into a focused button types nothing
    bool changed = f->insert(text);
    commit_field(d, key, id, *f, changed);
}

void AppData::set_focus(SurfaceKey key, std::optional<LayoutId> focus) {
    SurfaceState& s = surface_mut(key);
    const std::optional<LayoutId> old = s.focus;
    const bool was_field = old && text_field(s, *old) != nullptr;
    const HitAction::TextEdit* field = focus ? text_field(s, *focus) : nullptr;
    // Text typed into a field the view never took is dropped when focus
    // leaves it; the field then shows its own value again.
    if (old && old != focus) s.edited_texts.erase(*old);
    s.focus = focus;
    s.redraw = s.relayout = true;
    if (field != nullptr) {
        // Absent would mean "end" too, but a caret must exist for every
        // reader to agree on where typing goes.
        const std::size_t len = field_text(s, *focus).size();
        s.kept.carets[*focus] = len;
        s.kept.anchors[*focus] = field->caret_to_end ? 0 : len;
    }
    if (field != nullptr || was_field) text_input_focus(*this, key, field != nullptr ? focus : std::nullopt);
    if ((field != nullptr) != was_field) view_dirty = overlays_dirty = true;
}

void AppData::insert_text(SurfaceKey key, std::string_view text) {
    const SurfaceState& s = surface(key);
    if (!s.focus) return;
    insert_text_into(*this, key, *s.focus, text);
}

bool AppData::text_key(SurfaceKey key, const KeyStroke& stroke) {
    const SurfaceState& s = surface(key);
    if (!s.focus) return false;
    const LayoutId id = *s.focus;
    std::optional<FieldEdit> f = load_field(s, id);
    if (!f) return false;
    const bool extend = shift;
    bool changed = false;
    // Wrapped lines of a multi-line field, measured on the surface's canvas.
    const HitRegion* region = first_region(s, id);
    const bool visual = f->multiline && surface(key).canvas.has_value();
    Canvas* canvas = visual ? &*surface_mut(key).canvas : nullptr;
    auto move_to = [&](std::size_t p) {
        f->caret = p;
        if (!extend) f->anchor = p;
    };
    switch (stroke.keysym) {
        case XKB_KEY_Up:
        case XKB_KEY_KP_Up:
        case XKB_KEY_Down:
        case XKB_KEY_KP_Down: {
            if (!visual) return false;
            const bool down = stroke.keysym == XKB_KEY_Down || stroke.keysym == XKB_KEY_KP_Down;
            auto p = down ? visual_line_down(*canvas, region->rect, f->text, f->caret)
                          : visual_line_up(*canvas, region->rect, f->text, f->caret);
            if (!p) return false;  // the list highlight may move instead
            move_to(*p);
            break;
        }
        case XKB_KEY_Left:
        case XKB_KEY_KP_Left: f->left(extend); break;
        case XKB_KEY_Right:
        case XKB_KEY_KP_Right: f->right(extend); break;
        case XKB_KEY_Home:
        case XKB_KEY_KP_Home:
            if (visual) move_to(visual_line_bounds(*canvas, region->rect, f->text, f->caret).first);
            else f->home(extend);
            break;
        case XKB_KEY_End:
        case XKB_KEY_KP_End:
            if (visual) move_to(visual_line_bounds(*canvas, region->rect, f->text, f->caret).second);
            else f->end(extend);
            break;
        case XKB_KEY_BackSpace: changed = f->backspace(); break;
        case XKB_KEY_Delete:
        case XKB_KEY_KP_Delete: changed = f->delete_forward(); break;
        default: {
            if (ctrl) {
                switch (stroke.keysym) {
                    case XKB_KEY_a:
                    case XKB_KEY_A: f->select_all(); break;
                    case XKB_KEY_c:
                    case XKB_KEY_C:
                        if (auto t = f->selected_text()) {
                            clipboard_text = std::move(*t);
                            offer_clipboard_text(*this, key_serial);
                        }
                        return true;
                    case XKB_KEY_x:
                    case XKB_KEY_X:
                        if (auto t = f->selected_text()) {
                            clipboard_text = std::move(*t);
                            offer_clipboard_text(*this, key_serial);
                            changed = f->delete_selection();
                            break;
                        }
                        return true;
                    case XKB_KEY_v:
                    case XKB_KEY_V:
                        if (!clipboard_text.empty()) insert_text_into(*this, key, id, clipboard_text);
                        return true;
                    default: return false;
                }
                break;
            }
            // Typing: a key that produces text, never a control character.
            if (!stroke.text || stroke.text->empty() || has_control_char(*stroke.text)) return false;
            changed = f->insert(*stroke.text);
            break;
        }
    }
    commit_field(*this, key, id, *f, changed);
    return true;
}

std::optional<std::size_t> field_offset_at(AppData& d, SurfaceKey key, LayoutId id, float x, float y) {
    SurfaceState& s = d.surface_mut(key);
    const HitRegion* r = first_region(s, id);
    const HitAction::TextEdit* f = r == nullptr ? nullptr : r->action.as<HitAction::TextEdit>();
    if (f == nullptr || !s.canvas) return std::nullopt;
    const std::string_view text = field_text(s, id);
    std::size_t caret = text.size();
    if (auto it = s.kept.carets.find(id); it != s.kept.carets.end()) caret = it->second;
    // Hits measure the text as the painter shows it: bullets only while a
    // password field is not revealed.
    const bool masked = f->password && !f->revealed;
    return edit_hit_test(*s.canvas, r->rect, text, f->multiline, masked, f->reveal_toggle.has_value(), caret, f->align,
                         x, y, text_edit_font_size(*s.canvas, f->font_size));
}

void AppData::place_caret_at(SurfaceKey key, LayoutId id, float x, float y) {
    const HitAction::TextEdit* f = text_field(surface(key), id);
    if (f == nullptr || f->caret_to_end) return;
    auto at = field_offset_at(*this, key, id, x, y);
    if (!at) return;
    SurfaceState& s = surface_mut(key);
    s.kept.carets[id] = s.kept.anchors[id] = *at;
    s.redraw = s.relayout = true;
}

void AppData::select_word_at(SurfaceKey key, LayoutId id, float x, float y) {
    const HitAction::TextEdit* f = text_field(surface(key), id);
    if (f == nullptr || f->caret_to_end) return;
    auto at = field_offset_at(*this, key, id, x, y);
    auto field = load_field(surface(key), id);
    if (!at || !field || field->text.empty()) return;
    field->select_word(*at);
    commit_field(*this, key, id, *field, false);
}

void AppData::extend_selection_to(SurfaceKey key, LayoutId id, float x, float y) {
    const HitAction::TextEdit* f = text_field(surface(key), id);
    if (f == nullptr || f->caret_to_end) return;
    auto at = field_offset_at(*this, key, id, x, y);
    if (!at) return;
    SurfaceState& s = surface_mut(key);
    s.kept.carets[id] = *at;
    if (!s.kept.anchors.contains(id)) s.kept.anchors[id] = field_text(s, id).size();
    s.redraw = s.relayout = true;
}

}  // namespace zem
