#include "support/input_method.hpp"

#include "input-method-unstable-v2-client-protocol.h"

#include <wayland-client.h>

#include <cstring>

namespace zem::test {

void InputMethod::on_global(void* p, wl_registry* reg, std::uint32_t name, const char* iface, std::uint32_t version) {
    auto* self = static_cast<InputMethod*>(p);
    if (std::strcmp(iface, wl_seat_interface.name) == 0 && self->seat_ == nullptr)
        self->seat_ = static_cast<wl_seat*>(wl_registry_bind(reg, name, &wl_seat_interface, 1));
    else if (std::strcmp(iface, zwp_input_method_manager_v2_interface.name) == 0 && self->manager_ == nullptr)
        self->manager_ = static_cast<zwp_input_method_manager_v2*>(
            wl_registry_bind(reg, name, &zwp_input_method_manager_v2_interface, 1));
    (void)version;
}
void InputMethod::on_global_remove(void*, wl_registry*, std::uint32_t) {}

// Events are double-buffered: they change `pending_`, which `done` makes
// current. `activate` starts a fresh state.
void InputMethod::on_activate(void* p, zwp_input_method_v2*) {
    auto* self = static_cast<InputMethod*>(p);
    self->pending_ = State{};
    self->pending_.active = true;
}
void InputMethod::on_deactivate(void* p, zwp_input_method_v2*) { static_cast<InputMethod*>(p)->pending_.active = false; }
void InputMethod::on_surrounding_text(void* p, zwp_input_method_v2*, const char* text, std::uint32_t cursor,
                                      std::uint32_t anchor) {
    auto* self = static_cast<InputMethod*>(p);
    self->pending_.surrounding = text != nullptr ? text : "";
    self->pending_.cursor = cursor;
    self->pending_.anchor = anchor;
}
void InputMethod::on_text_change_cause(void*, zwp_input_method_v2*, std::uint32_t) {}
void InputMethod::on_content_type(void* p, zwp_input_method_v2*, std::uint32_t hint, std::uint32_t purpose) {
    auto* self = static_cast<InputMethod*>(p);
    self->pending_.hint = hint;
    self->pending_.purpose = purpose;
}
void InputMethod::on_done(void* p, zwp_input_method_v2*) {
    auto* self = static_cast<InputMethod*>(p);
    self->current_ = self->pending_;
    ++self->done_count_;
}
void InputMethod::on_unavailable(void* p, zwp_input_method_v2*) { static_cast<InputMethod*>(p)->unavailable_ = true; }

std::expected<std::unique_ptr<InputMethod>, std::string> InputMethod::connect(const std::string& display) {
    std::unique_ptr<InputMethod> im(new InputMethod);
    im->display_ = wl_display_connect(display.c_str());
    if (im->display_ == nullptr) return std::unexpected("cannot connect to " + display);
    static const wl_registry_listener registry_listener = {on_global, on_global_remove};
    im->registry_ = wl_display_get_registry(im->display_);
    wl_registry_add_listener(im->registry_, &registry_listener, im.get());
    if (wl_display_roundtrip(im->display_) < 0) return std::unexpected("the compositor went away");
    if (im->seat_ == nullptr) return std::unexpected("the compositor offers no seat");
    if (im->manager_ == nullptr) return std::unexpected("the compositor offers no zwp_input_method_manager_v2");
    static const zwp_input_method_v2_listener listener = {on_activate,     on_deactivate, on_surrounding_text,
                                                          on_text_change_cause, on_content_type, on_done,
                                                          on_unavailable};
    im->im_ = zwp_input_method_manager_v2_get_input_method(im->manager_, im->seat_);
    zwp_input_method_v2_add_listener(im->im_, &listener, im.get());
    if (wl_display_roundtrip(im->display_) < 0) return std::unexpected("the compositor went away");
    if (im->unavailable_) return std::unexpected("another input method serves the seat");
    return im;
}

InputMethod::~InputMethod() {
    if (im_ != nullptr) zwp_input_method_v2_destroy(im_);
    if (manager_ != nullptr) zwp_input_method_manager_v2_destroy(manager_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    if (display_ != nullptr) {
        wl_display_roundtrip(display_);
        wl_display_disconnect(display_);
    }
}

bool InputMethod::pump() { return display_ != nullptr && wl_display_roundtrip(display_) >= 0; }

void InputMethod::send(const Edit& e) {
    if (e.delete_before != 0 || e.delete_after != 0)
        zwp_input_method_v2_delete_surrounding_text(im_, e.delete_before, e.delete_after);
    if (e.commit) zwp_input_method_v2_commit_string(im_, e.commit->c_str());
    if (e.preedit)
        zwp_input_method_v2_set_preedit_string(im_, e.preedit->c_str(), e.preedit_cursor_begin, e.preedit_cursor_end);
    zwp_input_method_v2_commit(im_, done_count_);
    wl_display_flush(display_);
}

}  // namespace zem::test
