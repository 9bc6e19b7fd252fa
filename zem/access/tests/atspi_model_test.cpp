#include <zem/access/atspi_model.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace zem::access::atspi {
namespace {

bool has_state(const std::array<std::uint32_t, 2>& w, std::uint32_t s) { return (w[s / 32] >> (s % 32)) & 1u; }

Node node(Role role, Bounds b = {10, 10, 50, 30}) {
    Node n;
    n.role = role;
    n.bounds = b;
    return n;
}

// A window with a switch, a text field (with its text run) and a progress
// bar; `edit` changes the tree before it is indexed.
Index tree(std::function<void(TreeUpdate&)> edit = {}, bool focused = true) {
    TreeUpdate t;
    Node root = node(Role::Window, {0, 0, 800, 600});
    root.children = {10, 20, 40};
    t.nodes.emplace_back(window_node_id, root);
    Node sw = node(Role::Switch);
    sw.toggled = true;
    sw.actions = {Action::Click, Action::Focus};
    t.nodes.emplace_back(10, sw);
    Node field = node(Role::TextInput);
    field.actions = {Action::Focus, Action::SetValue};
    field.value = "a\xC3\xA9z";
    field.character_lengths = {1, 2, 1};
    field.caret = 3;
    field.children = {30};
    t.nodes.emplace_back(20, field);
    t.nodes.emplace_back(30, node(Role::TextRun));
    Node bar = node(Role::ProgressIndicator, {0, 700, 100, 720});
    bar.numeric_value = 0.25;
    t.nodes.emplace_back(40, bar);
    t.focus = 10;
    if (edit) edit(t);
    return Index::of(std::make_shared<const TreeUpdate>(std::move(t)), 800, 600, focused);
}

TEST(AtspiModel, RoleNumbers) {
    const std::pair<Role, std::uint32_t> cases[] = {
        {Role::Window, 23},        {Role::Dialog, 16},      {Role::GenericContainer, 39}, {Role::Button, 43},
        {Role::Switch, 62},        {Role::CheckBox, 7},     {Role::RadioButton, 44},      {Role::ListItem, 32},
        {Role::TextInput, 79},     {Role::MultilineTextInput, 79}, {Role::Slider, 51},    {Role::Label, 29},
        {Role::Image, 27},         {Role::Splitter, 50},    {Role::ProgressIndicator, 42},
    };
    for (auto [role, number] : cases) EXPECT_EQ(role_number(role), number) << role_name(role);
}

TEST(AtspiModel, StatesOfAFocusedCheckedSwitch) {
    Index ix = tree();
    auto w = ix.states(10);
    for (std::uint32_t s : {Enabled, Focusable, Focused, Sensitive, Showing, Visible, Checkable, Checked})
        EXPECT_TRUE(has_state(w, s)) << s;
    EXPECT_FALSE(has_state(w, Pressed));
    EXPECT_TRUE(has_state(ix.states(window_node_id), Active));
    // Out of the window: not showing.
    EXPECT_FALSE(has_state(ix.states(40), Showing));
    // Without window focus nothing is focused.
    EXPECT_FALSE(has_state(tree({}, false).states(10), Focused));
    // A node gone since the client learnt of it is defunct.
    auto gone = ix.states(99);
    EXPECT_TRUE(has_state(gone, Defunct));
    EXPECT_FALSE(has_state(gone, Showing));
    auto field = ix.states(20);
    EXPECT_TRUE(has_state(field, Editable));
    EXPECT_TRUE(has_state(field, SingleLine));
}

TEST(AtspiModel, TextRunsAreNotChildren) {
    Index ix = tree();
    EXPECT_TRUE(ix.children(20).empty());
    EXPECT_EQ(ix.children(window_node_id), (std::vector<NodeId>{10, 20, 40}));
    auto ifaces = ix.interfaces(20);
    EXPECT_NE(std::find(ifaces.begin(), ifaces.end(), "org.a11y.atspi.EditableText"), ifaces.end());
    EXPECT_EQ(std::find(ifaces.begin(), ifaces.end(), "org.a11y.atspi.Value"), ifaces.end());
    // Setting a value is not offered as an action.
    EXPECT_EQ(listed_actions(*ix.node(20)), (std::vector<Action>{Action::Focus}));
}

TEST(AtspiModel, TextBetweenCharacterOffsets) {
    Index ix = tree();
    const Node& field = *ix.node(20);
    struct Case {
        std::int32_t start, end;
        const char* text;
    };
    const Case cases[] = {{0, -1, "a\xC3\xA9z"}, {1, 2, "\xC3\xA9"}, {2, 99, "z"}, {-5, 1, "a"}, {3, 1, ""}, {4, -1, ""}};
    for (const Case& c : cases) EXPECT_EQ(text_between(field, c.start, c.end), c.text) << c.start << "," << c.end;
}

std::vector<std::string> described(const std::vector<Event>& events) {
    std::vector<std::string> out;
    for (const Event& e : events)
        out.push_back(std::to_string(e.node) + " " + e.member + ":" + e.detail + " " + std::to_string(e.detail1));
    return out;
}

TEST(AtspiModel, EventsBetweenTrees) {
    struct Case {
        const char* name;
        std::function<void(TreeUpdate&)> edit;
        std::vector<std::string> events;
    };
    auto at = [](TreeUpdate& t, NodeId id) -> Node& {
        for (auto& [nid, n] : t.nodes)
            if (nid == id) return n;
        throw std::logic_error("no node");
    };
    const Case cases[] = {
        {"nothing", {}, {}},
        {"focus moves", [](TreeUpdate& t) { t.focus = 20; }, {"10 StateChanged:focused 0", "20 StateChanged:focused 1"}},
        {"switch turned off", [&](TreeUpdate& t) { at(t, 10).toggled = false; }, {"10 StateChanged:checked 0"}},
        {"progress", [&](TreeUpdate& t) { at(t, 40).numeric_value = 0.5; }, {"40 PropertyChange:accessible-value 0"}},
        {"text typed",
         [&](TreeUpdate& t) {
             at(t, 20).value = "ab";
             at(t, 20).character_lengths = {1, 1};
             at(t, 20).caret = 2;
         },
         {"20 TextChanged:delete 0", "20 TextChanged:insert 0", "20 TextCaretMoved: 2"}},
        {"password typed",
         [&](TreeUpdate& t) {
             at(t, 20).password = true;
             at(t, 20).value = "";
             at(t, 20).character_lengths = {};
         },
         {}},
        {"child replaced",
         [&](TreeUpdate& t) {
             at(t, window_node_id).children = {10, 20, 50};
             t.nodes.emplace_back(50, node(Role::Label));
         },
         {"1 ChildrenChanged:remove 2", "1 ChildrenChanged:add 2"}},
    };
    Index before = tree();
    for (const Case& c : cases) EXPECT_EQ(described(diff(before, tree(c.edit))), c.events) << c.name;
    // Window focus lost: the window is no longer active and its focus goes.
    EXPECT_EQ(described(diff(before, tree({}, false))),
              (std::vector<std::string>{"1 StateChanged:active 0", "10 StateChanged:focused 0"}));
}

// A live node tells its new label to screen readers once: when it appears
// with one and whenever the label changes; other nodes announce nothing.
TEST(AtspiModel, LiveNodesAnnounceTheirLabels) {
    auto label = [](std::optional<std::string> text, bool live) {
        Node n = node(Role::Label);
        n.label = std::move(text);
        n.live = live;
        return n;
    };
    struct Case {
        const char* name;
        std::optional<Node> before, after;  // the node 50, when present
        std::vector<std::string> announced;
    };
    const Case cases[] = {
        {"percentage moves on", label("5%", true), label("10%", true), {"10%"}},
        {"same text again", label("10%", true), label("10%", true), {}},
        {"appears with a text", std::nullopt, label("Done", true), {"Done"}},
        {"appears without a text", std::nullopt, label(std::nullopt, true), {}},
        {"a label of another page turns live", label("Installing", false), label("All done", true), {"All done"}},
        {"not live", label("5%", false), label("10%", false), {}},
        {"was live, no longer", label("5%", true), label("10%", false), {}},
    };
    for (const Case& c : cases) {
        auto with = [](const std::optional<Node>& n) {
            return tree([&n](TreeUpdate& t) {
                if (!n) return;
                t.nodes[0].second.children.push_back(50);
                t.nodes.emplace_back(50, *n);
            });
        };
        std::vector<std::string> announced;
        for (const Event& e : diff(with(c.before), with(c.after))) {
            if (e.member != "Announcement") continue;
            EXPECT_EQ(e.node, 50u) << c.name;
            EXPECT_EQ(e.detail, "") << c.name;
            EXPECT_EQ(e.detail1, live_polite) << c.name;
            announced.push_back(std::get<std::string>(e.value));
        }
        EXPECT_EQ(announced, c.announced) << c.name;
    }
}

}  // namespace
}  // namespace zem::access::atspi
