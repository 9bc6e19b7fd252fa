#pragma once
// Listener set-up shared by start-up and the overlay code.

#include <zem/shell/app_data.hpp>

namespace zem {

void attach_surface_listener(AppData& d, wl_surface* s);
void attach_window_listeners(AppData& d, WindowRole& w);
void attach_popup_listeners(AppData& d, PopupRole& p);
void attach_layer_listeners(AppData& d, LayerRole& l);

// The version a proxy was bound or created with.
uint32_t proxy_version(const void* proxy);

void add_output(AppData& d, uint32_t name, uint32_t version);
void add_seat(AppData& d, uint32_t name, uint32_t version);
void listen_shm(AppData& d);
void listen_wm_base(AppData& d);
void listen_foreign_toplevels(AppData& d);

// Recomputes the buffer scale of every surface from the outputs it is on.
void refresh_surface_scales(AppData& d);

}  // namespace zem
