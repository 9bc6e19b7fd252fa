// Requests from assistive technologies, carried out by the loop.
#include <zem/shell/accessibility.hpp>
#include <zem/shell/app_data.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace zem {
namespace {

using access::A11yAction;
using access::ActionRequest;
using namespace std::chrono_literals;

struct Fixture {
    std::unique_ptr<event_loop::Reactor> reactor;
    AppData d{nullptr};

    Fixture() {
        auto r = event_loop::Reactor::create();
        EXPECT_TRUE(r);
        reactor = std::move(*r);
        d.reactor = reactor.get();
        EXPECT_TRUE(setup_accessibility(d, *reactor, false));
        d.main_surface.size = {400, 300};
    }
};

HitRegion region(LayoutId id, HitAction action, Rect rect = {0, 0, 50, 20}) {
    HitRegion r;
    r.id = id;
    r.action = std::move(action);
    r.rect = rect;
    return r;
}

int message_value(const Message& m) {
    const int* v = m.get<int>();
    return v ? *v : -1;
}

// A request sent from another thread wakes a loop that sleeps with no
// deadline of its own; without the wake the dispatch would return empty
// after its whole timeout.
TEST(Accessibility, RequestsFromTheBusWakeTheLoop) {
    Fixture f;
    std::thread bus([&f] { f.d.accessibility->request(ActionRequest{A11yAction::Click, 42, {}, {}}); });
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (f.d.a11y_pending.empty() && std::chrono::steady_clock::now() < deadline)
        ASSERT_TRUE(f.reactor->dispatch(10s));
    bus.join();
    ASSERT_EQ(f.d.a11y_pending.size(), 1u);
    EXPECT_EQ(f.d.a11y_pending.front().target, 42u);
}

TEST(Accessibility, ActionsReachTheirWidgets) {
    Fixture f;
    auto on_value = std::make_shared<const std::function<std::optional<Message>(float)>>(
        [](float v) -> std::optional<Message> { return Message(int(v * 100 + 0.5f)); });
    auto on_text = std::make_shared<const std::function<std::optional<Message>(const std::string&)>>(
        [](const std::string& t) -> std::optional<Message> { return Message(int(t.size())); });
    HitAction::Press press;
    press.on_press = Message(7);
    HitAction::Slider slider;
    slider.value = 0.98f;
    slider.on_change = on_value;
    HitAction::TextEdit field;
    field.on_change = on_text;
    f.d.main_surface.regions = {region(1, {press}), region(2, {slider}), region(3, {field})};

    struct Case {
        const char* name;
        ActionRequest request;
        int message;  // -1: none
    };
    const Case cases[] = {
        {"click", {A11yAction::Click, access::widget_node_id(0, 1), {}, {}}, 7},
        {"click on the window", {A11yAction::Click, access::window_node_id, {}, {}}, -1},
        {"click on a text run", {A11yAction::Click, access::text_run_node_id(0, 1), {}, {}}, -1},
        {"click on an unknown overlay", {A11yAction::Click, access::widget_node_id(3, 1), {}, {}}, -1},
        {"increment past the end", {A11yAction::Increment, access::widget_node_id(0, 2), {}, {}}, 100},
        {"decrement", {A11yAction::Decrement, access::widget_node_id(0, 2), {}, {}}, 93},
        {"set a number", {A11yAction::SetValue, access::widget_node_id(0, 2), {}, 1.7}, 100},
        {"set text on a slider", {A11yAction::SetValue, access::widget_node_id(0, 2), "abc", {}}, -1},
        {"set text", {A11yAction::SetValue, access::widget_node_id(0, 3), "Tavix", {}}, 5},
        {"set a number on a field", {A11yAction::SetValue, access::widget_node_id(0, 3), {}, 0.5}, -1},
    };
    for (const Case& c : cases) {
        f.d.messages.clear();
        f.d.a11y_work_left = false;
        f.d.a11y_pending.push_back(c.request);
        apply_accessibility_actions(f.d);
        if (c.message < 0) {
            EXPECT_TRUE(f.d.messages.empty()) << c.name;
            EXPECT_FALSE(f.d.a11y_work_left) << c.name;
        } else {
            ASSERT_EQ(f.d.messages.size(), 1u) << c.name;
            EXPECT_EQ(message_value(f.d.messages.front()), c.message) << c.name;
            // The next dispatch must not sleep on the message.
            EXPECT_TRUE(f.d.a11y_work_left) << c.name;
        }
    }
}

TEST(Accessibility, FocusIsSetEvenOnAWidgetNotInTheLastFrame) {
    Fixture f;
    f.d.a11y_pending.push_back(ActionRequest{A11yAction::Focus, access::widget_node_id(0, 9), {}, {}});
    apply_accessibility_actions(f.d);
    EXPECT_EQ(f.d.main_surface.focus, LayoutId{9});
    EXPECT_TRUE(f.d.main_surface.redraw);
}

// The frame lists the inner scroll area before the one around it.
TEST(Accessibility, ScrollingMovesTheInnermostArea) {
    Fixture f;
    SurfaceState& s = f.d.main_surface;
    s.scroll_regions = {ScrollArea{{0, 100, 200, 100}, 5}, ScrollArea{{0, 0, 400, 300}, 1}};
    s.regions = {region(8, {HitAction::ListItem{Message(1)}}, {0, 180, 200, 40})};
    f.d.a11y_pending.push_back(ActionRequest{A11yAction::ScrollIntoView, access::widget_node_id(0, 8), {}, {}});
    apply_accessibility_actions(f.d);
    EXPECT_EQ(s.kept.scroll_offsets[5], (std::pair<float, float>{0, 20}));
    EXPECT_FALSE(s.kept.scroll_offsets.contains(1));
    EXPECT_TRUE(s.redraw && s.relayout);

    s.scale = 2;
    f.d.a11y_pending.push_back(ActionRequest{A11yAction::ScrollDown, access::widget_node_id(0, 77), {}, {}});
    apply_accessibility_actions(f.d);
    EXPECT_EQ(s.kept.scroll_offsets[5], (std::pair<float, float>{0, 180}));
    EXPECT_FALSE(s.kept.scroll_offsets.contains(1));
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

// While nothing listens no tree is built; activation asks the loop for one
// at once, so an idle application is readable without another event.
TEST(Accessibility, TreesAreBuiltOnlyWhileSomeoneListens) {
    Fixture f;
    f.d.app_id = "net.example.App";
    f.d.main_surface.regions = {region(1, {HitAction::Press{}})};
    update_accessibility(f.d, true);
    EXPECT_EQ(f.d.accessibility->published().tree->nodes.size(), 1u);

    f.d.accessibility->activate();
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (f.d.a11y_pending.empty() && std::chrono::steady_clock::now() < deadline)
        ASSERT_TRUE(f.reactor->dispatch(10s));
    ASSERT_EQ(f.d.a11y_pending.size(), 1u);
    EXPECT_EQ(f.d.a11y_pending.front().action, A11yAction::Refresh);
    // Nothing was drawn, yet the first tree is built.
    update_accessibility(f.d, false);
    auto tree = f.d.accessibility->published().tree;
    EXPECT_EQ(tree->nodes.size(), 2u);
    EXPECT_EQ(tree->find(access::window_node_id)->label, "net.example.App");
    // Only once: later iterations that draw nothing build nothing.
    f.d.main_surface.regions.clear();
    update_accessibility(f.d, false);
    EXPECT_EQ(f.d.accessibility->published().tree, tree);

    f.d.accessibility->deactivate();
    update_accessibility(f.d, true);
    EXPECT_EQ(f.d.accessibility->published().tree, tree);
}

// Overlays that show nothing take no number; requests for a later overlay
// reach it by the number it carried in the last tree.
TEST(Accessibility, OverlaysAreNumberedAsTheTreeShowsThem) {
    Fixture f;
    f.d.overlay_surfaces[3].size = {0, 40};
    f.d.overlay_surfaces[7].size = {100, 40};
    f.d.overlay_surfaces[7].regions = {region(2, {HitAction::Press{}})};
    auto surfaces = snapshot_surfaces(f.d);
    ASSERT_EQ(surfaces.size(), 2u);
    EXPECT_EQ(surfaces[1].number, 1);
    EXPECT_EQ(f.d.a11y_overlay_numbers, (std::vector<OverlayId>{7}));
    f.d.a11y_pending.push_back(ActionRequest{A11yAction::Focus, access::widget_node_id(1, 2), {}, {}});
    f.d.a11y_pending.push_back(ActionRequest{A11yAction::Focus, access::widget_node_id(2, 2), {}, {}});
    apply_accessibility_actions(f.d);
    EXPECT_EQ(f.d.overlay_surfaces[7].focus, LayoutId{2});
    EXPECT_FALSE(f.d.overlay_surfaces[3].focus);
    EXPECT_FALSE(f.d.main_surface.focus);
}

}  // namespace
}  // namespace zem
