#include <zem/shell/draw_frame.hpp>

#include <zem/frame/context_menu_paint.hpp>

#include <zem/shell/app_data.hpp>
#include <zem/text/system_fonts.hpp>
#include <zem/theme/fonts.hpp>
#include <zem/theme/active.hpp>

#include <wayland-client.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zem {
namespace {

const HitRegion* first_with_id(const std::vector<HitRegion>& regions, WidgetId id) {
    for (const HitRegion& r : regions)
        if (r.id == id) return &r;
    return nullptr;
}

float frame_scale(int32_t scale) { return scale < 2 ? 1.0f : static_cast<float>(scale); }

}  // namespace

void damage_add(const std::vector<HitRegion>& regions, const IdPair& focus, const IdPair& hover, const IdPair& press,
                uint32_t W, uint32_t H, std::vector<Rect>& out) {
    out.clear();
    for (const IdPair* p : {&focus, &hover, &press}) {
        if (p->last && p->current && *p->last == *p->current) continue;
        for (const std::optional<WidgetId>& id : {p->last, p->current}) {
            if (!id) continue;
            const HitRegion* region = first_with_id(regions, *id);
            if (!region || region->action.as<HitAction::Slider>() != nullptr) continue;
            const Rect& r = region->painted_rect;
            float x0 = std::max(std::floor(r.x), 0.0f);
            float y0 = std::max(std::floor(r.y), 0.0f);
            float x1 = std::min(std::ceil(r.x + r.w), static_cast<float>(W));
            float y1 = std::min(std::ceil(r.y + r.h), static_cast<float>(H));
            Rect snapped{x0, y0, std::max(x1 - x0, 0.0f), std::max(y1 - y0, 0.0f)};
            if (snapped.w > 0 && snapped.h > 0) out.push_back(snapped);
        }
    }
}

std::vector<Rect> damage_add(const std::vector<HitRegion>& regions, const IdPair& focus, const IdPair& hover,
                              const IdPair& press, uint32_t W, uint32_t H) {
    std::vector<Rect> out;
    damage_add(regions, focus, hover, press, W, H, out);
    return out;
}

std::vector<Rect> damage_merge(const std::vector<HitRegion>& last, const std::vector<HitRegion>& now,
                                const IdPair& focus, const IdPair& hover, const IdPair& press, uint32_t W,
                                uint32_t H) {
    if (last.size() != now.size()) return {};
    std::vector<WidgetId> ids;
    for (const std::optional<WidgetId>& id :
         {focus.last, focus.current, hover.last, hover.current, press.last, press.current})
        if (id) ids.push_back(*id);
    std::vector<Rect> rects;
    for (WidgetId id : ids) {
        if (const HitRegion* r = first_with_id(last, id)) rects.push_back(r->painted_rect);
        if (const HitRegion* r = first_with_id(now, id)) rects.push_back(r->painted_rect);
    }
    for (size_t i = 0; i < last.size(); ++i) {
        const Rect& a = last[i].rect;
        const Rect& b = now[i].rect;
        if (std::fabs(a.x - b.x) > 0.5f || std::fabs(a.y - b.y) > 0.5f || std::fabs(a.w - b.w) > 0.5f ||
            std::fabs(a.h - b.h) > 0.5f)
            return {};
    }
    if (rects.empty()) return {};
    std::vector<Rect> out;
    float area = 0;
    for (Rect r : rects) {
        r = {r.x - 1, r.y - 1, r.w + 2, r.h + 2};
        r.x = std::max(r.x, 0.0f);
        r.y = std::max(r.y, 0.0f);
        r.w = std::min(r.w, static_cast<float>(W) - r.x);
        r.h = std::min(r.h, static_cast<float>(H) - r.y);
        // A painted rect beyond the right or bottom edge leaves nothing to
        // damage; a negative size must never reach the compositor.
        if (!(r.w > 0) || !(r.h > 0)) continue;
        area += r.w * r.h;
        out.push_back(r);
    }
    if (out.empty()) return {};
    if (area > 0.5f * static_cast<float>(W) * static_cast<float>(H)) return {};
    return out;
}

Rect title_bar_neighbour(const Rect& close, int n) {
    // Buttons are as far apart as the close button is from the band's edges.
    float step = close.w + 2 * close.y;
    return Rect{close.x - float(n) * step, close.y, close.w, close.h};
}

Rect draw_title_bar(Canvas& c, const std::string& title, uint32_t W, float bar, float s) {
    if (bar <= 0) return Rect{};
    float Wf = static_cast<float>(W);
    c.fill_rounded_rect(Rect{0, 0, Wf, bar}, Color{0.15f, 0.15f, 0.18f, 1}, Radii{});
    float tw = c.measure_text(title, 15);
    c.draw_text(title, (Wf - tw) * 0.5f, (s * 15 + bar) * 0.5f - 2, 15, Color{1, 1, 1, 1});
    float b = bar - 8 * s;
    float x = Wf - b - 8 * s;
    float y = 4 * s;
    c.fill_rounded_rect(Rect{x, y, b, b}, Color{1, 1, 1, 0.1f}, Radii::all(4 * s));
    float m = b * 0.5f, q = b * 0.25f;
    float cx = x + m, cy = y + m;
    c.draw_line(Color{1, 1, 1, 1}, cx - q, cy - q, cx + q, cy + q, 2 * s);
    c.draw_line(Color{1, 1, 1, 1}, cx + q, cy - q, cx - q, cy + q, 2 * s);
    // Maximise (a square) and minimise (a bar) to the close button's left.
    Rect max_r = title_bar_neighbour(Rect{x, y, b, b}, 1), min_r = title_bar_neighbour(Rect{x, y, b, b}, 2);
    for (const Rect& r : {max_r, min_r}) c.fill_rounded_rect(r, Color{1, 1, 1, 0.1f}, Radii::all(4 * s));
    float mx = max_r.x + m, my = max_r.y + m;
    c.draw_line(Color{1, 1, 1, 1}, mx - q, my - q, mx + q, my - q, 2 * s);
    c.draw_line(Color{1, 1, 1, 1}, mx + q, my - q, mx + q, my + q, 2 * s);
    c.draw_line(Color{1, 1, 1, 1}, mx + q, my + q, mx - q, my + q, 2 * s);
    c.draw_line(Color{1, 1, 1, 1}, mx - q, my + q, mx - q, my - q, 2 * s);
    c.draw_line(Color{1, 1, 1, 1}, min_r.x + m - q, min_r.y + m + q, min_r.x + m + q, min_r.y + m + q, 2 * s);
    c.draw_line(Color{1, 1, 1, 0.15f}, 0, bar - 0.5f, Wf, bar - 0.5f, 1);
    return Rect{x, y, b, b};
}

namespace {

FrameLayout take_layout(SurfaceState& s, bool debug) {
    FrameLayout l;
    l.focused = s.focus;
    l.hovered = s.hover;
    l.pressed = s.pressed;
    l.debug_layout = debug;
    // Moved, not copied: nothing reads the surface's regions while the frame
    // is drawn, and the frame's own replace them when it is stored.
    l.previous_regions = std::move(s.regions);
    l.carets = std::move(s.kept.carets);
    l.anchors = std::move(s.kept.anchors);
    l.scroll_offsets = std::move(s.kept.scroll_offsets);
    l.layer_canvases = std::move(s.kept.layer_canvases);
    l.fade_layers = std::move(s.kept.fade_layers);
    l.list_items = std::move(s.kept.list_items);
    for (const auto& [id, edit] : s.edited_texts) l.edited_texts.emplace(id, std::string_view(edit.text));
    if (s.preedit) {
        const auto begin = s.preedit->cursor_begin;
        // A negative cursor hides it: leave the caret after the text.
        const std::size_t cursor = begin < 0 ? s.preedit->text.size() : static_cast<std::size_t>(begin);
        l.preedit = FrameLayout::Preedit{s.preedit->widget, s.preedit->text, cursor};
    }
    // The record lists start from the storage of two frames ago, emptied:
    // a steady page fills them again without growing them.
    l.regions = std::move(s.kept.regions);
    l.regions.clear();
    l.access_nodes = std::move(s.kept.access_nodes);
    l.access_nodes.clear();
    l.slots = std::move(s.kept.slots);
    l.slots.clear();
    l.spare_texts = std::move(s.kept.spare_texts);
    s.kept = FrameLayout{};
    return l;
}

void store_layout(SurfaceState& s, FrameLayout&& l) {
    s.last_focus = l.focused;
    s.last_hover = l.hovered;
    s.last_pressed = l.pressed;
    s.regions = std::move(l.regions);
    s.scroll_regions = std::move(l.scroll_areas);
    std::swap(s.statics, l.access_nodes);
    // The lists this frame replaced keep their storage for the next one.
    l.previous_regions.clear();
    s.kept.regions = std::move(l.previous_regions);
    // Their texts' strings serve the next frame's nodes; no more are kept
    // than one frame has nodes.
    for (AccessNode& node : l.access_nodes) {
        if (l.spare_texts.size() >= l.access_nodes.size()) break;
        if (node.text) l.spare_texts.push_back(std::move(*node.text));
    }
    l.access_nodes.clear();
    s.kept.access_nodes = std::move(l.access_nodes);
    s.kept.slots = std::move(l.slots);
    s.kept.spare_texts = std::move(l.spare_texts);
    s.kept.carets = std::move(l.carets);
    s.kept.anchors = std::move(l.anchors);
    s.kept.scroll_offsets = std::move(l.scroll_offsets);
    s.kept.layer_canvases = std::move(l.layer_canvases);
    s.kept.fade_layers = std::move(l.fade_layers);
    s.kept.list_items = std::move(l.list_items);
}

void paint_content(Canvas& c, SurfaceState& s, const Element* root, uint32_t W, uint32_t H, float bar, float sc,
                   FrameLayout& layout) {
    s.close_button_rect = draw_title_bar(c, s.title, W, bar, sc);
    Rect content{0, bar, static_cast<float>(W), std::max(static_cast<float>(H) - bar, 0.0f)};
    if (root) layout_and_draw(*root, c, content, layout, 0);
    if (s.context_menu)
        context_menu_draw(c, s.context_menu->rect, s.context_menu->has_selection, s.context_menu->can_paste);
}

// A new software canvas with the theme's fonts.
Canvas new_canvas(uint32_t W, uint32_t H, float sc) {
    Canvas c = Canvas::new_software(W, H);
    c.set_scale(sc);
    if (auto fonts = theme_fonts()) c.set_theme_fonts(std::make_shared<const FontRegistry>(std::move(*fonts)));
    return c;
}

bool present_software(SurfaceState& s, const FrameInputs& in, ShmPool::Buffer& buf, uint32_t W, uint32_t H,
                      const std::vector<Rect>& damage) {
    // Only what changed since this buffer last held a frame is copied.
    const std::vector<Rect>* areas = s.shm_pool ? s.shm_pool->plan_copy(buf, damage) : nullptr;
    if (areas) s.canvas->copy_rects_to_buffer(buf.bytes, *areas, in.swap_rb);
    else s.canvas->copy_to_buffer(buf.bytes, in.swap_rb);
    wl_surface* surface = s.role.wl_surface_ptr();
    if (surface == nullptr) {
        std::fprintf(stderr, "attach: surface has no wl_surface\n");
        std::abort();
    }
    wl_surface_attach(surface, buf.buffer, 0, 0);
    // damage_buffer came with wl_surface version 4; older surfaces take
    // damage in surface coordinates, rounded outward.
    bool by_buffer = wl_proxy_get_version(reinterpret_cast<wl_proxy*>(surface)) >= 4;
    int32_t sc = s.effective_scale();
    auto send = [&](float x, float y, float w, float h) {
        int32_t ix = static_cast<int32_t>(x), iy = static_cast<int32_t>(y);
        int32_t iw = static_cast<int32_t>(w), ih = static_cast<int32_t>(h);
        if (iw <= 0 || ih <= 0) return;
        if (by_buffer) {
            wl_surface_damage_buffer(surface, ix, iy, iw, ih);
        } else {
            int32_t x0 = ix / sc, y0 = iy / sc;
            int32_t x1 = (ix + iw + sc - 1) / sc, y1 = (iy + ih + sc - 1) / sc;
            wl_surface_damage(surface, x0, y0, x1 - x0, y1 - y0);
        }
    };
    if (damage.empty()) {
        send(0, 0, static_cast<float>(W), static_cast<float>(H));
    } else {
        for (const Rect& r : damage) send(r.x, r.y, r.w, r.h);
    }
    if (in.compositor) set_surface_input_region(surface, in.compositor, in.input_region, s.scale);
    if (in.request_frame) in.request_frame();
    wl_surface_commit(surface);
    s.frame_pending = true;
    return true;
}

}  // namespace

FramePlan plan_frame(const SurfaceState& s, std::vector<Rect> damage_storage) {
    FramePlan plan;
    if (s.size[0] == 0 || s.size[1] == 0) return plan;
    float sc = frame_scale(s.scale);
    plan.W = s.size[0] * static_cast<uint32_t>(sc);
    plan.H = s.size[1] * static_cast<uint32_t>(sc);
    plan.kind = FrameKind::Full;
    if (s.canvas && s.canvas->width() == plan.W && s.canvas->height() == plan.H && !s.relayout &&
        !s.regions.empty()) {
        std::vector<Rect> damage = std::move(damage_storage);
        damage_add(s.regions, {s.last_focus, s.focus}, {s.last_hover, s.hover}, {s.last_pressed, s.pressed}, plan.W,
                   plan.H, damage);
        if (damage.empty()) {
            plan.kind = FrameKind::Skipped;
            plan.damage = std::move(damage);
            return plan;
        }
        float area = 0;
        for (const Rect& r : damage) area += r.w * r.h;
        if (area < 0.5f * static_cast<float>(plan.W) * static_cast<float>(plan.H)) {
            plan.kind = FrameKind::Partial;
            plan.damage = std::move(damage);
        }
    }
    return plan;
}

void paint_frame(SurfaceState& s, const FrameInputs& in, FramePlan& plan) {
    float sc = frame_scale(s.scale);
    uint32_t W = plan.W, H = plan.H;
    float bar = s.top_inset * sc;
    if (plan.kind == FrameKind::Partial) {
        if (!s.canvas) {
            std::fprintf(stderr, "partial path requires existing canvas\n");
            std::abort();
        }
        Canvas& c = *s.canvas;
        c.set_clip_rects(plan.damage);
        if (in.background.a > 0) c.clear_color(in.background);
        else c.clear_rects(plan.damage);
        FrameLayout layout = take_layout(s, false);
        paint_content(c, s, in.root, W, H, bar, sc, layout);
        theme::draw_fallback_banner(c, static_cast<float>(W), sc);
        c.reset_clip();
        c.present();
        store_layout(s, std::move(layout));
        s.relayout = false;
        return;
    }
    if (!s.canvas) s.canvas = new_canvas(W, H, sc);
    Canvas& c = *s.canvas;
    if (c.width() != W || c.height() != H) {
        c.resize(W, H);
        c.set_scale(sc);
    }
    c.reset_clip();
    if (in.background.a > 0) c.clear_color(in.background);
    else c.clear();
    FrameLayout layout = take_layout(s, in.debug_layout);
    paint_content(c, s, in.root, W, H, bar, sc, layout);
    if (in.debug_layout)
        for (const HitRegion& r : layout.regions) c.stroke_rounded_rect(r.rect, Color{1, 0, 0, 1}, Radii{}, 1.5f);
    theme::draw_fallback_banner(c, static_cast<float>(W), sc);
    c.present();
    plan.damage.clear();
    if (!s.relayout)
        plan.damage = damage_merge(layout.previous_regions, layout.regions, {s.last_focus, layout.focused},
                                   {s.last_hover, layout.hovered}, {s.last_pressed, layout.pressed}, W, H);
    store_layout(s, std::move(layout));
    s.relayout = false;
}

std::vector<int32_t> gl_damage_rects(const std::vector<Rect>& damage, uint32_t H) {
    std::vector<int32_t> out;
    out.reserve(damage.size() * 4);
    const float Hf = static_cast<float>(H);
    for (const Rect& r : damage) {
        const float x = std::floor(r.x), y = std::floor(r.y);
        const float w = std::max(std::ceil(r.w), 0.0f), h = std::max(std::ceil(r.h), 0.0f);
        out.push_back(static_cast<int32_t>(x));
        out.push_back(static_cast<int32_t>(std::max(Hf - y - h, 0.0f)));
        out.push_back(static_cast<int32_t>(w));
        out.push_back(static_cast<int32_t>(h));
    }
    return out;
}

namespace {

// A frame through the surface's EGL window. A context that cannot be made
// current abandons the frame; the next configure or event tries again.
FrameKind draw_frame_gles(SurfaceState& s, const FrameInputs& in, FramePlan& plan) {
    if (!in.egl->make_current(s.egl_surface->surface())) return FrameKind::Skipped;
    if (!s.canvas) {
        float sc = frame_scale(s.scale);
        Canvas c = Canvas::new_gles(in.egl->gl(), plan.W, plan.H, in.egl->gles3());
        c.set_scale(sc);
        if (auto fonts = theme_fonts()) c.set_theme_fonts(std::make_shared<const FontRegistry>(std::move(*fonts)));
        s.canvas = std::move(c);
    }
    paint_frame(s, in, plan);
    wl_surface* surface = s.role.wl_surface_ptr();
    if (in.compositor && surface) set_surface_input_region(surface, in.compositor, in.input_region, s.scale);
    if (in.request_frame) in.request_frame();
    std::vector<Rect> whole{Rect{0, 0, static_cast<float>(plan.W), static_cast<float>(plan.H)}};
    std::vector<int32_t> rects = gl_damage_rects(plan.kind == FrameKind::Partial ? plan.damage : whole, plan.H);
    // A failed swap only loses this frame; the surface draws again on its next change.
    (void)in.egl->swap_buffers_with_damage(s.egl_surface->surface(), rects);
    s.frame_pending = true;
    return plan.kind;
}

}  // namespace

namespace {

FrameKind draw_planned(SurfaceState& s, const FrameInputs& in, FramePlan& plan) {
    if (plan.kind == FrameKind::Skipped) return plan.kind;
    if (in.egl != nullptr && s.egl_surface) return draw_frame_gles(s, in, plan);
    if (!s.shm_pool) return FrameKind::Skipped;
    auto buf = s.shm_pool->take(plan.W, plan.H, plan.W * 4, in.shm_format);
    if (!buf) return FrameKind::Skipped;
    paint_frame(s, in, plan);
    present_software(s, in, *buf, plan.W, plan.H, plan.damage);
    return plan.kind;
}

}  // namespace

FrameKind draw_frame(SurfaceState& s, const FrameInputs& in) {
    FramePlan plan = plan_frame(s, std::move(s.plan_damage));
    const FrameKind kind = draw_planned(s, in, plan);
    s.plan_damage = std::move(plan.damage);
    return kind;
}

void render_offscreen(Canvas& c, const Element& root, Color background, const std::string& title, float top_inset,
                      int32_t scale, std::vector<HitRegion>* regions) {
    float sc = frame_scale(scale);
    c.set_scale(sc);
    if (auto fonts = theme_fonts()) c.set_theme_fonts(std::make_shared<const FontRegistry>(std::move(*fonts)));
    c.reset_clip();
    if (background.a > 0) c.clear_color(background);
    else c.clear();
    float bar = top_inset * sc;
    draw_title_bar(c, title, c.width(), bar, sc);
    FrameLayout layout;
    Rect content{0, bar, static_cast<float>(c.width()), std::max(static_cast<float>(c.height()) - bar, 0.0f)};
    layout_and_draw(root, c, content, layout, 0);
    theme::draw_fallback_banner(c, static_cast<float>(c.width()), sc);
    c.present();
    if (regions) *regions = std::move(layout.regions);
}

}  // namespace zem
