// Full and partial frames, decided and painted without a compositor.
#include <zem/app/draw_frame.hpp>

#include <gtest/gtest.h>

using namespace zem;

namespace {

// Paints each region's rect, darker when hovered; records the regions.
class Boxes final : public SceneNode {
public:
    explicit Boxes(std::vector<HitRegion> r) : regions_(std::move(r)) {}
    void layout_and_draw(FrameCanvas& c, FRect, FrameLayout& layout) const override {
        for (const HitRegion& r : regions_) {
            RGBA colour = layout.hovered == r.id ? RGBA{0, 0, 0.5f, 1} : RGBA{0, 0, 1, 1};
            c.fill_rounded_rect(r.painted_rect, colour, 0);
            layout.regions.push_back(r);
        }
    }
    std::vector<HitRegion> regions_;
};

HitRegion box(WidgetId id, FRect r, HitRegion::Action a = HitRegion::Press) {
    HitRegion h;
    h.id = id;
    h.rect = r;
    h.painted_rect = r;
    h.action = a;
    return h;
}

SurfaceState surface(uint32_t w, uint32_t h, int32_t scale) {
    SurfaceState s = create_surface_state(SurfaceRole{}, "", 0);
    s.size = {w, h};
    s.scale = scale;
    return s;
}

FrameInputs inputs(Scene scene) {
    FrameInputs in;
    in.root = std::move(scene);
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
    for (auto [scale, W, H] : cases) {
        SurfaceState s = surface(400, 300, scale);
        auto in = inputs(std::make_shared<Boxes>(std::vector<HitRegion>{}));
        EXPECT_EQ(frame(s, in).kind, FrameKind::Full);
        ASSERT_TRUE(s.canvas);
        EXPECT_EQ(s.canvas->width(), W) << scale;
        EXPECT_EQ(s.canvas->height(), H) << scale;
        EXPECT_FALSE(s.relayout);
    }
}

TEST(Frame, HoverChangesDrawPartialFramesUnlessDamageIsHalfTheSurface) {
    struct Case {
        const char* name;
        std::vector<HitRegion> regions;
        std::optional<WidgetId> hover_before, hover_after;
        bool relayout;
        FrameKind want;
        std::vector<FRect> want_damage;
    };
    const std::vector<Case> cases = {
        {"hover A to B: partial, clipped to both",
         {box(1, {10.5f, 10, 20, 20}), box(2, {50, 50, 10, 10})}, 1, 2, false, FrameKind::Partial,
         {{10, 10, 21, 20}, {50, 50, 10, 10}}},
        {"damage exactly half the surface: full", {box(1, {0, 0, 100, 50}), box(2, {0, 90, 1, 1})}, std::nullopt, 1,
         false, FrameKind::Full, {}},
        {"a slider losing the hover: nothing drawn", {box(1, {0, 0, 10, 10}, HitRegion::Slider)}, 1, std::nullopt,
         false, FrameKind::Skipped, {}},
        {"nothing changed: nothing drawn", {box(1, {0, 0, 10, 10})}, 1, 1, false, FrameKind::Skipped, {}},
        {"relayout asked (a rebuilt view): full", {box(1, {10, 10, 20, 20}), box(2, {50, 50, 10, 10})}, 1, 2, true,
         FrameKind::Full, {}},
    };
    for (const auto& c : cases) {
        SurfaceState s = surface(100, 100, 1);
        auto in = inputs(std::make_shared<Boxes>(c.regions));
        s.hover = c.hover_before;
        ASSERT_EQ(frame(s, in).kind, FrameKind::Full) << c.name;
        s.hover = c.hover_after;
        s.relayout = c.relayout;
        FramePlan p = frame(s, in);
        EXPECT_EQ(p.kind, c.want) << c.name;
        if (c.want == FrameKind::Partial) {
            EXPECT_EQ(p.damage, c.want_damage) << c.name;
        }
    }
}

TEST(Frame, PartialFrameRepaintsOnlyTheDamageAndMatchesAFullOne) {
    std::vector<HitRegion> regions = {box(1, {10, 10, 20, 20}), box(2, {50, 50, 10, 10})};
    auto in = inputs(std::make_shared<Boxes>(regions));
    SurfaceState s = surface(100, 100, 1);
    s.hover = 1;
    frame(s, in);
    s.hover = 2;
    ASSERT_EQ(frame(s, in).kind, FrameKind::Partial);
    std::vector<uint8_t> partial(100 * 100 * 4), full(100 * 100 * 4);
    s.canvas->copy_to_buffer(partial, false);

    SurfaceState fresh = surface(100, 100, 1);
    fresh.hover = 2;
    frame(fresh, in);
    fresh.canvas->copy_to_buffer(full, false);
    EXPECT_EQ(partial, full);
}

TEST(Frame, FullFrameWithUnchangedLayoutReportsOnlyChangedRectsToTheCompositor) {
    std::vector<HitRegion> regions = {box(1, {10, 10, 20, 20}), box(2, {60, 60, 10, 10})};
    auto in = inputs(std::make_shared<Boxes>(regions));
    SurfaceState s = surface(100, 100, 1);
    frame(s, in);
    // A redraw that is full (the hover moved while a redraw of everything
    // was not asked, but the canvas went away) still damages little.
    s.hover = 1;
    s.canvas.reset();
    FramePlan p = frame(s, in);
    EXPECT_EQ(p.kind, FrameKind::Full);
    // The newly hovered widget, once from each frame's list.
    EXPECT_EQ(p.damage, (std::vector<FRect>{{9, 9, 22, 22}, {9, 9, 22, 22}}));
}

TEST(Frame, TitleBandMovesTheContentDown) {
    SurfaceState s = surface(200, 100, 2);
    s.top_inset = 36;
    struct Probe final : SceneNode {
        mutable FRect seen;
        void layout_and_draw(FrameCanvas&, FRect content, FrameLayout&) const override { seen = content; }
    };
    auto probe = std::make_shared<Probe>();
    auto in = inputs(probe);
    frame(s, in);
    EXPECT_EQ(probe->seen, (FRect{0, 72, 400, 128}));
    EXPECT_EQ(s.close_button_rect, (FRect{400 - 72, 8, 56, 56}));
}

}  // namespace
