#include <zem/access/atspi_model.hpp>

#include <algorithm>

namespace zem::access::atspi {
namespace {

bool toggles_checked(Role r) { return r == Role::Switch || r == Role::CheckBox || r == Role::RadioButton; }
bool is_text_input(Role r) { return r == Role::TextInput || r == Role::MultilineTextInput; }

void set(std::array<std::uint32_t, 2>& w, std::uint32_t bit) { w[bit / 32] |= 1u << (bit % 32); }

}  // namespace

std::uint32_t role_number(Role role) {
    switch (role) {
        case Role::Window: return 23;
        case Role::Dialog: return 16;
        case Role::GenericContainer: return 39;
        case Role::Button: return 43;
        case Role::Switch: return 62;
        case Role::CheckBox: return 7;
        case Role::RadioButton: return 44;
        case Role::ListItem: return 32;
        case Role::TextInput:
        case Role::MultilineTextInput: return 79;
        case Role::Slider: return 51;
        case Role::TextRun: return 29;
        case Role::Label: return 29;
        case Role::Image: return 27;
        case Role::Splitter: return 50;
        case Role::ProgressIndicator: return 42;
    }
    return 0;
}

std::string_view role_name(Role role) {
    switch (role) {
        case Role::Window: return "frame";
        case Role::Dialog: return "dialog";
        case Role::GenericContainer: return "panel";
        case Role::Button: return "push button";
        case Role::Switch: return "toggle button";
        case Role::CheckBox: return "check box";
        case Role::RadioButton: return "radio button";
        case Role::ListItem: return "list item";
        case Role::TextInput:
        case Role::MultilineTextInput: return "entry";
        case Role::Slider: return "slider";
        case Role::TextRun:
        case Role::Label: return "label";
        case Role::Image: return "image";
        case Role::Splitter: return "separator";
        case Role::ProgressIndicator: return "progress bar";
    }
    return "unknown";
}

Index Index::of(std::shared_ptr<const TreeUpdate> tree, std::uint32_t width, std::uint32_t height, bool focused) {
    Index ix;
    ix.width = width;
    ix.height = height;
    ix.window_focused = focused;
    for (std::size_t i = 0; i < tree->nodes.size(); ++i) {
        ix.at[tree->nodes[i].first] = i;
        for (NodeId c : tree->nodes[i].second.children) ix.parent[c] = tree->nodes[i].first;
    }
    ix.tree = std::move(tree);
    return ix;
}

const Node* Index::node(NodeId id) const {
    auto it = at.find(id);
    return it == at.end() ? nullptr : &tree->nodes[it->second].second;
}

std::vector<NodeId> Index::children(NodeId id) const {
    std::vector<NodeId> out;
    const Node* n = node(id);
    if (!n) return out;
    for (NodeId c : n->children) {
        const Node* child = node(c);
        if (child && child->role != Role::TextRun) out.push_back(c);
    }
    return out;
}

std::array<std::uint32_t, 2> Index::states(NodeId id) const {
    std::array<std::uint32_t, 2> w{0, 0};
    const Node* n = node(id);
    if (!n) {
        set(w, Defunct);
        return w;
    }
    set(w, Visible);
    const Bounds& b = n->bounds;
    double x0 = std::max(b.x0, 0.0), y0 = std::max(b.y0, 0.0);
    double x1 = std::min(b.x1, double(width)), y1 = std::min(b.y1, double(height));
    if (x1 > x0 && y1 > y0) set(w, Showing);
    if (!n->disabled) {
        set(w, Enabled);
        set(w, Sensitive);
    }
    if (n->has(Action::Focus)) set(w, Focusable);
    if (window_focused && tree->focus == id && id != window_node_id) set(w, Focused);
    if (id == window_node_id && window_focused) set(w, Active);
    if (toggles_checked(n->role)) {
        set(w, Checkable);
        if (n->toggled.value_or(false)) set(w, Checked);
    } else if (n->toggled.value_or(false)) {
        set(w, Pressed);
    }
    if (is_text_input(n->role)) {
        if (!n->disabled) set(w, Editable);
        set(w, n->role == Role::MultilineTextInput ? MultiLine : SingleLine);
    }
    if (n->role == Role::Slider) set(w, Horizontal);
    return w;
}

std::vector<std::string> Index::interfaces(NodeId id) const {
    std::vector<std::string> out{"org.a11y.atspi.Accessible", "org.a11y.atspi.Component"};
    const Node* n = node(id);
    if (!n) return out;
    if (!listed_actions(*n).empty()) out.push_back("org.a11y.atspi.Action");
    if (has_value(*n)) out.push_back("org.a11y.atspi.Value");
    if (has_text(*n)) {
        out.push_back("org.a11y.atspi.Text");
        out.push_back("org.a11y.atspi.EditableText");
    }
    return out;
}

std::vector<Action> listed_actions(const Node& node) {
    std::vector<Action> out;
    for (Action a : node.actions)
        if (a != Action::SetValue) out.push_back(a);
    return out;
}

std::string_view action_name(Action action) {
    switch (action) {
        case Action::Click: return "click";
        case Action::Focus: return "focus";
        case Action::Decrement: return "decrement";
        case Action::Increment: return "increment";
        case Action::SetValue: return "set value";
    }
    return "";
}

bool has_value(const Node& n) { return n.role == Role::Slider || n.role == Role::ProgressIndicator; }
bool has_text(const Node& n) { return is_text_input(n.role); }

std::string text_between(const Node& n, std::int32_t start, std::int32_t end) {
    const std::string text = n.value.value_or("");
    std::int32_t count = static_cast<std::int32_t>(n.character_lengths.size());
    if (end < 0 || end > count) end = count;
    start = std::clamp(start, 0, count);
    if (start >= end) return "";
    std::size_t from = 0, to = 0;
    for (std::int32_t i = 0; i < end; ++i) {
        if (i < start) from += n.character_lengths[i];
        to += n.character_lengths[i];
    }
    return text.substr(from, to - from);
}

std::vector<Event> diff(const Index& before, const Index& after) {
    std::vector<Event> out;
    NodeId old_focus = before.tree->focus, new_focus = after.tree->focus;
    if (before.window_focused != after.window_focused)
        out.push_back({window_node_id, "StateChanged", "active", after.window_focused ? 1 : 0, 0, 0});
    bool old_shown = before.window_focused && old_focus != window_node_id;
    bool new_shown = after.window_focused && new_focus != window_node_id;
    if (old_focus != new_focus || old_shown != new_shown) {
        if (old_shown && after.node(old_focus)) out.push_back({old_focus, "StateChanged", "focused", 0, 0, 0});
        if (new_shown) out.push_back({new_focus, "StateChanged", "focused", 1, 0, 0});
    }
    for (const auto& [id, n] : after.tree->nodes) {
        const Node* o = before.node(id);
        if (!o) {
            if (n.live && n.label) out.push_back({id, "Announcement", "", live_polite, 0, *n.label});
            continue;
        }
        if (o->toggled != n.toggled && n.toggled)
            out.push_back({id, "StateChanged", toggles_checked(n.role) ? "checked" : "pressed", *n.toggled ? 1 : 0, 0,
                           0});
        if (o->disabled != n.disabled) {
            out.push_back({id, "StateChanged", "sensitive", n.disabled ? 0 : 1, 0, 0});
            out.push_back({id, "StateChanged", "enabled", n.disabled ? 0 : 1, 0, 0});
        }
        if (n.numeric_value && o->numeric_value != n.numeric_value)
            out.push_back({id, "PropertyChange", "accessible-value", 0, 0, *n.numeric_value});
        if (n.label && o->label != n.label) {
            out.push_back({id, "PropertyChange", "accessible-name", 0, 0, *n.label});
            if (n.live) out.push_back({id, "Announcement", "", live_polite, 0, *n.label});
        }
        if (has_text(n) && !n.password && o->value != n.value) {
            std::string old_text = o->value.value_or(""), new_text = n.value.value_or("");
            out.push_back({id, "TextChanged", "delete", 0, std::int32_t(o->character_lengths.size()), old_text});
            out.push_back({id, "TextChanged", "insert", 0, std::int32_t(n.character_lengths.size()), new_text});
        }
        if (has_text(n) && o->caret != n.caret && n.caret)
            out.push_back({id, "TextCaretMoved", "", std::int32_t(*n.caret), 0, 0});
        std::vector<NodeId> was = before.children(id), now = after.children(id);
        if (was != now) {
            for (std::size_t i = was.size(); i-- > 0;)
                if (std::find(now.begin(), now.end(), was[i]) == now.end())
                    out.push_back({id, "ChildrenChanged", "remove", std::int32_t(i), 0, was[i]});
            for (std::size_t i = 0; i < now.size(); ++i)
                if (std::find(was.begin(), was.end(), now[i]) == was.end())
                    out.push_back({id, "ChildrenChanged", "add", std::int32_t(i), 0, now[i]});
        }
    }
    return out;
}

}  // namespace zem::access::atspi
