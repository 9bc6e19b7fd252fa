// The gesture recogniser replayed over one small frame: each row is a
// sequence of presses, moves, releases and waits, and the outcomes it must
// produce, in order.
#include <zem/input/gesture.hpp>
#include <zem/input/regions.hpp>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zem {
namespace {

using namespace std::chrono_literals;

HitAction::Press press(const char* on_press, const char* on_long_press = nullptr, const char* on_drag = nullptr,
                       bool auto_repeat = false) {
    HitAction::Press p;
    p.auto_repeat = auto_repeat;
    if (on_press) p.on_press = Message(std::string(on_press));
    if (on_long_press) p.on_long_press = Message(std::string(on_long_press));
    if (on_drag) p.on_drag = Message(std::string(on_drag));
    return p;
}

HitRegion region(LayoutId id, Rect r, HitAction::Press p) {
    HitRegion h;
    h.id = id;
    h.rect = r;
    h.action.value = std::move(p);
    return h;
}

// B: a button; L: long press; D: drag; A: auto-repeat; S: slider 0..100
// (inset 24) under B's row; T: a text field; O over B's right half, drawn
// later. V: a vertical scroll area over the lower right of the surface.
struct Frame {
    std::vector<HitRegion> regions;
    std::vector<ScrollArea> areas;

    Frame() {
        regions.push_back(region(1, {100, 100, 200, 80}, press("B")));
        regions.push_back(region(2, {400, 100, 100, 80}, press(nullptr, "L")));
        regions.push_back(region(3, {600, 100, 100, 80}, press(nullptr, nullptr, "D")));
        regions.push_back(region(4, {800, 100, 100, 80},
                                 press("A", nullptr, nullptr, true)));
        HitRegion s;
        s.id = 5;
        s.rect = {0, 200, 100, 40};
        auto say = [](const char* tag) {
            return value_callback([tag](float v) -> std::optional<Message> {
                return Message(fmt::format("{}{:.2f}", tag, v));
            });
        };
        s.action.value = HitAction::Slider{.track_inset = 24, .on_change = say("S="), .on_release = say("S!")};
        regions.push_back(std::move(s));
        HitRegion t;
        t.id = 6;
        t.rect = {300, 200, 200, 40};
        t.action.value = HitAction::TextEdit{};
        regions.push_back(std::move(t));
        regions.push_back(region(7, {250, 100, 50, 80}, press("O")));
        areas.push_back({{600, 400, 400, 600}, 9, ScrollAxis::Vertical});
    }
};

enum Kind { Pointer, Touch };
struct Step {
    char op;  // p press, m move, r release, w wait (x = ms), c cancel
    float x = 0, y = 0;
};
struct Row {
    const char* name;
    Kind kind;
    std::vector<Step> steps;
    std::vector<std::string> expected;
};

std::string text(const Message& m) { return *m.get<std::string>(); }

std::string show(const MotionOutcome& o, const ScrollOffsets& off) {
    return std::visit(
        [&](const auto& v) -> std::string {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, motion::Nothing>) return "";
            else if constexpr (std::is_same_v<V, motion::DragMove>) return fmt::format("DragMove({},{})", v.x, v.y);
            else if constexpr (std::is_same_v<V, motion::SliderMoved>)
                return "Slider(" + (v.message ? text(*v.message) : std::string("-")) + ")";
            else if constexpr (std::is_same_v<V, motion::Scrolled>)
                return fmt::format("Scrolled({})", off.count(9) ? off.at(9).second : 0.0f);
            else if constexpr (std::is_same_v<V, motion::Pull>) return fmt::format("Pull({:.2f})", v.ratio);
            else
                return fmt::format("Edge({}{}{})", v.up ? "up" : "", v.down ? "down" : "",
                                   v.horizontal ? fmt::format("h{:.2f}", v.horizontal_progress) : "");
        },
        o);
}

std::string show(const GestureOutcome& o) {
    return std::visit(
        [](const auto& v) -> std::string {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, gesture::DragEnd>) return fmt::format("DragEnd({},{})", v.x, v.y);
            else if constexpr (std::is_same_v<V, gesture::SwipeLeft>) return "SwipeLeft";
            else if constexpr (std::is_same_v<V, gesture::SwipeRight>) return "SwipeRight";
            else if constexpr (std::is_same_v<V, gesture::SwipeUp>) return "SwipeUp";
            else if constexpr (std::is_same_v<V, gesture::SwipeDown>) return "SwipeDown";
            else if constexpr (std::is_same_v<V, gesture::PullRelease>)
                return v.refresh ? "PullRelease(refresh)" : "PullRelease";
            else if constexpr (std::is_same_v<V, gesture::HorizontalSwipeCancel>) return "HCancel";
            else if constexpr (std::is_same_v<V, gesture::VerticalSwipeCancel>) return "VCancel";
            else if constexpr (std::is_same_v<V, gesture::Tap>) return "Tap(" + text(v.message) + ")";
            else return "TapOutside";
        },
        o);
}

// A small move outside any scroll area reads as the start of an edge swipe
// (down, with no progress yet) until it passes the slop.
//
// Replays a row with a clock of our own. A wait reports the long press the
// way the shell fires it: once, when due, taking its message.
std::vector<std::string> replay(const Row& row) {
    Frame f;
    GestureRecognizer g;
    ScrollOffsets offsets;
    GestureConfig c;
    c.width_px = c.height_px = 1000;
    InputInstant now{};
    std::vector<std::string> trace;
    for (const Step& s : row.steps) {
        switch (s.op) {
        case 'p': {
            auto hit = g.hit_test(f.regions, f.areas, s.x, s.y, now);
            g.pointer_press = row.kind == Pointer;
            if (hit.slider_message) trace.push_back("Slider(" + text(*hit.slider_message) + ")");
            break;
        }
        case 'm':
            if (auto t = show(g.update(f.regions, offsets, c, false, s.x, s.y), offsets); !t.empty())
                trace.push_back(t);
            break;
        case 'r':
            for (const auto& o : g.finish(f.regions, c, false, s.x, s.y)) trace.push_back(show(o));
            break;
        case 'w':
            now += std::chrono::milliseconds(int(s.x));
            if (g.long_press_due(now)) {
                trace.push_back("LongPress(" + (g.long_press_message ? text(*g.long_press_message) : "") +
                                (g.drag_message ? text(*g.drag_message) : "") + ")");
                g.long_press_start.reset();
                g.long_press_message.reset();
                if (g.drag_message) g.drag_active = true;
                g.drag_message.reset();
            }
            break;
        case 'c':
            g.reset();
            break;
        }
    }
    return trace;
}

const std::vector<Row> kRows = {
    {"tap", Touch, {{'p', 150, 140}, {'r', 150, 140}}, {"Tap(B)"}},
    {"tap on the right edge, inclusive", Touch, {{'p', 100, 180}, {'r', 100, 180}}, {"Tap(B)"}},
    {"overlapping regions: the later one wins", Pointer, {{'p', 260, 140}, {'r', 260, 140}}, {"Tap(O)"}},
    {"released over another region", Touch, {{'p', 150, 140}, {'r', 450, 140}}, {}},
    {"press outside, release inside", Touch, {{'p', 50, 50}, {'r', 150, 140}}, {"VCancel"}},
    {"tap outside everything", Touch, {{'p', 50, 50}, {'r', 50, 50}}, {"VCancel", "TapOutside"}},
    {"double tap: two taps", Touch,
     {{'p', 150, 140}, {'r', 150, 140}, {'w', 100}, {'p', 152, 140}, {'r', 152, 140}}, {"Tap(B)", "Tap(B)"}},
    {"long press at 499 ms", Touch, {{'p', 450, 140}, {'w', 499}, {'r', 450, 140}}, {}},
    {"long press at 500 ms", Touch, {{'p', 450, 140}, {'w', 500}, {'w', 400}}, {"LongPress(L)"}},
    {"long press at 501 ms", Touch, {{'p', 450, 140}, {'w', 501}}, {"LongPress(L)"}},
    {"long press fires once", Touch, {{'p', 450, 140}, {'w', 500}, {'w', 500}, {'w', 500}}, {"LongPress(L)"}},
    {"touch moving 7 px gives up the long press", Touch, {{'p', 450, 140}, {'m', 457, 140}, {'w', 600}},
     {"Edge(down)"}},
    {"touch moving 6 px keeps it", Touch, {{'p', 450, 140}, {'m', 456, 140}, {'w', 600}},
     {"Edge(down)", "LongPress(L)"}},
    {"a pointer keeps it over 7 px", Pointer, {{'p', 450, 140}, {'m', 457, 140}, {'w', 600}},
     {"Edge(down)", "LongPress(L)"}},
    {"long press with a drag message starts a drag", Pointer,
     {{'p', 650, 140}, {'w', 500}, {'m', 700, 300}, {'r', 700, 300}},
     {"LongPress(D)", "DragMove(700,300)", "DragEnd(700,300)"}},
    {"auto-repeat button: no tap on release", Touch, {{'p', 850, 140}, {'r', 850, 140}}, {}},
    {"slider: press, drag, release", Touch,
     {{'p', 12, 220}, {'m', 50, 220}, {'m', 95, 220}, {'r', 95, 220}},
     {"Slider(S=0.00)", "Slider(S=0.50)", "Slider(S=1.00)", "Tap(S!1.00)"}},
    {"scroll: 8 px is nothing", Touch, {{'p', 800, 600}, {'m', 800, 592}, {'r', 800, 592}},
     {"VCancel", "TapOutside"}},
    {"scroll: 9 px locks and scrolls 9", Touch, {{'p', 800, 600}, {'m', 800, 591}, {'r', 800, 591}},
     {"Scrolled(9)"}},
    {"two moves scroll on", Touch, {{'p', 800, 700}, {'m', 800, 650}, {'m', 800, 600}, {'r', 800, 600}},
     {"Scrolled(50)", "Scrolled(100)"}},
    {"overscroll, then back", Touch,
     {{'p', 800, 500}, {'m', 800, 600}, {'m', 800, 560}, {'r', 800, 560}},
     {"Pull(0.10)", "Pull(0.06)", "PullRelease"}},
    {"a long pull refreshes", Touch, {{'p', 800, 450}, {'m', 800, 750}, {'r', 800, 750}},
     {"Pull(0.30)", "PullRelease(refresh)"}},
    {"swipe up 600 px", Touch, {{'p', 50, 700}, {'m', 50, 100}, {'r', 50, 100}}, {"Edge(up)", "SwipeUp"}},
    {"swipe up 599 px falls short", Touch, {{'p', 50, 699}, {'m', 50, 100}, {'r', 50, 100}},
     {"Edge(up)", "VCancel"}},
    {"swipe down 150 px", Touch, {{'p', 50, 10}, {'m', 50, 160}, {'r', 50, 160}}, {"Edge(down)", "SwipeDown"}},
    {"swipe right 500 px", Touch, {{'p', 20, 50}, {'m', 520, 50}, {'r', 520, 50}}, {"Edge(h1.00)", "SwipeRight"}},
    {"swipe right 499 px falls short", Touch, {{'p', 20, 50}, {'m', 519, 50}, {'r', 519, 50}},
     {"Edge(h1.00)", "HCancel", "VCancel"}},
    // The recogniser reads distance, not speed: a fast flick is the same
    // release as a slow one.
    {"fling left", Touch, {{'p', 900, 50}, {'m', 300, 50}, {'r', 300, 50}}, {"Edge(h-1.20)", "SwipeLeft"}},
    {"cancel mid-gesture, then a fresh tap", Touch,
     {{'p', 650, 140}, {'w', 500}, {'c'}, {'p', 150, 140}, {'r', 150, 140}}, {"LongPress(D)", "Tap(B)"}},
    {"cancel mid-scroll, then a fresh tap", Touch,
     {{'p', 800, 700}, {'m', 800, 650}, {'c'}, {'p', 150, 140}, {'r', 150, 140}}, {"Scrolled(50)", "Tap(B)"}},
};

TEST(GestureRecognizer, EventSequences) {
    for (const Row& row : kRows) EXPECT_EQ(replay(row), row.expected) << row.name;
}

TEST(GestureRecognizer, SliderRatios) {
    Rect r{0, 200, 100, 40};
    struct {
        bool vertical;
        float x, y, ratio;
    } rows[] = {{false, 12, 0, 0.0f}, {false, 50, 0, 0.5f}, {false, 95, 0, 1.0f},
                {false, -5, 0, 0.0f}, {true, 0, 200, 1.0f}, {true, 0, 240, 0.0f}, {true, 0, 220, 0.5f}};
    for (auto& row : rows)
        EXPECT_FLOAT_EQ(slider_ratio(r, row.vertical, row.x, row.y, 24), row.ratio) << row.x << "," << row.y;
}

TEST(ClickHistory, DoubleClickWithinTimeAndDistance) {
    struct {
        int ms;
        float dx;
        bool twice;
    } rows[] = {{400, 6.0f, true}, {401, 0, false}, {0, 6.1f, false}, {399, 0, true}};
    for (auto& row : rows) {
        ClickHistory h;
        InputInstant t{};
        EXPECT_FALSE(h.register_click(t, 10, 10));
        EXPECT_EQ(h.register_click(t + std::chrono::milliseconds(row.ms), 10 + row.dx, 10), row.twice)
            << row.ms << " ms, " << row.dx << " px";
    }
    // A third click right after a double click starts over.
    ClickHistory h;
    InputInstant t{};
    h.register_click(t, 0, 0);
    EXPECT_TRUE(h.register_click(t + 10ms, 0, 0));
    EXPECT_FALSE(h.register_click(t + 20ms, 0, 0));
}

}  // namespace
}  // namespace zem
