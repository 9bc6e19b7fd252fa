#include <zem/access/tree.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zem::access {
namespace {

HitRegion region(LayoutId id, HitAction action, std::optional<std::string> text = std::nullopt,
                 Rect rect = {10, 20, 30, 40}) {
    HitRegion r;
    r.id = id;
    r.action = std::move(action);
    r.text = std::move(text);
    r.rect = rect;
    return r;
}

AccessNode static_node(LayoutId id, AccessNodeKind kind, std::optional<std::string> text = std::nullopt) {
    AccessNode n;
    n.id = id;
    n.kind = kind;
    n.text = std::move(text);
    n.rect = {0, 0, 10, 10};
    return n;
}

A11ySurface main_surface() {
    A11ySurface s;
    s.main = true;
    s.width = 800;
    s.height = 600;
    return s;
}

TextCallback text_callback() {
    return std::make_shared<const std::function<std::optional<Message>(const std::string&)>>(
        [](const std::string&) -> std::optional<Message> { return Message(1); });
}

ValueCallback value_callback() {
    return std::make_shared<const std::function<std::optional<Message>(float)>>(
        [](float) -> std::optional<Message> { return Message(1); });
}

TEST(AccessIds, LayoutOfTheBits) {
    EXPECT_EQ(widget_node_id(0, 7), (1ull << 48) + 7);
    EXPECT_EQ(static_node_id(2, 3), (1ull << 48) + (1ull << 32) + (2ull << 40) + 3);
    EXPECT_EQ(text_run_node_id(1, 9), (1ull << 48) + (2ull << 32) + (1ull << 40) + 9);
    EXPECT_EQ(surface_node_id(255), (1ull << 48) + (3ull << 32) + (255ull << 40));
    // Only the low 32 bits of a widget number fit.
    EXPECT_EQ(widget_node_id(0, (1ull << 32) + 5), (1ull << 48) + 5);
}

TEST(AccessIds, OnlyWidgetsAreTargets) {
    EXPECT_EQ(decode_widget_target(widget_node_id(3, 42)), (WidgetTarget{3, 42}));
    for (NodeId id : {window_node_id, static_node_id(0, 1), text_run_node_id(0, 1), surface_node_id(1), NodeId{42}})
        EXPECT_FALSE(decode_widget_target(id)) << id;
}

TEST(AccessTree, RolesDisabledAndToggledByKind) {
    struct Case {
        const char* name;
        HitAction action;
        Role role;
        bool disabled;
        std::optional<bool> toggled;
    };
    HitAction::Press live_press;
    live_press.on_long_press = Message(1);
    HitAction::TextEdit multiline;
    multiline.multiline = true;
    multiline.on_submit = Message(1);
    HitAction::TextEdit dead_field;
    HitAction::Slider live_slider;
    live_slider.on_change = value_callback();
    const Case cases[] = {
        {"none", {HitAction::None{}}, Role::GenericContainer, true, std::nullopt},
        {"press without messages", {HitAction::Press{}}, Role::Button, true, false},
        {"press with long press only", {live_press}, Role::Button, false, false},
        {"switch on", {HitAction::Switch{true, Message(1)}}, Role::Switch, false, true},
        {"switch without message", {HitAction::Switch{false, std::nullopt}}, Role::Switch, true, false},
        {"checkbox", {HitAction::Checkbox{true, Message(1)}}, Role::CheckBox, false, true},
        {"radio", {HitAction::RadioButton{false, Message(1)}}, Role::RadioButton, false, false},
        {"list item", {HitAction::ListItem{Message(1)}}, Role::ListItem, false, false},
        {"window button", {HitAction::WindowButton{std::nullopt}}, Role::Button, true, false},
        {"multi-line field", {multiline}, Role::MultilineTextInput, false, std::nullopt},
        {"field without callbacks", {dead_field}, Role::TextInput, true, std::nullopt},
        {"slider", {live_slider}, Role::Slider, false, std::nullopt},
        {"slider without callback", {HitAction::Slider{}}, Role::Slider, true, std::nullopt},
    };
    for (const Case& c : cases) {
        A11ySurface s = main_surface();
        s.regions.push_back(region(5, c.action));
        TreeUpdate t = build_accessibility_tree({s}, 0, "app");
        const Node* n = t.find(widget_node_id(0, 5));
        ASSERT_NE(n, nullptr) << c.name;
        EXPECT_EQ(n->role, c.role) << c.name;
        EXPECT_EQ(n->disabled, c.disabled) << c.name;
        EXPECT_EQ(n->toggled, c.toggled) << c.name;
    }
}

TEST(AccessTree, PressedButtonIsToggledOnlyWhilePressed) {
    A11ySurface s = main_surface();
    s.regions.push_back(region(1, {HitAction::Press{}}));
    s.regions.push_back(region(2, {HitAction::ListItem{Message(1)}}));
    s.pressed = 2;
    TreeUpdate t = build_accessibility_tree({s}, 0, "app");
    EXPECT_EQ(t.find(widget_node_id(0, 1))->toggled, false);
    EXPECT_EQ(t.find(widget_node_id(0, 2))->toggled, true);
}

TEST(AccessTree, RootBoundsLabelAndChildrenInPageOrder) {
    A11ySurface s = main_surface();
    // The frame records regions and nodes separately; the page order is
    // their layout numbers: heading, button, label, bar.
    s.regions.push_back(region(3, {HitAction::Press{}}, "Primary"));
    s.statics.push_back(static_node(1, AccessNodeKind::Text, "Gallery"));
    s.statics.push_back(static_node(7, AccessNodeKind::ProgressBar));
    s.statics.push_back(static_node(5, AccessNodeKind::Text, "Copying files"));
    TreeUpdate t = build_accessibility_tree({s}, 0, "net.example.App");
    const Node* root = t.find(window_node_id);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(t.nodes.front().first, window_node_id);
    EXPECT_EQ(root->role, Role::Window);
    EXPECT_EQ(root->label, "net.example.App");
    EXPECT_EQ(root->bounds, (Bounds{0, 0, 800, 600}));
    EXPECT_EQ(root->children, (std::vector<NodeId>{static_node_id(0, 0), widget_node_id(0, 3), static_node_id(0, 2),
                                                   static_node_id(0, 1)}));
    EXPECT_EQ(t.find(static_node_id(0, 1))->role, Role::ProgressIndicator);
    EXPECT_EQ(t.find(static_node_id(0, 1))->max_value, 1.0);
    EXPECT_EQ(t.find(static_node_id(0, 0))->label, "Gallery");
}

TEST(AccessTree, LiveStaticsStayLive) {
    A11ySurface s = main_surface();
    s.statics.push_back(static_node(1, AccessNodeKind::Text, "Installing"));
    s.statics.push_back(static_node(2, AccessNodeKind::Text, "40%"));
    s.statics.back().live = true;
    TreeUpdate t = build_accessibility_tree({s}, 0, "net.example.App");
    EXPECT_FALSE(t.find(static_node_id(0, 0))->live);
    EXPECT_TRUE(t.find(static_node_id(0, 1))->live);
}

TEST(AccessTree, LabelFallsBackToTooltip) {
    A11ySurface s = main_surface();
    HitRegion r = region(1, {HitAction::Press{}});
    r.tooltip = "Close";
    s.regions.push_back(r);
    EXPECT_EQ(build_accessibility_tree({s}, 0, "a").find(widget_node_id(0, 1))->label, "Close");
}

TEST(AccessTree, PasswordFieldNeverCarriesItsText) {
    A11ySurface s = main_surface();
    HitAction::TextEdit field;
    field.password = true;
    field.text = "hunter2";
    field.on_change = text_callback();
    s.regions.push_back(region(4, {field}, "typed"));
    s.edited_texts[4] = "s3cret";
    s.carets[4] = 3;
    TreeUpdate t = build_accessibility_tree({s}, 0, "a");
    const Node* n = t.find(widget_node_id(0, 4));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->label, "password");
    EXPECT_EQ(n->value, "");
    EXPECT_EQ(n->caret, 0u);
    const Node* run = t.find(text_run_node_id(0, 4));
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->value, "");
    EXPECT_TRUE(run->character_lengths.empty());
}

TEST(AccessTree, TextFieldTextAndCaret) {
    struct Case {
        std::optional<std::size_t> caret_byte;
        std::size_t index;
    };
    // "aé": é takes two bytes; a caret inside it moves back to its start.
    const Case cases[] = {{std::nullopt, 2}, {3, 2}, {2, 1}, {1, 1}, {0, 0}, {99, 2}};
    for (const Case& c : cases) {
        A11ySurface s = main_surface();
        HitAction::TextEdit field;
        field.text = "old";
        field.on_change = text_callback();
        s.regions.push_back(region(4, {field}));
        s.edited_texts[4] = "a\xC3\xA9";
        if (c.caret_byte) s.carets[4] = *c.caret_byte;
        TreeUpdate t = build_accessibility_tree({s}, 0, "a");
        const Node* n = t.find(widget_node_id(0, 4));
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->value, "a\xC3\xA9");
        EXPECT_EQ(n->character_lengths, (std::vector<std::uint8_t>{1, 2}));
        EXPECT_EQ(n->caret, c.index) << (c.caret_byte ? *c.caret_byte : 1000);
        EXPECT_EQ(n->children, (std::vector<NodeId>{text_run_node_id(0, 4)}));
        // The text run follows its field directly.
        auto at = std::find_if(t.nodes.begin(), t.nodes.end(),
                               [](const auto& p) { return p.first == widget_node_id(0, 4); });
        ASSERT_NE(std::next(at), t.nodes.end());
        EXPECT_EQ(std::next(at)->first, text_run_node_id(0, 4));
    }
}

TEST(AccessTree, UneditedFieldShowsItsOwnText) {
    A11ySurface s = main_surface();
    HitAction::TextEdit field;
    field.text = "Tavix";
    s.regions.push_back(region(4, {field}));
    EXPECT_EQ(build_accessibility_tree({s}, 0, "a").find(widget_node_id(0, 4))->value, "Tavix");
}

TEST(AccessTree, CharLengths) {
    EXPECT_EQ(utf8_char_lengths("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(utf8_char_lengths("").empty());
}

TEST(AccessTree, FocusFollowsTheKeyboardSurface) {
    A11ySurface m = main_surface();
    m.regions.push_back(region(1, {HitAction::Press{}}));
    m.focus = 1;
    A11ySurface o;
    o.number = 1;
    o.width = 100;
    o.height = 50;
    o.x = 40;
    o.y = 60;
    o.title = "Menu";
    o.regions.push_back(region(2, {HitAction::Press{}}, std::nullopt, {0, 0, 10, 10}));
    o.statics.push_back(static_node(1, AccessNodeKind::Text, "Title"));
    o.focus = 2;

    TreeUpdate on_main = build_accessibility_tree({m, o}, 0, "a");
    EXPECT_EQ(on_main.focus, widget_node_id(0, 1));
    // A focused widget offers focus even when its kind does not.
    EXPECT_TRUE(on_main.find(widget_node_id(0, 1))->has(Action::Focus));

    TreeUpdate on_overlay = build_accessibility_tree({m, o}, 1, "a");
    EXPECT_EQ(on_overlay.focus, widget_node_id(1, 2));
    EXPECT_EQ(on_overlay.find(widget_node_id(1, 2))->bounds, (Bounds{40, 60, 50, 70}));

    o.focus.reset();
    EXPECT_EQ(build_accessibility_tree({m, o}, 1, "a").focus, window_node_id);

    const Node* root = on_overlay.find(window_node_id);
    EXPECT_EQ(root->children.back(), surface_node_id(1));
    const Node* dialog = on_overlay.find(surface_node_id(1));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->role, Role::Dialog);
    EXPECT_EQ(dialog->label, "Menu");
    EXPECT_EQ(dialog->bounds, (Bounds{40, 60, 140, 110}));
    EXPECT_EQ(dialog->children, (std::vector<NodeId>{static_node_id(1, 0), widget_node_id(1, 2)}));
}

TEST(AccessTree, NoMainSurfaceGivesAnEmptyWindow) {
    TreeUpdate t = build_accessibility_tree({}, 0, "a");
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.nodes[0].second.bounds, Bounds{});
    EXPECT_EQ(t.focus, window_node_id);
}

}  // namespace
}  // namespace zem::access
