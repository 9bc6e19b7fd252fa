#pragma once
// How the tree looks to AT-SPI clients: role numbers, state words, the
// interfaces and actions each node offers, its exposed children, and the
// events that tell clients what changed between two trees. Pure.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include <zem/access/tree.hpp>

namespace zem::access::atspi {

// AT-SPI role numbers and names.
std::uint32_t role_number(Role role);
std::string_view role_name(Role role);

enum State : std::uint32_t {
    Active = 1,
    Checked = 4,
    Defunct = 6,
    Editable = 7,
    Enabled = 8,
    Focusable = 11,
    Focused = 12,
    Horizontal = 14,
    MultiLine = 17,
    Pressed = 20,
    Sensitive = 24,
    Showing = 25,
    SingleLine = 26,
    Visible = 30,
    Checkable = 41,
};

// One tree with what clients ask for at hand.
struct Index {
    std::shared_ptr<const TreeUpdate> tree;
    std::unordered_map<NodeId, std::size_t> at;
    std::unordered_map<NodeId, NodeId> parent;
    std::uint32_t width = 0, height = 0;
    bool window_focused = false;

    static Index of(std::shared_ptr<const TreeUpdate> tree, std::uint32_t width, std::uint32_t height, bool focused);
    const Node* node(NodeId id) const;
    // Children as clients see them: a text field's text run is its Text.
    std::vector<NodeId> children(NodeId id) const;
    std::array<std::uint32_t, 2> states(NodeId id) const;
    std::vector<std::string> interfaces(NodeId id) const;
};

// Actions offered through the Action interface (setting a value goes through
// Value and EditableText instead).
std::vector<Action> listed_actions(const Node& node);
std::string_view action_name(Action action);

bool has_value(const Node& node);
bool has_text(const Node& node);

// The text between two character offsets (end -1: to the end), clamped.
std::string text_between(const Node& node, std::int32_t start, std::int32_t end);

struct Event {
    NodeId node = 0;
    std::string member;  // StateChanged, PropertyChange, TextChanged, ChildrenChanged, Announcement
    std::string detail;
    std::int32_t detail1 = 0, detail2 = 0;
    std::variant<std::int32_t, double, std::string, NodeId> value;
};

// What changed from `before` to `after`. A live node announces its label
// when it appears with one or when its label changes, after the changes of
// the same node.
std::vector<Event> diff(const Index& before, const Index& after);

// The politeness a live node announces with.
inline constexpr std::int32_t live_polite = 1;

}  // namespace zem::access::atspi
