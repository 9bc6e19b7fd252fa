#include "support/virtual_pointer.hpp"

#include <wayland-client.h>
#include <wlr-virtual-pointer-unstable-v1-client-protocol.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

namespace zem::test {

namespace {

struct Output {
    wl_output* output = nullptr;
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0;  // current mode, output pixels
    int32_t scale = 1;
    int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
};

uint32_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

}  // namespace

struct VirtualPointer::Wayland {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
    zwlr_virtual_pointer_v1* pointer = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;

    ~Wayland() {
        if (pointer) zwlr_virtual_pointer_v1_destroy(pointer);
        if (manager) zwlr_virtual_pointer_manager_v1_destroy(manager);
        for (auto& o : outputs) wl_output_destroy(o->output);
        if (seat) wl_seat_destroy(seat);
        if (registry) wl_registry_destroy(registry);
        if (display) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }
};

namespace {

void output_geometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*, const char*,
                     int32_t transform) {
    auto* o = static_cast<Output*>(data);
    o->x = x;
    o->y = y;
    o->transform = transform;
}
void output_mode(void* data, wl_output*, uint32_t flags, int32_t w, int32_t h, int32_t) {
    auto* o = static_cast<Output*>(data);
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        o->width = w;
        o->height = h;
    }
}
void output_done(void*, wl_output*) {}
void output_scale(void* data, wl_output*, int32_t factor) { static_cast<Output*>(data)->scale = std::max(factor, 1); }
void output_text(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {output_geometry, output_mode, output_done, output_scale, output_text,
                                            output_text};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* w = static_cast<VirtualPointer::Wayland*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !w->seat) {
        w->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        w->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto o = std::make_unique<Output>();
        o->output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, std::min<uint32_t>(version, 2)));
        wl_output_add_listener(o->output, &kOutputListener, o.get());
        w->outputs.push_back(std::move(o));
    }
}
void global_remove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {global, global_remove};

}  // namespace

std::expected<std::unique_ptr<VirtualPointer>, std::string> VirtualPointer::connect(const std::string& display) {
    auto vp = std::unique_ptr<VirtualPointer>(new VirtualPointer());
    vp->wl_ = std::make_unique<Wayland>();
    Wayland& w = *vp->wl_;
    w.display = wl_display_connect(display.empty() ? nullptr : display.c_str());
    if (!w.display)
        return std::unexpected("cannot connect to the Wayland display " + (display.empty() ? "(from the environment)" : display) +
                               ": " + std::strerror(errno));
    w.registry = wl_display_get_registry(w.display);
    wl_registry_add_listener(w.registry, &kRegistryListener, &w);
    // Globals, then the outputs' descriptions.
    if (wl_display_roundtrip(w.display) < 0 || wl_display_roundtrip(w.display) < 0)
        return std::unexpected("the compositor closed the connection while announcing its globals");
    if (!w.manager) return std::unexpected("the compositor offers no zwlr_virtual_pointer_manager_v1");
    uint32_t right = 0, bottom = 0;
    for (auto& o : w.outputs) {
        bool turned = o->transform % 2 == 1;  // 90 and 270, flipped or not
        int32_t lw = (turned ? o->height : o->width) / o->scale, lh = (turned ? o->width : o->height) / o->scale;
        right = std::max(right, uint32_t(std::max(o->x + lw, 0)));
        bottom = std::max(bottom, uint32_t(std::max(o->y + lh, 0)));
    }
    vp->extent_ = {right, bottom};
    w.pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(w.manager, w.seat);
    if (!vp->settle()) return std::unexpected(vp->error_);
    return vp;
}

VirtualPointer::~VirtualPointer() = default;

bool VirtualPointer::settle() {
    if (wl_display_roundtrip(wl_->display) >= 0) return true;
    int code = wl_display_get_error(wl_->display);
    const wl_interface* iface = nullptr;
    uint32_t id = 0;
    uint32_t proto = wl_display_get_protocol_error(wl_->display, &iface, &id);
    error_ = iface ? std::string("protocol error ") + std::to_string(proto) + " on " + iface->name
                   : std::string("connection lost: ") + std::strerror(code);
    return false;
}

bool VirtualPointer::move_to(double x, double y) {
    if (extent_.first == 0 || extent_.second == 0) {
        error_ = "no output to place the pointer on";
        return false;
    }
    auto clamp = [](double v, uint32_t extent) { return uint32_t(std::clamp(std::lround(v), 0L, long(extent))); };
    zwlr_virtual_pointer_v1_motion_absolute(wl_->pointer, now_ms(), clamp(x, extent_.first), clamp(y, extent_.second),
                                            extent_.first, extent_.second);
    zwlr_virtual_pointer_v1_frame(wl_->pointer);
    return settle();
}

bool VirtualPointer::move_by(double dx, double dy) {
    zwlr_virtual_pointer_v1_motion(wl_->pointer, now_ms(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    zwlr_virtual_pointer_v1_frame(wl_->pointer);
    return settle();
}

bool VirtualPointer::button(uint32_t code, bool pressed) {
    zwlr_virtual_pointer_v1_button(wl_->pointer, now_ms(), code,
                                   pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(wl_->pointer);
    return settle();
}

bool VirtualPointer::scroll(double dx, double dy, AxisSource source) {
    uint32_t t = now_ms();
    zwlr_virtual_pointer_v1_axis_source(wl_->pointer, uint32_t(source));
    if (dy != 0) zwlr_virtual_pointer_v1_axis(wl_->pointer, t, WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_double(dy));
    if (dx != 0)
        zwlr_virtual_pointer_v1_axis(wl_->pointer, t, WL_POINTER_AXIS_HORIZONTAL_SCROLL, wl_fixed_from_double(dx));
    zwlr_virtual_pointer_v1_frame(wl_->pointer);
    if (source == AxisSource::Finger) {
        zwlr_virtual_pointer_v1_axis_source(wl_->pointer, uint32_t(source));
        if (dy != 0) zwlr_virtual_pointer_v1_axis_stop(wl_->pointer, t, WL_POINTER_AXIS_VERTICAL_SCROLL);
        if (dx != 0) zwlr_virtual_pointer_v1_axis_stop(wl_->pointer, t, WL_POINTER_AXIS_HORIZONTAL_SCROLL);
        zwlr_virtual_pointer_v1_frame(wl_->pointer);
    }
    return settle();
}

bool VirtualPointer::click(double x, double y, uint32_t code) {
    return move_to(x, y) && button(code, true) && button(code, false);
}

bool VirtualPointer::drag(double x1, double y1, double x2, double y2, int steps) {
    steps = std::max(steps, 1);
    if (!move_to(x1, y1) || !button(0x110, true)) return false;
    for (int i = 1; i <= steps; ++i) {
        double f = double(i) / steps;
        if (!move_to(x1 + (x2 - x1) * f, y1 + (y2 - y1) * f)) return false;
    }
    return button(0x110, false);
}

bool VirtualPointer::scroll_at(double x, double y, double dy, AxisSource source) {
    return move_to(x, y) && scroll(0, dy, source);
}

}  // namespace zem::test
