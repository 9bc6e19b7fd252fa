// Surfaces, overlays and the frame step.
#include <zem/shell/app_data.hpp>
#include <zem/shell/draw_frame.hpp>
#include <zem/shell/hooks.hpp>
#include <zem/shell/wayland_internal.hpp>

#include <wayland-client.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

namespace zem {
namespace {

constexpr uint64_t kMaxBufferBytes = 268435456;  // 256 MiB

uint32_t sat_mul(uint32_t a, uint32_t b) {
    uint64_t v = uint64_t(a) * b;
    return v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : uint32_t(v);
}

void set_buffer_scale(wl_surface* surface, int32_t s) {
    // set_buffer_scale came with wl_surface version 3.
    if (surface && proxy_version(surface) >= 3) wl_surface_set_buffer_scale(surface, s);
}

}  // namespace

std::pair<uint32_t, bool> shm_format(const std::vector<uint32_t>& formats) {
    for (uint32_t f : formats)
        if (f == WL_SHM_FORMAT_ABGR8888) return {WL_SHM_FORMAT_ABGR8888, false};
    return {WL_SHM_FORMAT_ARGB8888, true};
}

bool configure_surface(SurfaceState& s, wl_shm* shm, uint32_t w, uint32_t h, const std::shared_ptr<EglContext>& egl) {
    uint32_t sc = static_cast<uint32_t>(s.effective_scale());
    uint32_t W = sat_mul(w, sc), H = sat_mul(h, sc);
    uint32_t bytes = sat_mul(sat_mul(W, H), 4);
    if (W == 0 || H == 0 || bytes > kMaxBufferBytes) {
        std::fprintf(stderr, "[zem] on_configure: size %u×%u (physical %u×%u) out of range — ignoring\n", w, h, W, H);
        return false;
    }
    if (s.configured && (s.shm_pool || s.egl_surface) && s.size == std::array<uint32_t, 2>{w, h}) {
        // Only the window state changed (focus, tiling, a repeated request):
        // the buffers (or EGL window) and the laid-out view still fit. A scale change comes
        // through apply_buffer_scale, which reallocates itself. The commit
        // makes the acknowledged configure take effect.
        if (wl_surface* ws = s.role.wl_surface_ptr()) wl_surface_commit(ws);
        return false;
    }
    if (!s.configured && !s.shm_pool && !s.egl_surface && egl) {
        auto window = EglWindowSurface::create(egl, s.role.wl_surface_ptr(), W, H);
        if (window) s.egl_surface = std::move(*window);
        else std::fprintf(stderr, "[zem] eglCreateWindowSurface failed: %s — using SHM\n", window.error().c_str());
    }
    if (s.egl_surface) {
        s.egl_surface->resize(W, H);
    } else if (s.shm_pool) {
        auto pool = ShmPool::create(shm, bytes);
        if (!pool) {
            std::fprintf(stderr, "[zem] SlotPool resize failed: %s — keeping previous allocation\n",
                         pool.error().c_str());
            return false;
        }
        s.shm_pool = std::move(*pool);
    } else {
        auto pool = ShmPool::create(shm, bytes);
        if (!pool) {
            std::fprintf(stderr, "[zem] SlotPool init failed: %s\n", pool.error().c_str());
            return false;
        }
        s.shm_pool = std::move(*pool);
    }
    s.size = {w, h};
    set_buffer_scale(s.role.wl_surface_ptr(), static_cast<int32_t>(sc));
    s.configured = true;
    s.redraw = true;
    s.relayout = true;
    return true;
}

std::optional<std::pair<uint32_t, uint32_t>> apply_buffer_scale(SurfaceState& s, wl_shm* shm, int32_t n) {
    if (n == s.scale) return std::nullopt;
    uint32_t un = static_cast<uint32_t>(n < 1 ? 1 : n);
    uint32_t W = sat_mul(un, s.size[0]), H = sat_mul(un, s.size[1]);
    uint32_t bytes = sat_mul(sat_mul(W, H), 4);
    if (s.size[0] != 0 && s.size[1] != 0 && bytes > kMaxBufferBytes) {
        // The same cap as a configure: a scale that would need a buffer past
        // it is refused and the surface keeps its scale and buffers.
        std::fprintf(stderr, "[zem] on_buffer_scale: scale %d (physical %u×%u) out of range — ignoring\n", n, W, H);
        return std::nullopt;
    }
    s.scale = n;
    set_buffer_scale(s.role.wl_surface_ptr(), static_cast<int32_t>(un));
    if (s.canvas) s.canvas->set_scale(un < 2 ? 1.0f : static_cast<float>(un));
    if (s.egl_surface) {
        // The canvas follows on the next full frame, with the context current.
        s.egl_surface->resize(W, H);
    } else if (s.shm_pool && W != 0 && H != 0) {
        auto pool = ShmPool::create(shm, bytes);
        if (!pool) {
            std::fprintf(stderr, "[zem] SlotPool resize failed: %s — keeping previous allocation\n",
                         pool.error().c_str());
        } else {
            s.shm_pool = std::move(*pool);
            if (s.canvas) s.canvas->resize(W, H);
        }
    }
    s.redraw = true;
    s.relayout = true;
    return std::make_pair(W, H);
}

void set_surface_input_region(wl_surface* surface, wl_compositor* compositor,
                              const std::optional<std::vector<Rect>>& rects, int32_t scale) {
    if (!rects) {
        wl_surface_set_input_region(surface, nullptr);
        return;
    }
    wl_region* region = wl_compositor_create_region(compositor);
    if (region == nullptr) return;
    float s = static_cast<float>(scale < 1 ? 1 : scale);
    for (const Rect& r : *rects)
        wl_region_add(region, static_cast<int32_t>(std::round(r.x / s)), static_cast<int32_t>(std::round(r.y / s)),
                      static_cast<int32_t>(std::round(r.w / s)), static_cast<int32_t>(std::round(r.h / s)));
    wl_surface_set_input_region(surface, region);
    wl_region_destroy(region);
}

bool create_pending_layer_surface(AppData& d, SurfaceState& s, wl_output* output) {
    PendingLayerRole* pending = s.role.pending_layer();
    if (pending == nullptr || d.layer_shell == nullptr) return false;
    LayerParams p = pending->params;
    LayerRole role;
    role.params = p;
    role.surface = wl_compositor_create_surface(d.compositor);
    attach_surface_listener(d, role.surface);
    role.layer = zwlr_layer_shell_v1_get_layer_surface(d.layer_shell, role.surface, output,
                                                      static_cast<uint32_t>(p.layer),
                                                      p.name_space.c_str());
    zwlr_layer_surface_v1_set_exclusive_zone(role.layer, p.exclusive_zone);
    zwlr_layer_surface_v1_set_anchor(role.layer, p.anchor);
    auto keyboard = static_cast<uint32_t>(p.keyboard);
    // On-demand keyboard interactivity came with layer shell version 4;
    // older compositors get none rather than a protocol error.
    if (keyboard == ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND && d.layer_shell_version < 4)
        keyboard = ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE;
    zwlr_layer_surface_v1_set_keyboard_interactivity(role.layer, keyboard);
    zwlr_layer_surface_v1_set_size(role.layer, p.width, p.height);
    attach_layer_listeners(d, role);
    wl_surface_commit(role.surface);
    s.role = SurfaceRole(std::move(role));
    return true;
}

namespace {

struct Positioned {
    Rect anchor;  // logical
    uint32_t w, h;
};

const HitRegion* find_anchor(const SurfaceState& main, const std::string& key) {
    for (const HitRegion& r : main.regions)
        if (r.key && *r.key == key) return &r;
    return nullptr;
}

xdg_positioner* make_positioner(AppData& d, const Positioned& p) {
    xdg_positioner* pos = xdg_wm_base_create_positioner(d.wm_base);
    if (pos == nullptr) return nullptr;
    xdg_positioner_set_size(pos, static_cast<int32_t>(std::max<uint32_t>(p.w, 1)),
                            static_cast<int32_t>(std::max<uint32_t>(p.h, 1)));
    xdg_positioner_set_anchor_rect(pos, static_cast<int32_t>(p.anchor.x), static_cast<int32_t>(p.anchor.y),
                                   static_cast<int32_t>(p.anchor.w), static_cast<int32_t>(p.anchor.h));
    xdg_positioner_set_anchor(pos, XDG_POSITIONER_ANCHOR_BOTTOM);
    xdg_positioner_set_gravity(pos, XDG_POSITIONER_GRAVITY_BOTTOM);
    xdg_positioner_set_constraint_adjustment(pos, XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_SLIDE_X |
                                                      XDG_POSITIONER_CONSTRAINT_ADJUSTMENT_FLIP_Y);
    return pos;
}

Rect logical_anchor(const HitRegion& r, float s) {
    return Rect{std::round(r.rect.x / s), std::round(r.rect.y / s), std::max(std::round(r.rect.w / s), 1.0f),
                 std::max(std::round(r.rect.h / s), 1.0f)};
}

void create_popup(AppData& d, const OverlayDecl& decl, uint32_t lw, uint32_t lh, float s) {
    std::string name = overlay_debug(decl.id);
    if (d.wm_base == nullptr) {
        std::fprintf(stderr, "zem: ignoring popup overlay %s — main surface is not an xdg-shell window\n", name.c_str());
        return;
    }
    WindowRole* parent = d.main_surface.role.window();
    if (parent == nullptr || parent->xdg == nullptr) {
        std::fprintf(stderr, "zem: ignoring popup overlay %s — no xdg parent surface\n", name.c_str());
        return;
    }
    const HitRegion* anchor = find_anchor(d.main_surface, *decl.anchor);
    if (anchor == nullptr) {
        std::fprintf(stderr, "zem: popup overlay %s could not find anchor widget id %s\n", name.c_str(),
                     decl.anchor->c_str());
        return;
    }
    Rect ar = logical_anchor(*anchor, s);
    uint32_t w = lw == 0 ? static_cast<uint32_t>(ar.w) : lw;
    Positioned p{ar, w, std::max<uint32_t>(lh, 1)};
    xdg_positioner* pos = make_positioner(d, p);
    if (pos == nullptr) {
        std::fprintf(stderr, "zem: XdgPositioner::new failed for popup %s: out of memory\n", name.c_str());
        return;
    }
    PopupRole role;
    role.surface = wl_compositor_create_surface(d.compositor);
    if (role.surface == nullptr) {
        xdg_positioner_destroy(pos);
        std::fprintf(stderr, "zem: Surface::new failed for popup overlay %s: out of memory\n", name.c_str());
        return;
    }
    attach_surface_listener(d, role.surface);
    role.xdg = xdg_wm_base_get_xdg_surface(d.wm_base, role.surface);
    role.popup = xdg_surface_get_popup(role.xdg, parent->xdg, pos);
    xdg_positioner_destroy(pos);
    attach_popup_listeners(d, role);
    // Grabbing needs the serial of the latest press, which input keeps; until
    // then the popup is shown without a grab.
    wl_surface_commit(role.surface);
    SurfaceState st = create_surface_state(SurfaceRole(std::move(role)), {}, 0);
    st.declared_size = {lw, lh};
    st.anchor_rect = ar;
    st.anchor_valid = true;
    d.overlay_surfaces.emplace(decl.id, std::move(st));
}

void create_window_overlay(AppData& d, const OverlayDecl& decl, uint32_t lw, uint32_t lh) {
    if (d.wm_base == nullptr) {
        std::fprintf(stderr, "zem: ignoring window overlay %s — xdg_wm_base not available\n",
                     overlay_debug(decl.id).c_str());
        return;
    }
    WindowRole role;
    role.surface = wl_compositor_create_surface(d.compositor);
    attach_surface_listener(d, role.surface);
    role.xdg = xdg_wm_base_get_xdg_surface(d.wm_base, role.surface);
    role.toplevel = xdg_surface_get_toplevel(role.xdg);
    xdg_toplevel_set_title(role.toplevel, d.app_id.c_str());
    xdg_toplevel_set_app_id(role.toplevel, d.app_id.c_str());
    int32_t w = static_cast<int32_t>(lw == 0 ? 480 : lw), h = static_cast<int32_t>(lh == 0 ? 320 : lh);
    xdg_toplevel_set_min_size(role.toplevel, w, h);
    xdg_toplevel_set_max_size(role.toplevel, w, h);
    attach_window_listeners(d, role);
    wl_surface_commit(role.surface);
    SurfaceState st = create_surface_state(SurfaceRole(std::move(role)), {}, 0);
    st.declared_size = {lw, lh};
    d.overlay_surfaces.emplace(decl.id, std::move(st));
}

void create_layer_overlay(AppData& d, const OverlayDecl& decl, uint32_t lw, uint32_t lh, int32_t scale) {
    if (d.layer_shell == nullptr) {
        std::fprintf(stderr, "zem: ignoring layer-shell overlay %s — wlr-layer-shell not available\n",
                     overlay_debug(decl.id).c_str());
        return;
    }
    LayerParams p;
    p.name_space = "zem-overlay";
    p.width = lw;
    p.height = lh;
    p.exclusive_zone = decl.exclusive_zone > 0
                           ? static_cast<int32_t>(std::lround(double(decl.exclusive_zone) / scale))
                           : decl.exclusive_zone;
    switch (decl.kind) {
    case OverlayKind::LayerBackground: p.layer = ShellLayer::Background; break;
    case OverlayKind::LayerBottom: p.layer = ShellLayer::Bottom; break;
    case OverlayKind::LayerTop: p.layer = ShellLayer::Top; break;
    case OverlayKind::Window:
    case OverlayKind::LayerOverlay: p.layer = ShellLayer::Overlay; break;
    }
    p.anchor = (decl.edge_top ? 1u : 0u) | (decl.edge_bottom ? 2u : 0u) | (decl.edge_left ? 4u : 0u) |
               (decl.edge_right ? 8u : 0u);
    p.keyboard = decl.keyboard_exclusive ? LayerKeyboard::Exclusive : LayerKeyboard::OnDemand;
    SurfaceState st = create_surface_state(SurfaceRole(PendingLayerRole{p}), {}, 0);
    st.declared_size = {lw, lh};
    st.declared_scale = scale;
    st.exclusive_zone = p.exclusive_zone;
    if (!d.outputs.empty()) create_pending_layer_surface(d, st, d.outputs.front().output);
    d.overlay_surfaces.emplace(decl.id, std::move(st));
}

void update_overlay(AppData& d, SurfaceState& st, const OverlayDecl& decl, uint32_t lw, uint32_t lh, float s) {
    if (LayerRole* l = st.role.layer()) {
        bool changed = false;
        if (st.declared_size[0] != lw || st.declared_size[1] != lh) {
            zwlr_layer_surface_v1_set_size(l->layer, lw, lh);
            st.declared_size = {lw, lh};
            changed = true;
        }
        int32_t zone = decl.exclusive_zone > 0 ? static_cast<int32_t>(std::lround(decl.exclusive_zone / s))
                                               : decl.exclusive_zone;
        if (zone != st.exclusive_zone) {
            zwlr_layer_surface_v1_set_exclusive_zone(l->layer, zone);
            st.exclusive_zone = zone;
            changed = true;
        }
        if (changed) wl_surface_commit(l->surface);
    } else if (PopupRole* p = st.role.popup()) {
        if (d.wm_base == nullptr || !decl.anchor) return;
        const HitRegion* anchor = find_anchor(d.main_surface, *decl.anchor);
        if (anchor == nullptr) return;
        Rect ar = logical_anchor(*anchor, s);
        if (st.anchor_valid && st.anchor_rect == ar) return;
        // Repositioning came with xdg_wm_base version 3.
        if (d.wm_base_version < 3) return;
        uint32_t w = lw == 0 ? static_cast<uint32_t>(ar.w) : lw;
        xdg_positioner* pos = make_positioner(d, Positioned{ar, w, std::max<uint32_t>(lh, 1)});
        if (pos == nullptr) return;
        xdg_popup_reposition(p->popup, pos, ++st.reposition_token);
        xdg_positioner_destroy(pos);
        st.anchor_rect = ar;
        st.anchor_valid = true;
    }
}

}  // namespace

void reconcile_overlays(AppData& d) {
    std::vector<OverlayDecl> declared = d.app->overlays();
    // (The tooltip overlay joins this list once tooltips exist.)
    std::set<OverlayId> ids;
    for (const OverlayDecl& o : declared) ids.insert(o.id);
    std::vector<OverlayId> gone;
    for (auto& [id, st] : d.overlay_surfaces)
        if (!ids.contains(id)) gone.push_back(id);
    for (OverlayId id : gone) d.remove_overlay(id);

    int32_t scale = d.main_surface.effective_scale();
    float s = static_cast<float>(scale);
    // Declared sizes are logical lengths against the logical main surface,
    // as on a canvas; surfaces are sized in logical units.
    float mw = static_cast<float>(d.main_surface.size[0]);
    float mh = static_cast<float>(d.main_surface.size[1]);
    for (const OverlayDecl& decl : declared) {
        float bw = std::max(decl.width.resolve_scaled(mw, mh, 16), 0.0f);
        float bh = std::max(decl.height.resolve_scaled(mw, mh, 16), 0.0f);
        uint32_t lw = static_cast<uint32_t>(std::lround(bw));
        uint32_t lh = static_cast<uint32_t>(std::lround(bh));
        auto it = d.overlay_surfaces.find(decl.id);
        if (it != d.overlay_surfaces.end()) {
            update_overlay(d, it->second, decl, lw, lh, s);
        } else if (decl.anchor) {
            create_popup(d, decl, lw, lh, s);
        } else if (decl.kind == OverlayKind::Window) {
            create_window_overlay(d, decl, lw, lh);
        } else {
            create_layer_overlay(d, decl, lw, lh, scale);
        }
    }
}

namespace {
bool drawable(const SurfaceState& s) { return s.configured && s.redraw && !s.frame_pending; }
}  // namespace

void draw_dirty_surfaces(AppData& d) {
    auto [format, swap] = d.shm_format_choice();
    Color page = page_background();
    if (drawable(d.main_surface)) {
        FrameInputs in{&*d.view_cache, page, std::nullopt, d.debug_layout, format, swap, d.compositor,
                       [&d] { d.request_frame(SurfaceKey::main()); }};
        in.egl = d.egl.get();
        if (draw_frame(d.main_surface, in) != FrameKind::Skipped) {
            ++d.frames_presented;
            if (auto observer = main_frame_committed()) observer();
            d.drop_reflected_edits(SurfaceKey::main());
        }
        d.main_surface.redraw = false;
    }
    for (const OverlayDecl& decl : *d.overlay_cache) {
        auto it = d.overlay_surfaces.find(decl.id);
        if (it == d.overlay_surfaces.end() || !drawable(it->second)) continue;
        SurfaceState& st = it->second;
        bool window = st.role.kind() == SurfaceRole::Window;
        // Popups and layer surfaces float over other content: they clear to
        // transparent. Window overlays get the page background.
        Color bg = window ? page : Color{0, 0, 0, 0};
        OverlayId id = decl.id;
        // Window overlays ask for frame callbacks too: a frame leaves the
        // surface waiting for one, and without it the overlay would never
        // be drawn again.
        std::function<void()> request = [&d, id] { d.request_frame(SurfaceKey::overlay(id)); };
        FrameInputs in{&decl.element, bg, decl.input_region, d.debug_layout, format, swap, d.compositor, request};
        in.egl = d.egl.get();
        if (draw_frame(st, in) != FrameKind::Skipped) {
            ++d.frames_presented;
            d.drop_reflected_edits(SurfaceKey::overlay(id));
        }
        st.redraw = false;
    }
}

}  // namespace zem
