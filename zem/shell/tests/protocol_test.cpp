// Our own protocol XMLs against the wire shapes compositors speak: opcode
// order, signatures and versions of the generated interface tables.
#include <cursor-shape-v1-client-protocol.h>
#include <ext-foreign-toplevel-list-v1-client-protocol.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-session-management-v1-client-protocol.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Message {
    const wl_interface* iface;
    bool event;
    int opcode;
    const char* name;
    const char* signature;  // as libwayland stores it, version prefix included
};

TEST(ProtocolTables, OpcodesAndSignaturesMatchTheWire) {
    const std::vector<Message> cases = {
        {&xdg_session_manager_v1_interface, false, 0, "destroy", ""},
        {&xdg_session_manager_v1_interface, false, 1, "get_session", "nu?s"},
        {&xdg_session_v1_interface, false, 0, "destroy", ""},
        {&xdg_session_v1_interface, false, 1, "remove", ""},
        {&xdg_session_v1_interface, false, 2, "add_toplevel", "nos"},
        {&xdg_session_v1_interface, false, 3, "restore_toplevel", "nos"},
        {&xdg_session_v1_interface, false, 4, "remove_toplevel", "s"},
        {&xdg_session_v1_interface, true, 0, "created", "s"},
        {&xdg_session_v1_interface, true, 1, "restored", ""},
        {&xdg_session_v1_interface, true, 2, "replaced", ""},
        {&xdg_toplevel_session_v1_interface, false, 0, "destroy", ""},
        {&xdg_toplevel_session_v1_interface, false, 1, "rename", "s"},
        {&xdg_toplevel_session_v1_interface, true, 0, "restored", ""},
        {&zwlr_layer_shell_v1_interface, false, 0, "get_layer_surface", "no?ous"},
        {&zwlr_layer_shell_v1_interface, false, 1, "destroy", "3"},
        {&zwlr_layer_surface_v1_interface, false, 0, "set_size", "uu"},
        {&zwlr_layer_surface_v1_interface, false, 1, "set_anchor", "u"},
        {&zwlr_layer_surface_v1_interface, false, 2, "set_exclusive_zone", "i"},
        {&zwlr_layer_surface_v1_interface, false, 3, "set_margin", "iiii"},
        {&zwlr_layer_surface_v1_interface, false, 4, "set_keyboard_interactivity", "u"},
        {&zwlr_layer_surface_v1_interface, false, 5, "get_popup", "o"},
        {&zwlr_layer_surface_v1_interface, false, 6, "ack_configure", "u"},
        {&zwlr_layer_surface_v1_interface, false, 7, "destroy", ""},
        {&zwlr_layer_surface_v1_interface, false, 8, "set_layer", "2u"},
        {&zwlr_layer_surface_v1_interface, true, 0, "configure", "uuu"},
        {&zwlr_layer_surface_v1_interface, true, 1, "closed", ""},
        {&wp_cursor_shape_manager_v1_interface, false, 1, "get_pointer", "no"},
        {&wp_cursor_shape_device_v1_interface, false, 1, "set_shape", "uu"},
        {&ext_foreign_toplevel_list_v1_interface, true, 0, "toplevel", "n"},
        {&ext_foreign_toplevel_list_v1_interface, false, 0, "stop", ""},
        {&ext_foreign_toplevel_handle_v1_interface, true, 3, "app_id", "s"},
        {&ext_foreign_toplevel_handle_v1_interface, true, 4, "identifier", "s"},
    };
    for (const Message& m : cases) {
        int count = m.event ? m.iface->event_count : m.iface->method_count;
        ASSERT_LT(m.opcode, count) << m.iface->name << " " << m.name;
        const wl_message& msg = (m.event ? m.iface->events : m.iface->methods)[m.opcode];
        EXPECT_STREQ(msg.name, m.name) << m.iface->name << " opcode " << m.opcode;
        EXPECT_STREQ(msg.signature, m.signature) << m.iface->name << "." << m.name;
    }
}

TEST(ProtocolTables, VersionsAreTheOnesWeBindAtMost) {
    const std::vector<std::pair<const wl_interface*, int>> cases = {
        {&zwlr_layer_shell_v1_interface, 4},          {&zwlr_layer_surface_v1_interface, 4},
        {&wp_cursor_shape_manager_v1_interface, 1},   {&ext_foreign_toplevel_list_v1_interface, 1},
        {&xdg_session_manager_v1_interface, 1},       {&xdg_session_v1_interface, 1},
    };
    for (auto [iface, version] : cases) EXPECT_EQ(iface->version, version) << iface->name;
    // The on-demand keyboard mode arrived with layer shell 4 and is 2 on the wire.
    EXPECT_EQ(ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND, 2);
    EXPECT_EQ(ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND_SINCE_VERSION, 4);
    // "34 before the first shape": zoom-out, the last shape of version 1.
    EXPECT_EQ(WP_CURSOR_SHAPE_DEVICE_V1_SHAPE_ZOOM_OUT, 34);
}

}  // namespace
