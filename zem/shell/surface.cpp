#include <zem/shell/surface.hpp>

#include <zem/shell/app_data.hpp>

#include <wayland-client.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-decoration-unstable-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

namespace zem {

SurfaceRole& SurfaceRole::operator=(SurfaceRole&& o) noexcept {
    if (this != &o) {
        destroy();
        v_ = std::move(o.v_);
        o.v_ = PendingLayerRole{};
    }
    return *this;
}

wl_surface* SurfaceRole::wl_surface_ptr() const {
    switch (v_.index()) {
        case Window: return std::get<WindowRole>(v_).surface;
        case Popup: return std::get<PopupRole>(v_).surface;
        case Layer: return std::get<LayerRole>(v_).surface;
        default: return nullptr;
    }
}

void SurfaceRole::destroy() {
    if (auto* w = std::get_if<WindowRole>(&v_)) {
        if (w->decoration) zxdg_toplevel_decoration_v1_destroy(w->decoration);
        if (w->toplevel) xdg_toplevel_destroy(w->toplevel);
        if (w->xdg) xdg_surface_destroy(w->xdg);
        if (w->surface) wl_surface_destroy(w->surface);
    } else if (auto* p = std::get_if<PopupRole>(&v_)) {
        if (p->popup) xdg_popup_destroy(p->popup);
        if (p->xdg) xdg_surface_destroy(p->xdg);
        if (p->surface) wl_surface_destroy(p->surface);
    } else if (auto* l = std::get_if<LayerRole>(&v_)) {
        if (l->layer) zwlr_layer_surface_v1_destroy(l->layer);
        if (l->surface) wl_surface_destroy(l->surface);
    }
    v_ = PendingLayerRole{};
}

namespace {
struct FrameTag {
    AppData* d;
    SurfaceKey key;
    FrameCallback* owner;
};

void frame_done(void* data, wl_callback* cb, uint32_t) {
    auto* tag = static_cast<FrameTag*>(data);
    AppData* d = tag->d;
    SurfaceKey key = tag->key;
    tag->owner->forget();
    wl_callback_destroy(cb);
    delete tag;
    on_frame_done(*d, key);
}

const wl_callback_listener kFrameListener = {frame_done};
}  // namespace

FrameCallback& FrameCallback::operator=(FrameCallback&& o) noexcept {
    if (this != &o) {
        reset();
        cb_ = o.cb_;
        tag_ = o.tag_;
        o.cb_ = nullptr;
        o.tag_ = nullptr;
        if (tag_) static_cast<FrameTag*>(tag_)->owner = this;
    }
    return *this;
}

void FrameCallback::request(wl_surface* surface, AppData* d, SurfaceKey key) {
    reset();
    auto* tag = new FrameTag{d, key, this};
    cb_ = wl_surface_frame(surface);
    tag_ = tag;
    wl_callback_add_listener(cb_, &kFrameListener, tag);
}

void FrameCallback::reset() {
    if (cb_) wl_callback_destroy(cb_);
    delete static_cast<FrameTag*>(tag_);
    cb_ = nullptr;
    tag_ = nullptr;
}

SurfaceState create_surface_state(SurfaceRole role, std::string title, float top_inset) {
    SurfaceState s;
    s.role = std::move(role);
    s.title = std::move(title);
    s.top_inset = top_inset;
    s.top_inset_restore = top_inset;
    s.relayout = true;
    return s;
}

}  // namespace zem
