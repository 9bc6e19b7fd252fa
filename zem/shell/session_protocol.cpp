// The client side of xdg_session_management_v1, tied to the session store.

#include <zem/shell/session.hpp>
#include <zem/shell/app_data.hpp>

#include <wayland-client.h>
#include <xdg-session-management-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <cstdio>
#include <cstring>

namespace zem {

namespace {

void on_created(void* data, xdg_session_v1*, const char* id) {
    auto* st = static_cast<SessionState*>(data);
    if (st->store && !st->persistence_off) st->store->set_session_id(id ? id : "");
}

void on_restored(void*, xdg_session_v1*) {}

void on_replaced(void* data, xdg_session_v1*) { session_replaced(*static_cast<SessionState*>(data)); }

const xdg_session_v1_listener kSessionListener = {on_created, on_restored, on_replaced};

void on_toplevel_restored(void*, xdg_toplevel_session_v1*) {}

const xdg_toplevel_session_v1_listener kToplevelSessionListener = {on_toplevel_restored};

}  // namespace

void bind_session_manager(SessionState& state, const std::vector<Global>& globals, wl_registry* registry) {
    if (!state.store) return;
    const Global* global = nullptr;
    for (const Global& g : globals)
        if (g.interface == xdg_session_manager_v1_interface.name) {
            global = &g;
            break;
        }
    if (global == nullptr) return;
    auto* manager = static_cast<xdg_session_manager_v1*>(
        wl_registry_bind(registry, global->name, &xdg_session_manager_v1_interface, 1));
    if (manager == nullptr) return;
    const std::optional<std::string>& stored = state.store->session_id;
    // A Wayland string ends at its first NUL and cannot carry one: such an
    // id is sent as none, and the compositor gives us a new one.
    const char* id = nullptr;
    if (stored && stored->find('\0') == std::string::npos) id = stored->c_str();
    uint32_t reason = static_cast<uint32_t>(state.restore_mode) + 1;
    state.session = xdg_session_manager_v1_get_session(manager, reason, id);
    xdg_session_v1_add_listener(state.session, &kSessionListener, &state);
    // The manager is not needed again; its destroy request stays unsent.
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager));
}

void restore_main_toplevel(SessionState& state, xdg_toplevel* toplevel) {
    if (state.session == nullptr || toplevel == nullptr) return;
    state.toplevel_session = xdg_session_v1_restore_toplevel(state.session, toplevel, "main");
    xdg_toplevel_session_v1_add_listener(state.toplevel_session, &kToplevelSessionListener, &state);
}

void session_replaced(SessionState& state) {
    std::fprintf(stderr, "zem: session taken over by another instance; this one stops persisting state\n");
    if (state.toplevel_session) {
        xdg_toplevel_session_v1_destroy(state.toplevel_session);
        state.toplevel_session = nullptr;
    }
    if (state.session) {
        xdg_session_v1_destroy(state.session);
        state.session = nullptr;
    }
    state.persistence_off = true;
    state.store.reset();
}

}  // namespace zem
