#pragma once
// The accessibility tree of the running application, built from the last
// frame of each surface: one node per touch region, per static node and per
// visible overlay, under one window node.
//
// Pure: the shell hands in snapshots, the adapter publishes the result.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zem/frame/hit_region.hpp>

namespace zem::access {

using NodeId = std::uint64_t;

inline constexpr NodeId window_node_id = 1;

// What one surface showed in its last frame, in buffer pixels.
struct A11ySurface {
    std::optional<LayoutId> focus;
    std::optional<LayoutId> pressed;
    std::vector<HitRegion> regions;
    std::vector<AccessNode> statics;
    std::map<LayoutId, std::string> edited_texts;
    std::map<LayoutId, std::size_t> carets;  // byte offsets
    std::optional<std::string> title;
    std::uint32_t width = 0, height = 0;
    float x = 0, y = 0;  // top-left within the main surface
    bool main = false;
    std::uint8_t number = 0;  // 0 main, then 1, 2, … per visible overlay
};

// Node ids: bit 48 marks a toolkit node, bits 40–47 the surface number,
// bits 32–39 the class (widget, static, text run, surface).
enum class NodeClass : std::uint8_t { Widget = 0, Static = 1, TextRun = 2, Surface = 3 };
NodeId widget_node_id(std::uint8_t surface, LayoutId widget);
NodeId static_node_id(std::uint8_t surface, std::size_t index);
NodeId text_run_node_id(std::uint8_t surface, LayoutId widget);
NodeId surface_node_id(std::uint8_t surface);

// The surface number and widget an action aims at; none for the window,
// statics, text runs and surfaces.
struct WidgetTarget {
    std::uint8_t surface = 0;
    LayoutId widget = 0;
    friend bool operator==(const WidgetTarget&, const WidgetTarget&) = default;
};
std::optional<WidgetTarget> decode_widget_target(NodeId id);

enum class Role : std::uint8_t {
    Window,
    Dialog,
    GenericContainer,
    Button,
    Switch,
    CheckBox,
    RadioButton,
    ListItem,
    TextInput,
    MultilineTextInput,
    Slider,
    TextRun,
    Label,
    Image,
    Splitter,
    ProgressIndicator,
};

enum class Action : std::uint8_t { Click, Focus, Decrement, Increment, SetValue };

struct Bounds {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    friend bool operator==(const Bounds&, const Bounds&) = default;
};

struct Node {
    Role role = Role::GenericContainer;
    std::optional<std::string> label;
    Bounds bounds;
    std::vector<NodeId> children;
    std::optional<bool> toggled;
    bool disabled = false;
    std::vector<Action> actions;  // in the order they are offered
    std::optional<double> numeric_value, min_value, max_value, step;
    std::optional<std::string> value;  // a text field's or text run's text
    std::vector<std::uint8_t> character_lengths;
    std::optional<std::size_t> caret;  // character index, text fields only
    bool password = false;
    bool live = false;  // polite: a new label is announced
    // Where the node's own text was drawn, when it drew any (same space as
    // `bounds`): a text that runs past `bounds` is cut off or overflows.
    std::optional<Bounds> text_bounds;

    bool has(Action a) const;
};

struct TreeUpdate {
    std::vector<std::pair<NodeId, Node>> nodes;
    NodeId root = window_node_id;
    NodeId focus = window_node_id;

    const Node* find(NodeId id) const;
};

// The byte length of each character of valid UTF-8 text (1 to 4).
std::vector<std::uint8_t> utf8_char_lengths(std::string_view text);

TreeUpdate build_accessibility_tree(const std::vector<A11ySurface>& surfaces, std::uint8_t focus_surface,
                                    std::string_view app_id);

// The tree published before the first real one: one window node named "zem".
TreeUpdate initial_tree();

}  // namespace zem::access
