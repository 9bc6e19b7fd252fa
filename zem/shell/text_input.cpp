// The input method (zwp_text_input_v3): on-screen keyboards and composing
// input methods type into the focused field through it.
#include <zem/shell/text_fields.hpp>

#include <wayland-client.h>
#include <text-input-unstable-v3-client-protocol.h>

#include <cstdio>

namespace zem {

struct AppData::TextInput {
    AppData* d = nullptr;
    zwp_text_input_v3* object = nullptr;
    bool password = false;
    bool enabled = false;  // a field has the focus
    // Requests `commit` sent so far: the serial a `done` must carry for its
    // state to answer our latest one.
    std::uint32_t commits = 0;
    // Events are double-buffered: nothing applies before `done`.
    PendingIme pending;
};

void AppData::TextInputDeleter::operator()(TextInput* t) const {
    if (t->object != nullptr) zwp_text_input_v3_destroy(t->object);
    delete t;
}

namespace {

constexpr std::uint32_t kPasswordHint =
    ZWP_TEXT_INPUT_V3_CONTENT_HINT_HIDDEN_TEXT | ZWP_TEXT_INPUT_V3_CONTENT_HINT_SENSITIVE_DATA;

// The focused field of the surface with keyboard focus, if it is one.
std::optional<std::pair<SurfaceKey, LayoutId>> focused_field(AppData& d) {
    SurfaceKey key = d.keyboard_focus;
    if (!key.is_main() && d.overlay_surfaces.count(key.id) == 0) return std::nullopt;
    const SurfaceState& s = d.surface(key);
    if (!s.focus || text_field(s, *s.focus) == nullptr) return std::nullopt;
    return std::pair{key, *s.focus};
}

void send_surrounding(AppData& d) {
    auto& ti = *d.text_input;
    auto at = focused_field(d);
    Surrounding sur;
    if (at)
        if (auto f = load_field(d.surface(at->first), at->second)) sur = f->surrounding();
    zwp_text_input_v3_set_surrounding_text(ti.object, sur.text.c_str(), static_cast<int32_t>(sur.cursor),
                                           static_cast<int32_t>(sur.anchor));
}

void commit(AppData& d) {
    zwp_text_input_v3_commit(d.text_input->object);
    ++d.text_input->commits;
}

// Enabling again on every change of field tells the input method that a new
// field starts (fresh content type and surrounding text).
void send_enable(AppData& d) {
    auto& ti = *d.text_input;
    ti.enabled = true;
    zwp_text_input_v3_enable(ti.object);
    send_surrounding(d);
    if (ti.password)
        zwp_text_input_v3_set_content_type(ti.object, kPasswordHint, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_PASSWORD);
    else
        zwp_text_input_v3_set_content_type(ti.object, ZWP_TEXT_INPUT_V3_CONTENT_HINT_NONE,
                                           ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_NORMAL);
    commit(d);
}

AppData& data_of(void* p) { return *static_cast<AppData*>(p); }

void clear_preedit(AppData& d) {
    auto clear = [](SurfaceState& s) {
        if (!s.preedit) return;
        s.preedit.reset();
        s.redraw = s.relayout = true;
    };
    clear(d.main_surface);
    for (auto& [id, s] : d.overlay_surfaces) clear(s);
}

void on_enter(void* p, zwp_text_input_v3*, wl_surface*) {
    AppData& d = data_of(p);
    if (d.text_input && focused_field(d)) send_enable(d);
}
void on_leave(void*, zwp_text_input_v3*, wl_surface*) {}
void on_preedit(void* p, zwp_text_input_v3*, const char* text, int32_t begin, int32_t end) {
    AppData& d = data_of(p);
    d.text_input->pending.preedit = PendingIme::Preedit{text != nullptr ? text : "", begin, end};
}
void on_commit_string(void* p, zwp_text_input_v3*, const char* text) {
    AppData& d = data_of(p);
    d.text_input->pending.commit = std::string(text != nullptr ? text : "");
}
void on_delete_surrounding(void* p, zwp_text_input_v3*, uint32_t before, uint32_t after) {
    AppData& d = data_of(p);
    d.text_input->pending.delete_surrounding = std::pair{before, after};
}
void on_done(void* p, zwp_text_input_v3*, uint32_t serial) {
    AppData& d = data_of(p);
    PendingIme pending = std::move(d.text_input->pending);
    d.text_input->pending = PendingIme{};
    // The old preedit goes first; the new one, if any, is set last.
    clear_preedit(d);
    auto at = focused_field(d);
    if (!at) return;
    auto [key, id] = *at;
    std::optional<FieldEdit> f = load_field(d.surface(key), id);
    if (!f) return;
    // One change message with the final text, whatever was deleted and
    // inserted.
    bool changed = f->apply_ime(pending);
    commit_field(d, key, id, *f, changed);
    SurfaceState& s = d.surface_mut(key);
    if (pending.preedit && !pending.preedit->text.empty())
        s.preedit = SurfaceState::Preedit{id, std::move(pending.preedit->text), pending.preedit->cursor_begin,
                                          pending.preedit->cursor_end};
    s.redraw = s.relayout = true;
    // Answer only a `done` that reflects our latest state; an older one is
    // applied but a reply would race the input method's newer events.
    if (changed && serial == d.text_input->commits) {
        send_surrounding(d);
        commit(d);
    }
}

const zwp_text_input_v3_listener kListener = {on_enter,  on_leave,          on_preedit, on_commit_string,
                                              on_delete_surrounding, on_done};

}  // namespace

// A compositor tells a text-input object which surface has the keyboard only
// when that focus changes: an object made while our window already had the
// keyboard would never hear of it, and its `enable` would be ignored. So the
// object is made once and kept; focus on a field enables it, focus elsewhere
// disables it.
void text_input_start(AppData& d) {
    if (d.text_input || d.text_input_manager == nullptr || d.seats.empty()) return;
    std::unique_ptr<AppData::TextInput, AppData::TextInputDeleter> ti(new AppData::TextInput);
    ti->d = &d;
    ti->object = zwp_text_input_manager_v3_get_text_input(d.text_input_manager, d.seats.front().seat);
    zwp_text_input_v3_add_listener(ti->object, &kListener, &d);
    d.text_input = std::move(ti);
}

void text_input_focus(AppData& d, SurfaceKey key, std::optional<LayoutId> field) {
    clear_preedit(d);
    if (!field) {
        if (d.text_input && d.text_input->enabled) {
            zwp_text_input_v3_disable(d.text_input->object);
            commit(d);
            d.text_input->enabled = false;
            d.text_input->pending = PendingIme{};
        }
        return;
    }
    const HitAction::TextEdit* f = text_field(d.surface(key), *field);
    const bool password = f != nullptr && f->password;
    if (d.text_input_manager == nullptr) {
        std::fprintf(stderr,
                     "zem: activate_text_input: no text_input_manager (compositor did not advertise "
                     "zwp_text_input_manager_v3)\n");
        return;
    }
    if (!d.text_input) {
        if (d.seats.empty()) {
            std::fprintf(stderr, "zem: activate_text_input: no seat available\n");
            return;
        }
        text_input_start(d);
    }
    d.text_input->password = password;
    send_enable(d);
}

}  // namespace zem
