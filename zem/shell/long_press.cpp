// Long press: a press held still for half a second sends the region's
// long-press message, starts its drag, or opens a field's menu. The loop
// wakes for it even when no event comes.
#include <zem/input/regions.hpp>
#include <zem/shell/app_data.hpp>

#include <algorithm>

namespace zem {

namespace {

template <class F>
void each_surface(AppData& d, F f) {
    f(SurfaceKey::main(), d.main_surface);
    for (auto& [id, st] : d.overlay_surfaces) f(SurfaceKey::overlay(id), st);
}

}  // namespace

std::optional<event_loop::Duration> AppData::long_press_timeout() const {
    if (!reactor) return std::nullopt;
    auto now = reactor->now();
    std::optional<event_loop::Duration> best;
    auto look = [&](const SurfaceState& s) {
        if (!s.gesture.long_press_start) return;
        auto left = std::max<event_loop::Duration>(*s.gesture.long_press_start + kLongPress - now,
                                                   event_loop::Duration::zero());
        if (!best || left < *best) best = left;
    };
    look(main_surface);
    for (auto& [id, st] : overlay_surfaces) look(st);
    return best;
}

void AppData::fire_long_press() {
    if (!reactor) return;
    auto now = reactor->now();
    struct Fired {
        SurfaceKey key;
        std::optional<Message> long_press, drag;
        std::optional<LayoutId> field;
        std::pair<float, float> point;
    };
    std::vector<Fired> fired;
    each_surface(*this, [&](SurfaceKey key, SurfaceState& s) {
        GestureRecognizer& g = s.gesture;
        if (!g.long_press_due(now)) return;
        g.long_press_start.reset();
        Fired f{key, std::move(g.long_press_message), std::move(g.drag_message), g.pressed_text_edit,
                g.press_origin};
        g.long_press_message.reset();
        g.drag_message.reset();
        g.pressed_text_edit.reset();
        if (!f.long_press && !f.drag && !f.field) return;
        if (f.drag) g.drag_active = true;
        s.redraw = s.relayout = true;
        fired.push_back(std::move(f));
    });
    for (Fired& f : fired) {
        if (f.long_press) messages.push_back(std::move(*f.long_press));
        if (f.drag) {
            messages.push_back(std::move(*f.drag));
            drag_points.push_back(f.point);
            stop_button_repeat();
        }
        if (f.field) open_context_menu(f.key, *f.field, f.point.first, f.point.second);
    }
}

// A held auto-repeat button sends its message again after the keyboard's
// repeat delay, then every 120 ms, while its region is still there.
void AppData::arm_button_repeat(SurfaceKey key, LayoutId widget) {
    stop_button_repeat();
    if (!reactor) return;
    auto first = event_loop::checked_add(reactor->now(), keys::button_repeat_delay(repeat));
    if (!first) return;
    auto id = reactor->add_timer(*first, [this, key, widget](event_loop::Instant) -> event_loop::TimerNext {
        auto end = [&]() -> event_loop::TimerNext {
            button_repeat.reset();
            return std::nullopt;
        };
        if (!key.is_main() && !overlay_surfaces.count(key.id)) return end();
        const HitRegion* r = region_with_id(surface(key).regions, widget);
        auto m = r ? hit_message(r->action) : std::nullopt;
        if (!m) return end();
        messages.push_back(std::move(*m));
        return event_loop::checked_add(reactor->now(), std::chrono::milliseconds(120));
    });
    button_repeat = ButtonRepeat{key, widget, id};
}

void AppData::stop_button_repeat() {
    if (button_repeat && reactor) reactor->remove_timer(button_repeat->timer);
    button_repeat.reset();
}

bool AppData::any_slider_drag() const {
    if (main_surface.gesture.slider_drag) return true;
    for (auto& [id, st] : overlay_surfaces)
        if (st.gesture.slider_drag) return true;
    return false;
}

}  // namespace zem
