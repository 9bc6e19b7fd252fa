#include <zem/access/atspi_bridge.hpp>

#include <zem/access/atspi_model.hpp>

#include <systemd/sd-bus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace zem::access {
namespace {

constexpr const char* accessible_prefix = "/org/a11y/atspi/accessible";
constexpr const char* root_path = "/org/a11y/atspi/accessible/root";
constexpr const char* null_path = "/org/a11y/atspi/null";
constexpr std::uint64_t app_node = 0;  // the application object at root_path
// Calls of our own (address, embedding) wait this long at most, so that a
// stuck bus cannot hold up the application's exit for long.
constexpr std::uint64_t call_timeout_usec = 5'000'000;

std::string path_of(NodeId id) { return std::string(accessible_prefix) + "/" + std::to_string(id); }

// The node a path names: app_node for the application root.
std::optional<NodeId> node_of(const char* path) {
    if (path == nullptr) return std::nullopt;
    if (std::strcmp(path, root_path) == 0) return app_node;
    std::size_t prefix = std::strlen(accessible_prefix);
    if (std::strncmp(path, accessible_prefix, prefix) != 0 || path[prefix] != '/') return std::nullopt;
    const char* s = path + prefix + 1;
    NodeId id = 0;
    auto [end, ec] = std::from_chars(s, s + std::strlen(s), id);
    if (ec != std::errc{} || *end != '\0') return std::nullopt;
    return id;
}

std::uint64_t now_usec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
}

}  // namespace

struct AtspiBridge::Impl {
    Adapter& adapter;
    std::string app_id;
    std::string version;
    int wake_fd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;

    sd_bus* session = nullptr;
    sd_bus* a11y = nullptr;
    std::vector<sd_bus_slot*> slots;
    std::string unique_name;
    std::string parent_name, parent_path;
    std::int32_t application_id = 0;
    bool enabled = false, screen_reader = false;
    std::uint64_t generation = ~std::uint64_t{0};
    atspi::Index index;

    Impl(Adapter& a, std::string id, std::string v) : adapter(a), app_id(std::move(id)), version(std::move(v)) {
        index = atspi::Index::of(std::make_shared<const TreeUpdate>(initial_tree()), 0, 0, false);
    }

    void run();
    void update_status();
    bool connect();
    void disconnect();
    void refresh_index();
    void emit(const atspi::Event& e);

    std::pair<std::string, std::string> ref(NodeId id) const {
        if (id == app_node) return {unique_name, root_path};
        return {unique_name, path_of(id)};
    }
    std::pair<std::string, std::string> parent_ref(NodeId id) const {
        if (id == app_node) return {parent_name, parent_path};
        if (id == window_node_id) return ref(app_node);
        auto it = index.parent.find(id);
        return it == index.parent.end() ? ref(app_node) : ref(it->second);
    }
    void queue(A11yAction action, NodeId target, std::optional<std::string> text = {},
               std::optional<double> number = {}) {
        adapter.request(ActionRequest{action, target, std::move(text), number});
    }
};

namespace {

using Impl = AtspiBridge::Impl;

Impl& I(void* ud) { return *static_cast<Impl*>(ud); }

std::optional<NodeId> target(sd_bus_message* m) { return node_of(sd_bus_message_get_path(m)); }

int unknown(sd_bus_error* e) {
    return sd_bus_error_set(e, "org.freedesktop.DBus.Error.UnknownObject", "the node is gone");
}

// Looks the node up in the tree at hand; the application object is found
// only for the interfaces it answers.
int find(sd_bus*, const char* path, const char* iface, void* ud, void** found, sd_bus_error*) {
    Impl& b = I(ud);
    auto id = node_of(path);
    if (!id) return 0;
    std::string_view i = iface;
    if (*id == app_node) {
        if (i != "org.a11y.atspi.Accessible" && i != "org.a11y.atspi.Application") return 0;
    } else {
        if (i == "org.a11y.atspi.Application") return 0;
        if (i != "org.a11y.atspi.Accessible") {
            auto list = b.index.interfaces(*id);
            if (!b.index.node(*id) || std::find(list.begin(), list.end(), iface) == list.end()) return 0;
        }
    }
    *found = ud;
    return 1;
}

const Node* node_for(Impl& b, const char* path) {
    auto id = node_of(path);
    return id ? b.index.node(*id) : nullptr;
}

// --- Accessible ---

int p_name(sd_bus*, const char* path, const char*, const char*, sd_bus_message* r, void* ud, sd_bus_error*) {
    Impl& b = I(ud);
    auto id = node_of(path);
    if (id && *id == app_node) return sd_bus_message_append(r, "s", b.app_id.c_str());
    const Node* n = node_for(b, path);
    return sd_bus_message_append(r, "s", n && n->label ? n->label->c_str() : "");
}
int p_empty(sd_bus*, const char*, const char*, const char*, sd_bus_message* r, void*, sd_bus_error*) {
    return sd_bus_message_append(r, "s", "");
}
int p_parent(sd_bus*, const char* path, const char*, const char*, sd_bus_message* r, void* ud, sd_bus_error*) {
    auto [name, p] = I(ud).parent_ref(node_of(path).value_or(app_node));
    return sd_bus_message_append(r, "(so)", name.c_str(), p.c_str());
}
std::vector<NodeId> children_of(Impl& b, NodeId id) {
    if (id == app_node) return {window_node_id};
    return b.index.children(id);
}
int p_child_count(sd_bus*, const char* path, const char*, const char*, sd_bus_message* r, void* ud, sd_bus_error*) {
    return sd_bus_message_append(r, "i", std::int32_t(children_of(I(ud), node_of(path).value_or(app_node)).size()));
}
int m_child_at(sd_bus_message* m, void* ud, sd_bus_error* e) {
    Impl& b = I(ud);
    std::int32_t i = 0;
    if (int r = sd_bus_message_read(m, "i", &i); r < 0) return r;
    auto id = target(m);
    if (!id) return unknown(e);
    auto c = children_of(b, *id);
    if (i < 0 || std::size_t(i) >= c.size()) return sd_bus_reply_method_return(m, "(so)", b.unique_name.c_str(), null_path);
    auto [name, p] = b.ref(c[i]);
    return sd_bus_reply_method_return(m, "(so)", name.c_str(), p.c_str());
}
int m_children(sd_bus_message* m, void* ud, sd_bus_error* e) {
    Impl& b = I(ud);
    auto id = target(m);
    if (!id) return unknown(e);
    sd_bus_message* r = nullptr;
    if (int k = sd_bus_message_new_method_return(m, &r); k < 0) return k;
    sd_bus_message_open_container(r, 'a', "(so)");
    for (NodeId c : children_of(b, *id)) {
        auto [name, p] = b.ref(c);
        sd_bus_message_append(r, "(so)", name.c_str(), p.c_str());
    }
    sd_bus_message_close_container(r);
    int k = sd_bus_send(nullptr, r, nullptr);
    sd_bus_message_unref(r);
    return k;
}
int m_index_in_parent(sd_bus_message* m, void* ud, sd_bus_error*) {
    Impl& b = I(ud);
    auto id = target(m).value_or(app_node);
    if (id == app_node || id == window_node_id) return sd_bus_reply_method_return(m, "i", id == app_node ? -1 : 0);
    auto p = b.index.parent.find(id);
    if (p == b.index.parent.end()) return sd_bus_reply_method_return(m, "i", -1);
    auto c = b.index.children(p->second);
    auto at = std::find(c.begin(), c.end(), id);
    return sd_bus_reply_method_return(m, "i", at == c.end() ? -1 : std::int32_t(at - c.begin()));
}
int m_relations(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "a(ua(so))", 0); }
// A node that drew text says where, as "text-bounds" = "x,y,width,height"
// in window pixels: a client can tell a label cut off or running out of its
// control without reading pixels.
int m_attributes(sd_bus_message* m, void* ud, sd_bus_error*) {
    const Node* n = I(ud).index.node(target(m).value_or(app_node));
    if (!n || !n->text_bounds) return sd_bus_reply_method_return(m, "a{ss}", 0);
    const Bounds& b = *n->text_bounds;
    char text[96];
    std::snprintf(text, sizeof text, "%.1f,%.1f,%.1f,%.1f", b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0);
    return sd_bus_reply_method_return(m, "a{ss}", 1, "text-bounds", text);
}
int m_role(sd_bus_message* m, void* ud, sd_bus_error*) {
    auto id = target(m).value_or(app_node);
    if (id == app_node) return sd_bus_reply_method_return(m, "u", 75u);
    const Node* n = I(ud).index.node(id);
    return sd_bus_reply_method_return(m, "u", n ? atspi::role_number(n->role) : 0u);
}
int m_role_name(sd_bus_message* m, void* ud, sd_bus_error*) {
    auto id = target(m).value_or(app_node);
    if (id == app_node) return sd_bus_reply_method_return(m, "s", "application");
    const Node* n = I(ud).index.node(id);
    return sd_bus_reply_method_return(m, "s", n ? std::string(atspi::role_name(n->role)).c_str() : "unknown");
}
int m_state(sd_bus_message* m, void* ud, sd_bus_error*) {
    auto id = target(m).value_or(app_node);
    if (id == app_node) return sd_bus_reply_method_return(m, "au", 2, 0u, 0u);
    auto w = I(ud).index.states(id);
    return sd_bus_reply_method_return(m, "au", 2, w[0], w[1]);
}
int m_application(sd_bus_message* m, void* ud, sd_bus_error*) {
    auto [name, p] = I(ud).ref(app_node);
    return sd_bus_reply_method_return(m, "(so)", name.c_str(), p.c_str());
}
int m_interfaces(sd_bus_message* m, void* ud, sd_bus_error*) {
    auto id = target(m).value_or(app_node);
    std::vector<std::string> list = id == app_node
                                        ? std::vector<std::string>{"org.a11y.atspi.Accessible",
                                                                   "org.a11y.atspi.Application"}
                                        : I(ud).index.interfaces(id);
    sd_bus_message* r = nullptr;
    if (int k = sd_bus_message_new_method_return(m, &r); k < 0) return k;
    sd_bus_message_open_container(r, 'a', "s");
    for (const std::string& s : list) sd_bus_message_append(r, "s", s.c_str());
    sd_bus_message_close_container(r);
    int k = sd_bus_send(nullptr, r, nullptr);
    sd_bus_message_unref(r);
    return k;
}

const sd_bus_vtable accessible_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Name", "s", p_name, 0, 0),
    SD_BUS_PROPERTY("Description", "s", p_empty, 0, 0),
    SD_BUS_PROPERTY("Parent", "(so)", p_parent, 0, 0),
    SD_BUS_PROPERTY("ChildCount", "i", p_child_count, 0, 0),
    SD_BUS_PROPERTY("Locale", "s", p_empty, 0, 0),
    SD_BUS_PROPERTY("AccessibleId", "s", p_empty, 0, 0),
    SD_BUS_METHOD("GetChildAtIndex", "i", "(so)", m_child_at, 0),
    SD_BUS_METHOD("GetChildren", "", "a(so)", m_children, 0),
    SD_BUS_METHOD("GetIndexInParent", "", "i", m_index_in_parent, 0),
    SD_BUS_METHOD("GetRelationSet", "", "a(ua(so))", m_relations, 0),
    SD_BUS_METHOD("GetRole", "", "u", m_role, 0),
    SD_BUS_METHOD("GetRoleName", "", "s", m_role_name, 0),
    SD_BUS_METHOD("GetLocalizedRoleName", "", "s", m_role_name, 0),
    SD_BUS_METHOD("GetState", "", "au", m_state, 0),
    SD_BUS_METHOD("GetAttributes", "", "a{ss}", m_attributes, 0),
    SD_BUS_METHOD("GetApplication", "", "(so)", m_application, 0),
    SD_BUS_METHOD("GetInterfaces", "", "as", m_interfaces, 0),
    SD_BUS_VTABLE_END};

// --- Application ---

int p_app_string(sd_bus*, const char*, const char*, const char* prop, sd_bus_message* r, void* ud, sd_bus_error*) {
    std::string_view p = prop;
    return sd_bus_message_append(r, "s", p == "ToolkitName" ? "zem" : p == "AtspiVersion" ? "2.1" : I(ud).version.c_str());
}
int p_app_id(sd_bus*, const char*, const char*, const char*, sd_bus_message* r, void* ud, sd_bus_error*) {
    return sd_bus_message_append(r, "i", I(ud).application_id);
}
int set_app_id(sd_bus*, const char*, const char*, const char*, sd_bus_message* v, void* ud, sd_bus_error*) {
    return sd_bus_message_read(v, "i", &I(ud).application_id);
}
int m_locale(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "s", ""); }

const sd_bus_vtable application_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("ToolkitName", "s", p_app_string, 0, 0),
    SD_BUS_PROPERTY("Version", "s", p_app_string, 0, 0),
    SD_BUS_PROPERTY("AtspiVersion", "s", p_app_string, 0, 0),
    SD_BUS_WRITABLE_PROPERTY("Id", "i", p_app_id, set_app_id, 0, 0),
    SD_BUS_METHOD("GetLocale", "u", "s", m_locale, 0),
    SD_BUS_VTABLE_END};

// --- Component ---

// Screen and window coordinates are both window-relative: Wayland tells no
// client where its window is.
Bounds extents(Impl& b, NodeId id, std::uint32_t coord) {
    const Node* n = b.index.node(id);
    if (!n) return {};
    Bounds r = n->bounds;
    if (coord == 2) {
        auto p = b.index.parent.find(id);
        const Node* parent = p == b.index.parent.end() ? nullptr : b.index.node(p->second);
        if (parent) {
            r.x0 -= parent->bounds.x0;
            r.x1 -= parent->bounds.x0;
            r.y0 -= parent->bounds.y0;
            r.y1 -= parent->bounds.y0;
        }
    }
    return r;
}
bool contains(const Bounds& r, std::int32_t x, std::int32_t y) { return x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1; }

int m_contains(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::int32_t x = 0, y = 0;
    std::uint32_t coord = 0;
    if (int r = sd_bus_message_read(m, "iiu", &x, &y, &coord); r < 0) return r;
    return sd_bus_reply_method_return(m, "b", contains(extents(I(ud), target(m).value_or(0), coord), x, y));
}
int m_at_point(sd_bus_message* m, void* ud, sd_bus_error*) {
    Impl& b = I(ud);
    std::int32_t x = 0, y = 0;
    std::uint32_t coord = 0;
    if (int r = sd_bus_message_read(m, "iiu", &x, &y, &coord); r < 0) return r;
    NodeId at = target(m).value_or(0);
    bool found = false;
    for (bool deeper = true; deeper;) {
        deeper = false;
        for (NodeId c : b.index.children(at))
            if (const Node* n = b.index.node(c); n && contains(n->bounds, x, y)) {
                at = c;
                found = deeper = true;
                break;
            }
    }
    if (!found) return sd_bus_reply_method_return(m, "(so)", b.unique_name.c_str(), null_path);
    auto [name, p] = b.ref(at);
    return sd_bus_reply_method_return(m, "(so)", name.c_str(), p.c_str());
}
int m_extents(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::uint32_t coord = 0;
    if (int r = sd_bus_message_read(m, "u", &coord); r < 0) return r;
    Bounds r = extents(I(ud), target(m).value_or(0), coord);
    return sd_bus_reply_method_return(m, "(iiii)", std::int32_t(r.x0), std::int32_t(r.y0), std::int32_t(r.x1 - r.x0),
                                      std::int32_t(r.y1 - r.y0));
}
int m_position(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::uint32_t coord = 0;
    if (int r = sd_bus_message_read(m, "u", &coord); r < 0) return r;
    Bounds r = extents(I(ud), target(m).value_or(0), coord);
    return sd_bus_reply_method_return(m, "ii", std::int32_t(r.x0), std::int32_t(r.y0));
}
int m_size(sd_bus_message* m, void* ud, sd_bus_error*) {
    Bounds r = extents(I(ud), target(m).value_or(0), 1);
    return sd_bus_reply_method_return(m, "ii", std::int32_t(r.x1 - r.x0), std::int32_t(r.y1 - r.y0));
}
int m_layer(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "u", target(m).value_or(0) == window_node_id ? 7u : 3u);
}
int m_zorder(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "n", std::int16_t(0)); }
int m_grab_focus(sd_bus_message* m, void* ud, sd_bus_error*) {
    I(ud).queue(A11yAction::Focus, target(m).value_or(0));
    return sd_bus_reply_method_return(m, "b", 1);
}
int m_alpha(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "d", 1.0); }
int m_false(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "b", 0); }
int m_nothing(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, ""); }
int m_scroll_to(sd_bus_message* m, void* ud, sd_bus_error*) {
    I(ud).queue(A11yAction::ScrollIntoView, target(m).value_or(0));
    return sd_bus_reply_method_return(m, "b", 1);
}

const sd_bus_vtable component_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Contains", "iiu", "b", m_contains, 0),
    SD_BUS_METHOD("GetAccessibleAtPoint", "iiu", "(so)", m_at_point, 0),
    SD_BUS_METHOD("GetExtents", "u", "(iiii)", m_extents, 0),
    SD_BUS_METHOD("GetPosition", "u", "ii", m_position, 0),
    SD_BUS_METHOD("GetSize", "", "ii", m_size, 0),
    SD_BUS_METHOD("GetLayer", "", "u", m_layer, 0),
    SD_BUS_METHOD("GetMDIZOrder", "", "n", m_zorder, 0),
    SD_BUS_METHOD("GrabFocus", "", "b", m_grab_focus, 0),
    SD_BUS_METHOD("GetAlpha", "", "d", m_alpha, 0),
    SD_BUS_METHOD("SetExtents", "iiiiu", "b", m_false, 0),
    SD_BUS_METHOD("SetPosition", "iiu", "b", m_false, 0),
    SD_BUS_METHOD("SetSize", "ii", "b", m_false, 0),
    SD_BUS_METHOD("ScrollTo", "u", "b", m_scroll_to, 0),
    SD_BUS_METHOD("ScrollToPoint", "uii", "b", m_scroll_to, 0),
    SD_BUS_VTABLE_END};

// --- Action ---

std::vector<Action> actions_at(Impl& b, sd_bus_message* m) {
    const Node* n = b.index.node(target(m).value_or(0));
    return n ? atspi::listed_actions(*n) : std::vector<Action>{};
}
int p_nactions(sd_bus*, const char* path, const char*, const char*, sd_bus_message* r, void* ud, sd_bus_error*) {
    const Node* n = node_for(I(ud), path);
    return sd_bus_message_append(r, "i", n ? std::int32_t(atspi::listed_actions(*n).size()) : 0);
}
int m_action_name(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::int32_t i = 0;
    if (int r = sd_bus_message_read(m, "i", &i); r < 0) return r;
    auto list = actions_at(I(ud), m);
    std::string name = i >= 0 && std::size_t(i) < list.size() ? std::string(atspi::action_name(list[i])) : "";
    return sd_bus_reply_method_return(m, "s", name.c_str());
}
int m_action_empty(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "s", ""); }
int m_actions(sd_bus_message* m, void* ud, sd_bus_error*) {
    sd_bus_message* r = nullptr;
    if (int k = sd_bus_message_new_method_return(m, &r); k < 0) return k;
    sd_bus_message_open_container(r, 'a', "(sss)");
    for (Action a : actions_at(I(ud), m))
        sd_bus_message_append(r, "(sss)", std::string(atspi::action_name(a)).c_str(), "", "");
    sd_bus_message_close_container(r);
    int k = sd_bus_send(nullptr, r, nullptr);
    sd_bus_message_unref(r);
    return k;
}
int m_do_action(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::int32_t i = 0;
    if (int r = sd_bus_message_read(m, "i", &i); r < 0) return r;
    auto list = actions_at(I(ud), m);
    if (i < 0 || std::size_t(i) >= list.size()) return sd_bus_reply_method_return(m, "b", 0);
    A11yAction a = list[i] == Action::Click       ? A11yAction::Click
                   : list[i] == Action::Focus     ? A11yAction::Focus
                   : list[i] == Action::Decrement ? A11yAction::Decrement
                                                  : A11yAction::Increment;
    I(ud).queue(a, target(m).value_or(0));
    return sd_bus_reply_method_return(m, "b", 1);
}

const sd_bus_vtable action_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("NActions", "i", p_nactions, 0, 0),
    SD_BUS_METHOD("GetDescription", "i", "s", m_action_empty, 0),
    SD_BUS_METHOD("GetName", "i", "s", m_action_name, 0),
    SD_BUS_METHOD("GetLocalizedName", "i", "s", m_action_name, 0),
    SD_BUS_METHOD("GetKeyBinding", "i", "s", m_action_empty, 0),
    SD_BUS_METHOD("GetActions", "", "a(sss)", m_actions, 0),
    SD_BUS_METHOD("DoAction", "i", "b", m_do_action, 0),
    SD_BUS_VTABLE_END};

// --- Value ---

int p_value(sd_bus*, const char* path, const char*, const char* prop, sd_bus_message* r, void* ud, sd_bus_error*) {
    const Node* n = node_for(I(ud), path);
    std::string_view p = prop;
    double v = 0;
    if (n) {
        if (p == "MinimumValue") v = n->min_value.value_or(0);
        else if (p == "MaximumValue") v = n->max_value.value_or(0);
        else if (p == "MinimumIncrement") v = n->step.value_or(0);
        else v = n->numeric_value.value_or(0);
    }
    return sd_bus_message_append(r, "d", v);
}
int set_value(sd_bus*, const char* path, const char*, const char*, sd_bus_message* v, void* ud, sd_bus_error* e) {
    double x = 0;
    if (int r = sd_bus_message_read(v, "d", &x); r < 0) return r;
    const Node* n = node_for(I(ud), path);
    if (!n || n->role != Role::Slider)
        return sd_bus_error_set(e, "org.freedesktop.DBus.Error.PropertyReadOnly", "the value cannot be set");
    I(ud).queue(A11yAction::SetValue, node_of(path).value_or(0), std::nullopt, x);
    return 0;
}

const sd_bus_vtable value_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("MinimumValue", "d", p_value, 0, 0),
    SD_BUS_PROPERTY("MaximumValue", "d", p_value, 0, 0),
    SD_BUS_PROPERTY("MinimumIncrement", "d", p_value, 0, 0),
    SD_BUS_WRITABLE_PROPERTY("CurrentValue", "d", p_value, set_value, 0, 0),
    SD_BUS_PROPERTY("Text", "s", p_empty, 0, 0),
    SD_BUS_VTABLE_END};

// --- Text and EditableText ---

int p_char_count(sd_bus*, const char* path, const char*, const char*, sd_bus_message* r, void* ud, sd_bus_error*) {
    const Node* n = node_for(I(ud), path);
    return sd_bus_message_append(r, "i", n ? std::int32_t(n->character_lengths.size()) : 0);
}
int p_caret(sd_bus*, const char* path, const char*, const char*, sd_bus_message* r, void* ud, sd_bus_error*) {
    const Node* n = node_for(I(ud), path);
    return sd_bus_message_append(r, "i", n && n->caret ? std::int32_t(*n->caret) : 0);
}
int m_get_text(sd_bus_message* m, void* ud, sd_bus_error* e) {
    std::int32_t start = 0, end = 0;
    if (int r = sd_bus_message_read(m, "ii", &start, &end); r < 0) return r;
    const Node* n = I(ud).index.node(target(m).value_or(0));
    if (!n) return unknown(e);
    return sd_bus_reply_method_return(m, "s", atspi::text_between(*n, start, end).c_str());
}
// Word, sentence and line boundaries all answer the whole text: fields
// hold short single texts, and a reader gets all of it either way.
int m_text_at(sd_bus_message* m, void* ud, sd_bus_error* e) {
    std::int32_t offset = 0;
    std::uint32_t type = 0;
    if (int r = sd_bus_message_read(m, "iu", &offset, &type); r < 0) return r;
    const Node* n = I(ud).index.node(target(m).value_or(0));
    if (!n) return unknown(e);
    std::int32_t count = std::int32_t(n->character_lengths.size());
    std::string_view member = sd_bus_message_get_member(m);
    std::int32_t from = 0, to = count;
    if (type == 0) {
        std::int32_t at = member == "GetTextBeforeOffset" ? offset - 1 : member == "GetTextAfterOffset" ? offset + 1 : offset;
        if (at < 0 || at >= count) from = to = std::clamp(at, 0, count);
        else from = at, to = at + 1;
    }
    return sd_bus_reply_method_return(m, "sii", atspi::text_between(*n, from, to).c_str(), from, to);
}
int m_char_at(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::int32_t offset = 0;
    if (int r = sd_bus_message_read(m, "i", &offset); r < 0) return r;
    const Node* n = I(ud).index.node(target(m).value_or(0));
    std::string c = n ? atspi::text_between(*n, offset, offset + 1) : "";
    std::int32_t cp = 0;
    if (!c.empty()) {
        auto b0 = static_cast<unsigned char>(c[0]);
        int len = int(c.size());
        cp = len == 1 ? b0 : b0 & (0x7F >> len);
        for (int i = 1; i < len; ++i) cp = (cp << 6) | (static_cast<unsigned char>(c[i]) & 0x3F);
    }
    return sd_bus_reply_method_return(m, "i", cp);
}
int m_attribute_value(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "siib", "", 0, 0, 0);
}
int m_text_attributes(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "a{ss}ii", 0, 0, 0);
}
// Characters are not measured one by one: every range answers the field.
int m_char_extents(sd_bus_message* m, void* ud, sd_bus_error*) {
    Bounds r = extents(I(ud), target(m).value_or(0), 1);
    return sd_bus_reply_method_return(m, "iiii", std::int32_t(r.x0), std::int32_t(r.y0), std::int32_t(r.x1 - r.x0),
                                      std::int32_t(r.y1 - r.y0));
}
int m_minus_one(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "i", -1); }
int m_zero(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "i", 0); }
int m_selection(sd_bus_message* m, void* ud, sd_bus_error*) {
    const Node* n = I(ud).index.node(target(m).value_or(0));
    std::int32_t c = n && n->caret ? std::int32_t(*n->caret) : 0;
    return sd_bus_reply_method_return(m, "ii", c, c);
}
int m_bounded(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "a(iisv)", 0); }
int m_no_attributes(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "a{ss}", 0); }

const sd_bus_vtable text_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("CharacterCount", "i", p_char_count, 0, 0),
    SD_BUS_PROPERTY("CaretOffset", "i", p_caret, 0, 0),
    SD_BUS_METHOD("GetText", "ii", "s", m_get_text, 0),
    SD_BUS_METHOD("SetCaretOffset", "i", "b", m_false, 0),
    SD_BUS_METHOD("GetTextBeforeOffset", "iu", "sii", m_text_at, 0),
    SD_BUS_METHOD("GetTextAtOffset", "iu", "sii", m_text_at, 0),
    SD_BUS_METHOD("GetTextAfterOffset", "iu", "sii", m_text_at, 0),
    SD_BUS_METHOD("GetCharacterAtOffset", "i", "i", m_char_at, 0),
    SD_BUS_METHOD("GetAttributeValue", "is", "siib", m_attribute_value, 0),
    SD_BUS_METHOD("GetAttributes", "i", "a{ss}ii", m_text_attributes, 0),
    SD_BUS_METHOD("GetDefaultAttributes", "", "a{ss}", m_no_attributes, 0),
    SD_BUS_METHOD("GetCharacterExtents", "iu", "iiii", m_char_extents, 0),
    SD_BUS_METHOD("GetOffsetAtPoint", "iiu", "i", m_minus_one, 0),
    SD_BUS_METHOD("GetNSelections", "", "i", m_zero, 0),
    SD_BUS_METHOD("GetSelection", "i", "ii", m_selection, 0),
    SD_BUS_METHOD("AddSelection", "ii", "b", m_false, 0),
    SD_BUS_METHOD("RemoveSelection", "i", "b", m_false, 0),
    SD_BUS_METHOD("SetSelection", "iii", "b", m_false, 0),
    SD_BUS_METHOD("GetRangeExtents", "iiu", "iiii", m_char_extents, 0),
    SD_BUS_METHOD("GetBoundedRanges", "iiiiuuu", "a(iisv)", m_bounded, 0),
    SD_BUS_METHOD("GetAttributeRun", "ib", "a{ss}ii", m_text_attributes, 0),
    SD_BUS_METHOD("GetDefaultAttributeSet", "", "a{ss}", m_no_attributes, 0),
    SD_BUS_VTABLE_END};

int m_set_contents(sd_bus_message* m, void* ud, sd_bus_error*) {
    const char* text = nullptr;
    if (int r = sd_bus_message_read(m, "s", &text); r < 0) return r;
    I(ud).queue(A11yAction::SetValue, target(m).value_or(0), std::string(text ? text : ""));
    return sd_bus_reply_method_return(m, "b", 1);
}
// Inserting and deleting work on the text the tree shows; a password
// field shows none, so it only takes whole new contents.
int m_insert(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::int32_t pos = 0, length = 0;
    const char* text = nullptr;
    if (int r = sd_bus_message_read(m, "isi", &pos, &text, &length); r < 0) return r;
    const Node* n = I(ud).index.node(target(m).value_or(0));
    if (!n || n->password || !text) return sd_bus_reply_method_return(m, "b", 0);
    std::string now = atspi::text_between(*n, 0, pos) + text + atspi::text_between(*n, pos, -1);
    I(ud).queue(A11yAction::SetValue, target(m).value_or(0), now);
    return sd_bus_reply_method_return(m, "b", 1);
}
int m_delete(sd_bus_message* m, void* ud, sd_bus_error*) {
    std::int32_t start = 0, end = 0;
    if (int r = sd_bus_message_read(m, "ii", &start, &end); r < 0) return r;
    const Node* n = I(ud).index.node(target(m).value_or(0));
    if (!n || n->password) return sd_bus_reply_method_return(m, "b", 0);
    std::string now = atspi::text_between(*n, 0, start) + atspi::text_between(*n, end, -1);
    I(ud).queue(A11yAction::SetValue, target(m).value_or(0), now);
    return sd_bus_reply_method_return(m, "b", 1);
}

const sd_bus_vtable editable_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("SetTextContents", "s", "b", m_set_contents, 0),
    SD_BUS_METHOD("InsertText", "isi", "b", m_insert, 0),
    SD_BUS_METHOD("CopyText", "ii", "", m_nothing, 0),
    SD_BUS_METHOD("CutText", "ii", "b", m_false, 0),
    SD_BUS_METHOD("DeleteText", "ii", "b", m_delete, 0),
    SD_BUS_METHOD("PasteText", "i", "b", m_false, 0),
    SD_BUS_VTABLE_END};

int m_cache_items(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "a((so)(so)(so)iiassusau)", 0);
}
const sd_bus_vtable cache_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetItems", "", "a((so)(so)(so)iiassusau)", m_cache_items, 0),
    SD_BUS_VTABLE_END};

// Either status property turning true means an assistive technology listens.
int status_changed(sd_bus_message* m, void* ud, sd_bus_error*) {
    Impl& b = I(ud);
    const char* iface = nullptr;
    if (sd_bus_message_read(m, "s", &iface) < 0 || !iface || std::strcmp(iface, "org.a11y.Status") != 0) return 0;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return 0;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* name = nullptr;
        int value = 0;
        if (sd_bus_message_read(m, "s", &name) >= 0 && sd_bus_message_enter_container(m, 'v', "b") > 0) {
            if (sd_bus_message_read(m, "b", &value) >= 0) {
                if (std::strcmp(name, "IsEnabled") == 0) b.enabled = value != 0;
                else if (std::strcmp(name, "ScreenReaderEnabled") == 0) b.screen_reader = value != 0;
            }
            sd_bus_message_exit_container(m);
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    b.update_status();
    return 0;
}

}  // namespace

void AtspiBridge::Impl::update_status() {
    bool want = enabled || screen_reader;
    if (want && !a11y) {
        if (!connect()) disconnect();
    } else if (!want && a11y) {
        disconnect();
    }
}

bool AtspiBridge::Impl::connect() {
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const char* address = nullptr;
    int r = sd_bus_call_method(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", &err, &reply, "");
    sd_bus_error_free(&err);
    if (r < 0 || sd_bus_message_read(reply, "s", &address) < 0) {
        sd_bus_message_unref(reply);
        return false;
    }
    std::string addr = address;
    sd_bus_message_unref(reply);
    if (sd_bus_new(&a11y) < 0) return false;
    sd_bus_set_method_call_timeout(a11y, call_timeout_usec);
    if (sd_bus_set_address(a11y, addr.c_str()) < 0 || sd_bus_set_bus_client(a11y, 1) < 0 || sd_bus_start(a11y) < 0)
        return false;
    const char* unique = nullptr;
    if (sd_bus_get_unique_name(a11y, &unique) < 0) return false;
    unique_name = unique;
    struct Table {
        const char* iface;
        const sd_bus_vtable* vtable;
    };
    const Table tables[] = {{"org.a11y.atspi.Accessible", accessible_vtable},
                            {"org.a11y.atspi.Application", application_vtable},
                            {"org.a11y.atspi.Component", component_vtable},
                            {"org.a11y.atspi.Action", action_vtable},
                            {"org.a11y.atspi.Value", value_vtable},
                            {"org.a11y.atspi.Text", text_vtable},
                            {"org.a11y.atspi.EditableText", editable_vtable}};
    for (const Table& t : tables) {
        sd_bus_slot* slot = nullptr;
        if (sd_bus_add_fallback_vtable(a11y, &slot, accessible_prefix, t.iface, t.vtable, find, this) < 0) return false;
        slots.push_back(slot);
    }
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(a11y, &slot, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", cache_vtable, this) < 0)
        return false;
    slots.push_back(slot);
    // The adapter starts over from the initial tree and asks the loop for a
    // real one.
    adapter.activate();
    generation = ~std::uint64_t{0};
    refresh_index();
    r = sd_bus_call_method(a11y, "org.a11y.atspi.Registry", root_path, "org.a11y.atspi.Socket", "Embed", &err, &reply,
                           "(so)", unique_name.c_str(), root_path);
    sd_bus_error_free(&err);
    if (r < 0) return false;
    const char* pn = nullptr;
    const char* pp = nullptr;
    if (sd_bus_message_read(reply, "(so)", &pn, &pp) >= 0) {
        parent_name = pn;
        parent_path = pp;
    }
    sd_bus_message_unref(reply);
    return true;
}

void AtspiBridge::Impl::disconnect() {
    adapter.deactivate();
    for (sd_bus_slot* s : slots) sd_bus_slot_unref(s);
    slots.clear();
    if (a11y) a11y = sd_bus_flush_close_unref(a11y);
}

void AtspiBridge::Impl::refresh_index() {
    Adapter::Published p = adapter.published();
    if (p.generation == generation) return;
    generation = p.generation;
    atspi::Index next = atspi::Index::of(p.tree, p.width, p.height, p.window_focused);
    std::vector<atspi::Event> events;
    // The first real tree after the initial one is news to no client yet.
    if (a11y && index.tree->nodes.size() > 1) events = atspi::diff(index, next);
    index = std::move(next);
    for (const atspi::Event& e : events) emit(e);
}

void AtspiBridge::Impl::emit(const atspi::Event& e) {
    std::string path = path_of(e.node);
    const char* iface = "org.a11y.atspi.Event.Object";
    const char* detail = e.detail.c_str();
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::int32_t>)
                sd_bus_emit_signal(a11y, path.c_str(), iface, e.member.c_str(), "siiva{sv}", detail, e.detail1,
                                   e.detail2, "i", v, 0);
            else if constexpr (std::is_same_v<V, double>)
                sd_bus_emit_signal(a11y, path.c_str(), iface, e.member.c_str(), "siiva{sv}", detail, e.detail1,
                                   e.detail2, "d", v, 0);
            else if constexpr (std::is_same_v<V, std::string>)
                sd_bus_emit_signal(a11y, path.c_str(), iface, e.member.c_str(), "siiva{sv}", detail, e.detail1,
                                   e.detail2, "s", v.c_str(), 0);
            else {
                auto [name, p] = ref(v);
                sd_bus_emit_signal(a11y, path.c_str(), iface, e.member.c_str(), "siiva{sv}", detail, e.detail1,
                                   e.detail2, "(so)", name.c_str(), p.c_str(), 0);
            }
        },
        e.value);
}

void AtspiBridge::Impl::run() {
    if (sd_bus_open_user(&session) < 0) return;
    sd_bus_set_method_call_timeout(session, call_timeout_usec);
    sd_bus_slot* watch = nullptr;
    if (sd_bus_match_signal(session, &watch, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                            "PropertiesChanged", status_changed, this) < 0) {
        session = sd_bus_flush_close_unref(session);
        return;
    }
    sd_bus_error err = SD_BUS_ERROR_NULL;
    int value = 0;
    if (sd_bus_get_property_trivial(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status", "IsEnabled", &err,
                                    'b', &value) >= 0)
        enabled = value != 0;
    sd_bus_error_free(&err);
    if (sd_bus_get_property_trivial(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status",
                                    "ScreenReaderEnabled", &err, 'b', &value) >= 0)
        screen_reader = value != 0;
    sd_bus_error_free(&err);
    update_status();

    while (!stop) {
        while (sd_bus_process(session, nullptr) > 0) {
        }
        if (a11y) {
            refresh_index();
            int r = 0;
            while ((r = sd_bus_process(a11y, nullptr)) > 0) {
            }
            if (r < 0) disconnect();
        }
        pollfd fds[3] = {{wake_fd, POLLIN, 0}, {sd_bus_get_fd(session), short(sd_bus_get_events(session)), 0},
                         {-1, 0, 0}};
        std::uint64_t deadline = UINT64_MAX, t = 0;
        if (sd_bus_get_timeout(session, &t) >= 0) deadline = std::min(deadline, t);
        if (a11y) {
            fds[2] = {sd_bus_get_fd(a11y), short(sd_bus_get_events(a11y)), 0};
            if (sd_bus_get_timeout(a11y, &t) >= 0) deadline = std::min(deadline, t);
        }
        int timeout = -1;
        if (deadline != UINT64_MAX) {
            std::uint64_t now = now_usec();
            timeout = deadline <= now ? 0 : int(std::min<std::uint64_t>((deadline - now + 999) / 1000, 60000));
        }
        if (poll(fds, a11y ? 3 : 2, timeout) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t n = 0;
            (void)!read(wake_fd, &n, sizeof n);
        }
    }
    disconnect();
    sd_bus_slot_unref(watch);
    session = sd_bus_flush_close_unref(session);
}

AtspiBridge::AtspiBridge(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AtspiBridge::~AtspiBridge() {
    impl_->adapter.set_change_listener({});
    impl_->stop = true;
    std::uint64_t one = 1;
    (void)!write(impl_->wake_fd, &one, sizeof one);
    if (impl_->thread.joinable()) impl_->thread.join();
    close(impl_->wake_fd);
}

std::unique_ptr<AtspiBridge> AtspiBridge::start(Adapter& adapter, std::string app_id, std::string version) {
    auto impl = std::make_unique<Impl>(adapter, std::move(app_id), std::move(version));
    impl->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl->wake_fd < 0) return nullptr;
    int fd = impl->wake_fd;
    adapter.set_change_listener([fd] {
        std::uint64_t one = 1;
        (void)!write(fd, &one, sizeof one);
    });
    Impl* raw = impl.get();
    impl->thread = std::thread([raw] { raw->run(); });
    return std::unique_ptr<AtspiBridge>(new AtspiBridge(std::move(impl)));
}

}  // namespace zem::access
