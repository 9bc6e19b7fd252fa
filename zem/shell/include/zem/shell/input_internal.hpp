#pragma once
// What the seat, keyboard and surface listeners share, and what tests
// check of them.

#include <zem/shell/app_data.hpp>

#include <cstddef>
#include <string>
#include <vector>

struct wl_interface;

namespace zem {

// One listener the toolkit installs: how many slots it has and how many of
// them hold a handler. libwayland calls every event of the bound version
// through its slot, so each must be there and filled.
struct ListenerSlots {
    std::string name;
    const wl_interface* interface = nullptr;
    std::size_t slots = 0;
    std::size_t filled = 0;
};

template <class Listener>
ListenerSlots listener_slots(std::string name, const wl_interface* iface, const Listener& l) {
    using Slot = void (*)();
    static_assert(sizeof(Listener) % sizeof(Slot) == 0);
    ListenerSlots out{std::move(name), iface, sizeof(Listener) / sizeof(Slot), 0};
    const Slot* slots = reinterpret_cast<const Slot*>(&l);
    for (std::size_t i = 0; i < out.slots; ++i)
        if (slots[i] != nullptr) ++out.filled;
    return out;
}

// Every listener of the shell.
std::vector<ListenerSlots> listener_table();
std::vector<ListenerSlots> input_listener_table();
std::vector<ListenerSlots> keyboard_listener_table();

void attach_keyboard_listener(AppData& d, wl_keyboard* k);

// The pointer moved to `d.pointer_position` on surface `key`: hover, tooltip,
// drag start, the gesture in progress, the cursor shape.
void pointer_moved(AppData& d, SurfaceKey key);

// The primary press (left button or first finger), its moves and its
// release at (x, y) in buffer pixels on surface `key`: the recogniser, the
// press follow-up (auto-repeat, caret, double click), selection dragging in
// a field, and the outcomes applied. The pointer and touch listeners call
// these.
void input_press(AppData& d, SurfaceKey key, float x, float y, bool pointer);
void input_move(AppData& d, SurfaceKey key, float x, float y);
void input_release(AppData& d, SurfaceKey key, float x, float y);

// The logical size a window overlay is configured with: the compositor's
// when it names one, else the declared size (already logical), with
// 480 × 320 for a size left at 0.
std::pair<uint32_t, uint32_t> window_overlay_size(int32_t pending_w, int32_t pending_h, uint32_t declared_w,
                                                  uint32_t declared_h);

// SipHash-1-3 with a zero key: the tooltip overlay's id is the low half of
// the hash of "zem-tooltip" followed by 0xFF.
uint64_t siphash13(const unsigned char* bytes, std::size_t n);
OverlayId tooltip_overlay_id();

}  // namespace zem
