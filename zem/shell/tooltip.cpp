// Tooltips: resting the pointer on a widget with a tooltip for 600 ms shows
// it in a layer overlay of its own, above the widget (below when there is
// no room), until the pointer leaves the widget or presses.
#include <zem/core/length.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/input_internal.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/container.hpp>
#include <zem/widgets/stack.hpp>
#include <zem/widgets/text.hpp>

#include <algorithm>
#include <cstring>

namespace zem {

namespace {

constexpr std::chrono::milliseconds kTooltipDelay{600};

uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

void round(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
}

}  // namespace

uint64_t siphash13(const unsigned char* in, std::size_t n) {
    uint64_t v0 = 0x736f6d6570736575ULL, v1 = 0x646f72616e646f6dULL;
    uint64_t v2 = 0x6c7967656e657261ULL, v3 = 0x7465646279746573ULL;
    std::size_t full = n / 8 * 8;
    for (std::size_t i = 0; i < full; i += 8) {
        uint64_t m = 0;
        for (int b = 0; b < 8; ++b) m |= uint64_t(in[i + std::size_t(b)]) << (8 * b);
        v3 ^= m;
        round(v0, v1, v2, v3);
        v0 ^= m;
    }
    uint64_t last = uint64_t(n & 0xff) << 56;
    for (std::size_t i = full; i < n; ++i) last |= uint64_t(in[i]) << (8 * (i - full));
    v3 ^= last;
    round(v0, v1, v2, v3);
    v0 ^= last;
    v2 ^= 0xff;
    for (int i = 0; i < 3; ++i) round(v0, v1, v2, v3);
    return v0 ^ v1 ^ v2 ^ v3;
}

OverlayId tooltip_overlay_id() {
    static const OverlayId id = [] {
        const char name[] = "zem-tooltip";
        unsigned char bytes[sizeof name];
        std::memcpy(bytes, name, sizeof name - 1);
        bytes[sizeof name - 1] = 0xff;
        return OverlayId(siphash13(bytes, sizeof bytes) & 0xffffffffu);
    }();
    return id;
}

void AppData::hover_tooltip(SurfaceKey key, const HitRegion* under) {
    if (!under) {
        drop_tooltips();
        return;
    }
    if (!under->tooltip) {
        pending_tooltip.reset();  // one already shown stays until the pointer leaves
        return;
    }
    if (pending_tooltip && pending_tooltip->key == key && pending_tooltip->widget == under->id) return;
    if (!reactor) return;
    pending_tooltip = PendingTooltip{*under->tooltip, under->rect, key, under->id, reactor->now() + kTooltipDelay};
    if (shown_tooltip) {
        shown_tooltip.reset();
        overlays_dirty = true;
    }
}

void AppData::drop_tooltips() {
    pending_tooltip.reset();
    if (shown_tooltip) {
        shown_tooltip.reset();
        overlays_dirty = true;
    }
}

std::optional<event_loop::Duration> AppData::tooltip_timeout() const {
    if (!pending_tooltip || !reactor) return std::nullopt;
    return std::max<event_loop::Duration>(pending_tooltip->due - reactor->now(), event_loop::Duration::zero());
}

void AppData::show_due_tooltip() {
    if (!pending_tooltip || !reactor || reactor->now() < pending_tooltip->due) return;
    shown_tooltip = ShownTooltip{std::move(pending_tooltip->text), pending_tooltip->key, pending_tooltip->rect};
    pending_tooltip.reset();
    overlays_dirty = true;
    main_surface.redraw = main_surface.relayout = true;
}

std::optional<OverlayDecl> AppData::tooltip_overlay() const {
    if (!shown_tooltip) return std::nullopt;
    const ShownTooltip& t = *shown_tooltip;
    if (!t.key.is_main() && !overlay_surfaces.count(t.key.id)) return std::nullopt;
    OverlayId id = tooltip_overlay_id();
    auto own = overlay_surfaces.find(id);
    float F = float(own != overlay_surfaces.end() ? own->second.effective_scale() : main_surface.effective_scale());
    float S = text_scale();
    float P = float(surface(t.key).effective_scale());
    float W = float(main_surface.size[0]), H = float(main_surface.size[1]);
    // The anchor surface's place on screen: window overlays and popups are
    // placed by the compositor, so only the main surface's origin is known.
    float ax = 0, ay = 0;

    Text label;
    label.text = t.text;
    label.size = Length::px(13);
    label.color = theme::palette_bg_page();
    Container bubble{Element(std::move(label))};
    bubble.fill = Paint{[] {
        Color c = theme::palette_text_primary();
        c.a = 0.95f;
        return c;
    }()};
    bubble.radii = Radii::all(8 * F);
    bubble.top = bubble.bottom = Length::px(6 * F);
    bubble.left = bubble.right = Length::px(12 * F);

    float chars = float(t.text.size());
    float L = std::clamp(24 * F + S * 7.5f * chars * F, 40 * F, 320 * F);
    float h = S * 16 * F + 12 * F;
    float x = (ax + t.rect.x / P) * F + (t.rect.w / P * F - L) * 0.5f;
    x = std::clamp(x, 4 * F, std::max(F * W - L - 4 * F, 4 * F));
    float top = (ay + t.rect.y / P) * F;
    float y = top - h - 6 * F;
    if (y < 4 * F) y = top + t.rect.h / P * F + 6 * F;
    if (y + h > F * H - 4 * F) y = std::max(F * H - h - 4 * F, 4 * F);

    Stack stack;
    StackChild child;
    child.element = Element(std::move(bubble));
    child.placement = Rect{x, y, L, h};
    stack.children.push_back(std::move(child));

    OverlayDecl d;
    d.id = id;
    d.element = Element(std::move(stack));
    d.input_region = std::vector<Rect>{};  // clicks go through to the window below
    d.kind = OverlayKind::LayerOverlay;
    d.edge_top = d.edge_bottom = d.edge_left = d.edge_right = true;
    d.exclusive_zone = -1;
    return d;
}

}  // namespace zem
