// The loop's side of accessibility.
#include <zem/shell/accessibility.hpp>

#include <zem/access/actions.hpp>
#include <zem/access/atspi_bridge.hpp>
#include <zem/input/regions.hpp>
#include <zem/shell/app_data.hpp>

#include <algorithm>
#include <cstdlib>
#include <variant>

namespace zem {
namespace {

using access::A11yAction;
using access::ActionRequest;

bool visible_overlay(const SurfaceState& s, const SurfaceState& main) {
    std::uint32_t scale = static_cast<std::uint32_t>(s.effective_scale());
    float w = float(s.size[0] * scale), h = float(s.size[1] * scale);
    // Wayland does not tell where an overlay sits: it counts from the top-left.
    float x = 0, y = 0;
    float mw = float(main.size[0] * main.effective_scale()), mh = float(main.size[1] * main.effective_scale());
    return w > 0 && h > 0 && x + w > 0 && y + h > 0 && x < mw && y < mh;
}

access::A11ySurface snapshot(const SurfaceState& s, bool main, std::uint8_t number) {
    access::A11ySurface a;
    a.focus = s.focus;
    a.pressed = s.pressed;
    a.regions = s.regions;
    a.statics = s.statics;
    for (const auto& [id, byte] : s.kept.carets) a.carets[id] = byte;
    for (const auto& [id, edit] : s.edited_texts) a.edited_texts[id] = edit.text.str();
    std::uint32_t scale = static_cast<std::uint32_t>(s.effective_scale());
    a.width = s.size[0] * scale;
    a.height = s.size[1] * scale;
    a.main = main;
    a.number = number;
    return a;
}

std::optional<SurfaceKey> surface_of(const AppData& d, std::uint8_t number) {
    if (number == 0) return SurfaceKey::main();
    if (number > d.a11y_overlay_numbers.size()) return std::nullopt;
    OverlayId id = d.a11y_overlay_numbers[number - 1];
    if (!d.overlay_surfaces.contains(id)) return std::nullopt;
    return SurfaceKey::overlay(id);
}

void push(AppData& d, std::optional<Message> m) {
    if (!m) return;
    d.messages.push_back(std::move(*m));
    d.a11y_work_left = true;
}

void scroll_to(AppData& d, SurfaceState& s, LayoutId area, access::Offset offset) {
    s.kept.scroll_offsets[area] = offset;
    s.redraw = s.relayout = true;
    d.a11y_work_left = true;
}

void apply(AppData& d, const ActionRequest& r) {
    auto target = access::decode_widget_target(r.target);
    if (!target) return;
    auto key = surface_of(d, target->surface);
    if (!key) return;
    SurfaceState& s = d.surface_mut(*key);
    std::optional<HitRegion> region;
    for (const HitRegion& h : s.regions)
        if (h.id == target->widget) region = h;
    const auto* slider = region ? region->action.as<HitAction::Slider>() : nullptr;
    const auto* field = region ? region->action.as<HitAction::TextEdit>() : nullptr;
    switch (r.action) {
        case A11yAction::Click:
            if (region) push(d, hit_message(region->action));
            break;
        case A11yAction::Focus:
            d.set_focus(*key, target->widget);
            d.a11y_work_left = true;
            break;
        case A11yAction::Decrement:
        case A11yAction::Increment:
            if (slider && slider->on_change)
                push(d, (*slider->on_change)(access::step_slider(slider->value, r.action == A11yAction::Increment)));
            break;
        case A11yAction::SetValue:
            if (r.text && field && field->on_change) push(d, (*field->on_change)(*r.text));
            else if (r.number && slider && slider->on_change)
                push(d, (*slider->on_change)(access::clamp_slider(*r.number)));
            break;
        case A11yAction::ScrollDown:
        case A11yAction::ScrollUp:
        case A11yAction::ScrollRight:
        case A11yAction::ScrollLeft: {
            auto i = access::area_for_step(s.scroll_regions);
            if (!i) break;
            LayoutId area = s.scroll_regions[*i].id;
            auto it = s.kept.scroll_offsets.find(area);
            access::Offset from = it != s.kept.scroll_offsets.end() ? it->second : access::Offset{0, 0};
            scroll_to(d, s, area, access::scroll_by_step(from, r.action, s.effective_scale()));
            break;
        }
        case A11yAction::ScrollIntoView: {
            if (!region) break;
            auto i = access::area_around(s.scroll_regions, region->rect.x, region->rect.y);
            if (!i) break;
            const ScrollArea& area = s.scroll_regions[*i];
            auto it = s.kept.scroll_offsets.find(area.id);
            access::Offset from = it != s.kept.scroll_offsets.end() ? it->second : access::Offset{0, 0};
            scroll_to(d, s, area.id, access::scroll_into_view(area.rect, from, region->rect));
            break;
        }
        case A11yAction::Refresh: break;
    }
}

}  // namespace

std::expected<void, std::string> setup_accessibility(AppData& d, event_loop::Reactor& reactor, bool with_bus) {
    auto channel = event_loop::Channel<ActionRequest>::create();
    if (!channel) return std::unexpected("accessibility channel insert_source: " + channel.error());
    if (auto id = channel->insert(reactor, 1024, [&d](ActionRequest&& r) { d.a11y_pending.push_back(std::move(r)); });
        !id)
        return std::unexpected("accessibility channel insert_source: " + id.error());
    auto sender = channel->sender();
    d.a11y_channel.emplace(std::move(*channel));
    d.accessibility = std::make_unique<access::Adapter>(
        [sender](ActionRequest r) { return sender.send(std::move(r)); });
    if (with_bus) d.atspi = access::AtspiBridge::start(*d.accessibility, d.app_id, "0");
    return {};
}

std::vector<access::A11ySurface> snapshot_surfaces(AppData& d) {
    std::vector<access::A11ySurface> out;
    out.push_back(snapshot(d.main_surface, true, 0));
    d.a11y_overlay_numbers.clear();
    for (const auto& [id, st] : d.overlay_surfaces) {
        if (!visible_overlay(st, d.main_surface)) continue;
        if (d.a11y_overlay_numbers.size() >= 255) break;
        d.a11y_overlay_numbers.push_back(id);
        out.push_back(snapshot(st, false, static_cast<std::uint8_t>(d.a11y_overlay_numbers.size())));
    }
    return out;
}

void update_accessibility(AppData& d, bool drew) {
    if (!d.accessibility || !d.accessibility->active()) return;
    bool refresh = d.accessibility->take_refresh();
    if (!drew && !refresh) return;
    std::vector<access::A11ySurface> surfaces = snapshot_surfaces(d);
    std::uint8_t focus_surface = 0;
    if (d.keyboard_focus.kind == SurfaceKey::Overlay)
        for (std::size_t i = 0; i < d.a11y_overlay_numbers.size(); ++i)
            if (d.a11y_overlay_numbers[i] == d.keyboard_focus.id) focus_surface = static_cast<std::uint8_t>(i + 1);
    d.accessibility->update(surfaces, focus_surface, d.app_id);
}

void apply_accessibility_actions(AppData& d) {
    std::deque<ActionRequest> batch;
    batch.swap(d.a11y_pending);
    for (const ActionRequest& r : batch) apply(d, r);
}

void a11y_update_focus(AppData& d, bool focused) {
    if (d.accessibility) d.accessibility->update_focus(focused);
}

void a11y_set_window_bounds(AppData& d, std::uint32_t width, std::uint32_t height) {
    if (d.accessibility) d.accessibility->set_window_bounds(width, height);
}

}  // namespace zem
