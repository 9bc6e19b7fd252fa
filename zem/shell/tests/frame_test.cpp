// Full and partial frames, decided and painted without a compositor.
#include <zem/shell/draw_frame.hpp>

#include <gtest/gtest.h>

using namespace zem;

namespace {

// Boxes at fixed places: each a pressable area filled blue, or a slider.
struct Placed {
    LayoutId id;  // its place in the tree, for the reader
    Rect rect;
    bool slider = false;
};

Element boxes(const std::vector<Placed>& list) {
    Stack st;
    for (const Placed& b : list) {
        StackChild c;
        if (b.slider) {
            c.element = Slider{};
        } else {
            CustomPaint paint;
            paint.painter = CustomPaint::Draw{std::make_shared<const CustomPaint::DrawFn>(
                [](Canvas& canvas, const Rect& r) { canvas.fill_rounded_rect(r, Color{0, 0, 1, 1}, Radii{}); })};
            paint.width = b.rect.w;
            paint.height = b.rect.h;
            GestureArea area;
            area.on_tap = Message(1);
            area.child = Element(std::move(paint));
            c.element = std::move(area);
        }
        c.placement = b.rect;
        st.children.push_back(std::move(c));
    }
    return st;
}

SurfaceState surface(uint32_t w, uint32_t h, int32_t scale) {
    SurfaceState s = create_surface_state(SurfaceRole{}, "", 0);
    s.size = {w, h};
    s.scale = scale;
    return s;
}

FrameInputs inputs(const Element& scene) {
    FrameInputs in;
    in.root = &scene;
    in.background = {1, 1, 1, 1};
    return in;
}

// Draws one frame as the frame step would; returns what it was.
FramePlan frame(SurfaceState& s, const FrameInputs& in) {
    FramePlan p = plan_frame(s);
    if (p.kind != FrameKind::Skipped) paint_frame(s, in, p);
    return p;
}

TEST(Frame, ZeroSizeDrawsNothingAndKeepsItsFlags) {
    SurfaceState s = surface(0, 600, 1);
    s.redraw = true;
    EXPECT_EQ(plan_frame(s).kind, FrameKind::Skipped);
    EXPECT_TRUE(s.relayout);
    EXPECT_FALSE(s.canvas);
}

TEST(Frame, CanvasSizeFollowsTheBufferScale) {
    const std::vector<std::tuple<int32_t, uint32_t, uint32_t>> cases = {{0, 400, 300}, {1, 400, 300}, {3, 1200, 900}};
    Element empty;
    for (auto [scale, W, H] : cases) {
        SurfaceState s = surface(400, 300, scale);
        auto in = inputs(empty);
        EXPECT_EQ(frame(s, in).kind, FrameKind::Full);
        ASSERT_TRUE(s.canvas);
        EXPECT_EQ(s.canvas->width(), W) << scale;
        EXPECT_EQ(s.canvas->height(), H) << scale;
        EXPECT_FALSE(s.relayout);
    }
}

// The id of the i-th box, as the last frame numbered it.
std::optional<LayoutId> id_of(const SurfaceState& s, std::optional<size_t> i) {
    if (!i) return std::nullopt;
    return s.regions.at(*i).id;
}

TEST(Frame, HoverChangesDrawPartialFramesUnlessDamageIsHalfTheSurface) {
    struct Case {
        const char* name;
        std::vector<Placed> boxes;
        std::optional<size_t> hover_before, hover_after;  // box index
        bool relayout;
        FrameKind want;
        std::vector<Rect> want_damage;
    };
    const std::vector<Case> cases = {
        {"hover A to B: partial, clipped to both", {{0, {10.5f, 10, 20, 20}}, {0, {50, 50, 10, 10}}}, 0, 1, false,
         FrameKind::Partial, {{10, 10, 21, 20}, {50, 50, 10, 10}}},
        {"damage exactly half the surface: full", {{0, {0, 0, 100, 50}}, {0, {0, 90, 1, 1}}}, std::nullopt, 0, false,
         FrameKind::Full, {}},
        {"a slider losing the hover: nothing drawn", {{0, {0, 0, 60, 30}, true}}, 0, std::nullopt, false,
         FrameKind::Skipped, {}},
        {"nothing changed: nothing drawn", {{0, {0, 0, 10, 10}}}, 0, 0, false, FrameKind::Skipped, {}},
        {"relayout asked (a rebuilt view): full", {{0, {10, 10, 20, 20}}, {0, {50, 50, 10, 10}}}, 0, 1, true,
         FrameKind::Full, {}},
    };
    for (const auto& c : cases) {
        SurfaceState s = surface(100, 100, 1);
        Element tree = boxes(c.boxes);
        auto in = inputs(tree);
        ASSERT_EQ(frame(s, in).kind, FrameKind::Full) << c.name;
        ASSERT_EQ(s.regions.size(), c.boxes.size()) << c.name;
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            if (!c.boxes[i].slider) {
                ASSERT_EQ(s.regions[i].painted_rect, c.boxes[i].rect) << c.name;
            }
        }
        s.hover = id_of(s, c.hover_before);
        frame(s, in);  // the state the change starts from
        s.hover = id_of(s, c.hover_after);
        s.relayout = c.relayout;
        FramePlan p = frame(s, in);
        EXPECT_EQ(p.kind, c.want) << c.name;
        if (c.want == FrameKind::Partial) {
            EXPECT_EQ(p.damage, c.want_damage) << c.name;
        }
    }
}

TEST(Frame, PartialFrameRepaintsOnlyTheDamageAndMatchesAFullOne) {
    Element tree = boxes({{0, {10, 10, 20, 20}}, {0, {50, 50, 10, 10}}});
    auto in = inputs(tree);
    SurfaceState s = surface(100, 100, 1);
    frame(s, in);
    s.hover = id_of(s, 0);
    frame(s, in);
    s.hover = id_of(s, 1);
    ASSERT_EQ(frame(s, in).kind, FrameKind::Partial);
    std::vector<uint8_t> partial(100 * 100 * 4), full(100 * 100 * 4);
    s.canvas->copy_to_buffer(partial, false);

    SurfaceState fresh = surface(100, 100, 1);
    frame(fresh, in);
    fresh.hover = id_of(fresh, 1);
    fresh.relayout = true;
    frame(fresh, in);
    fresh.canvas->copy_to_buffer(full, false);
    EXPECT_EQ(partial, full);
}

TEST(Frame, FullFrameWithUnchangedLayoutReportsOnlyChangedRectsToTheCompositor) {
    Element tree = boxes({{0, {10, 10, 20, 20}}, {0, {60, 60, 10, 10}}});
    auto in = inputs(tree);
    SurfaceState s = surface(100, 100, 1);
    frame(s, in);
    // A full frame (the canvas went away) while only the hover changed.
    s.hover = id_of(s, 0);
    s.canvas.reset();
    FramePlan p = frame(s, in);
    EXPECT_EQ(p.kind, FrameKind::Full);
    // The newly hovered widget, once from each frame's list.
    EXPECT_EQ(p.damage, (std::vector<Rect>{{9, 9, 22, 22}, {9, 9, 22, 22}}));
}

TEST(Frame, TitleBandMovesTheContentDown) {
    SurfaceState s = surface(200, 100, 2);
    s.top_inset = 36;
    Element tree = boxes({{0, {0, 0, 10, 10}}});
    auto in = inputs(tree);
    frame(s, in);
    ASSERT_EQ(s.regions.size(), 1u);
    EXPECT_EQ(s.regions[0].rect.y, 72.0f);
    EXPECT_EQ(s.close_button_rect, (Rect{400 - 72, 8, 56, 56}));
}

}  // namespace
