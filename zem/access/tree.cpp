#include <zem/access/tree.hpp>

#include <algorithm>
#include <variant>

namespace zem::access {
namespace {

constexpr NodeId toolkit_bit = NodeId{1} << 48;

NodeId make_id(std::uint8_t surface, NodeClass cls, std::uint64_t low) {
    return toolkit_bit | (NodeId{surface} << 40) | (NodeId{static_cast<std::uint8_t>(cls)} << 32) |
           (low & 0xFFFFFFFFu);
}

Bounds moved(const Rect& r, float x, float y) {
    return Bounds{double(r.x + x), double(r.y + y), double(r.x + x + r.w), double(r.y + y + r.h)};
}

Role static_role(AccessNodeKind kind) {
    switch (kind) {
        case AccessNodeKind::Text: return Role::Label;
        case AccessNodeKind::Image: return Role::Image;
        case AccessNodeKind::Divider: return Role::Splitter;
        case AccessNodeKind::ProgressBar: return Role::ProgressIndicator;
    }
    return Role::Label;
}

// The caret's byte offset, moved back to the start of the character it
// falls in, as a character index.
std::size_t caret_index(const std::vector<std::uint8_t>& lengths, std::size_t byte) {
    std::size_t at = 0, index = 0;
    for (std::uint8_t len : lengths) {
        if (at + len > byte) break;
        at += len;
        ++index;
    }
    return index;
}

struct WidgetNodes {
    Node widget;
    std::optional<Node> text_run;
};

WidgetNodes widget_node(const A11ySurface& s, const HitRegion& r) {
    Node n;
    n.bounds = moved(r.rect, s.x, s.y);
    if (r.text_rect) n.text_bounds = moved(*r.text_rect, s.x, s.y);
    n.label = r.text ? r.text : r.tooltip;
    bool pressed = s.pressed && *s.pressed == r.id;
    std::optional<Node> run;
    auto clicks = [&n] { n.actions = {Action::Click, Action::Focus}; };
    std::visit(
        [&](const auto& a) {
            using A = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<A, HitAction::None>) {
                n.role = Role::GenericContainer;
                n.disabled = true;
            } else if constexpr (std::is_same_v<A, HitAction::Press>) {
                n.role = Role::Button;
                n.disabled = !a.on_press && !a.on_long_press && !a.on_drag && !a.on_escape;
                n.toggled = pressed;
                clicks();
            } else if constexpr (std::is_same_v<A, HitAction::Switch>) {
                n.role = Role::Switch;
                n.disabled = !a.message;
                n.toggled = a.on;
                clicks();
            } else if constexpr (std::is_same_v<A, HitAction::Checkbox>) {
                n.role = Role::CheckBox;
                n.disabled = !a.message;
                n.toggled = a.checked;
                clicks();
            } else if constexpr (std::is_same_v<A, HitAction::RadioButton>) {
                n.role = Role::RadioButton;
                n.disabled = !a.message;
                n.toggled = a.selected;
                clicks();
            } else if constexpr (std::is_same_v<A, HitAction::ListItem> ||
                                 std::is_same_v<A, HitAction::WindowButton>) {
                n.role = std::is_same_v<A, HitAction::ListItem> ? Role::ListItem : Role::Button;
                n.disabled = !a.message;
                n.toggled = pressed;
                clicks();
            } else if constexpr (std::is_same_v<A, HitAction::TextEdit>) {
                n.role = a.multiline ? Role::MultilineTextInput : Role::TextInput;
                n.disabled = !a.on_change && !a.on_submit;
                n.actions = {Action::Focus, Action::SetValue};
                n.password = a.password;
                if (a.password) n.label = "password";
                std::string text;
                if (!a.password) {
                    auto edited = s.edited_texts.find(r.id);
                    if (edited != s.edited_texts.end()) text = edited->second;
                    else text = std::string_view(a.text);
                }
                n.character_lengths = utf8_char_lengths(text);
                auto caret = s.carets.find(r.id);
                std::size_t byte = caret != s.carets.end() ? std::min(caret->second, text.size()) : text.size();
                n.caret = caret_index(n.character_lengths, byte);
                n.value = text;
                Node t;
                t.role = Role::TextRun;
                t.bounds = n.bounds;
                t.value = text;
                t.character_lengths = n.character_lengths;
                t.password = a.password;
                run = std::move(t);
            } else if constexpr (std::is_same_v<A, HitAction::Slider>) {
                n.role = Role::Slider;
                n.disabled = !a.on_change;
                n.actions = {Action::Focus, Action::Decrement, Action::Increment, Action::SetValue};
                n.min_value = 0.0;
                n.max_value = 1.0;
                n.step = 0.05;
                n.numeric_value = double(a.value);
            }
        },
        r.action.value);
    if (s.focus && *s.focus == r.id && !n.has(Action::Focus)) n.actions.push_back(Action::Focus);
    return WidgetNodes{std::move(n), std::move(run)};
}

// A surface's widget and static ids in the order the page lists them, so a
// screen reader reads a heading before the controls under it and a label
// next to the bar it names.
std::vector<NodeId> reading_order(const A11ySurface& s) {
    std::vector<std::pair<LayoutId, NodeId>> items;
    for (const HitRegion& r : s.regions) items.emplace_back(r.id, widget_node_id(s.number, r.id));
    for (std::size_t i = 0; i < s.statics.size(); ++i)
        items.emplace_back(s.statics[i].id, static_node_id(s.number, i));
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<NodeId> ids;
    ids.reserve(items.size());
    for (const auto& [layout, id] : items) ids.push_back(id);
    return ids;
}

}  // namespace

NodeId widget_node_id(std::uint8_t surface, LayoutId widget) { return make_id(surface, NodeClass::Widget, widget); }
NodeId static_node_id(std::uint8_t surface, std::size_t index) { return make_id(surface, NodeClass::Static, index); }
NodeId text_run_node_id(std::uint8_t surface, LayoutId widget) { return make_id(surface, NodeClass::TextRun, widget); }
NodeId surface_node_id(std::uint8_t surface) { return make_id(surface, NodeClass::Surface, 0); }

std::optional<WidgetTarget> decode_widget_target(NodeId id) {
    if ((id >> 48) == 0) return std::nullopt;
    if (((id >> 32) & 0xFF) != static_cast<std::uint8_t>(NodeClass::Widget)) return std::nullopt;
    return WidgetTarget{static_cast<std::uint8_t>((id >> 40) & 0xFF), id & 0xFFFFFFFFu};
}

bool Node::has(Action a) const { return std::find(actions.begin(), actions.end(), a) != actions.end(); }

const Node* TreeUpdate::find(NodeId id) const {
    for (const auto& [nid, node] : nodes)
        if (nid == id) return &node;
    return nullptr;
}

std::vector<std::uint8_t> utf8_char_lengths(std::string_view text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        std::uint8_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        len = static_cast<std::uint8_t>(std::min<std::size_t>(len, text.size() - i));
        out.push_back(len);
        i += len;
    }
    return out;
}

TreeUpdate build_accessibility_tree(const std::vector<A11ySurface>& surfaces, std::uint8_t focus_surface,
                                    std::string_view app_id) {
    TreeUpdate t;
    Node root;
    root.role = Role::Window;
    root.label = std::string(app_id);
    const A11ySurface* main = nullptr;
    for (const A11ySurface& s : surfaces)
        if (s.main) main = &s;
    if (main) {
        root.bounds = Bounds{0, 0, double(main->width), double(main->height)};
        root.children = reading_order(*main);
    }
    for (const A11ySurface& s : surfaces)
        if (!s.main) root.children.push_back(surface_node_id(s.number));
    t.nodes.emplace_back(window_node_id, std::move(root));

    for (const A11ySurface& s : surfaces) {
        if (!s.main) {
            Node dialog;
            dialog.role = Role::Dialog;
            dialog.label = s.title;
            dialog.bounds = Bounds{s.x, s.y, s.x + double(s.width), s.y + double(s.height)};
            dialog.children = reading_order(s);
            t.nodes.emplace_back(surface_node_id(s.number), std::move(dialog));
        }
        for (const HitRegion& r : s.regions) {
            WidgetNodes w = widget_node(s, r);
            NodeId id = widget_node_id(s.number, r.id);
            if (w.text_run) w.widget.children = {text_run_node_id(s.number, r.id)};
            t.nodes.emplace_back(id, std::move(w.widget));
            if (w.text_run) t.nodes.emplace_back(text_run_node_id(s.number, r.id), std::move(*w.text_run));
            if (s.number == focus_surface && s.focus && *s.focus == r.id) t.focus = id;
        }
        for (std::size_t i = 0; i < s.statics.size(); ++i) {
            const AccessNode& a = s.statics[i];
            Node n;
            n.role = static_role(a.kind);
            n.bounds = moved(a.rect, s.x, s.y);
            if (a.text_rect) n.text_bounds = moved(*a.text_rect, s.x, s.y);
            n.label = a.text;
            n.live = a.live;
            if (a.kind == AccessNodeKind::ProgressBar) {
                n.min_value = 0.0;
                n.max_value = 1.0;
                n.numeric_value = double(a.value);
            }
            t.nodes.emplace_back(static_node_id(s.number, i), std::move(n));
        }
    }
    return t;
}

TreeUpdate initial_tree() {
    TreeUpdate t;
    Node root;
    root.role = Role::Window;
    root.label = "zem";
    t.nodes.emplace_back(window_node_id, std::move(root));
    return t;
}

}  // namespace zem::access
