// Damage-only copies into shared-memory buffers: whatever sequence of full
// and partial frames, and whichever buffer the compositor hands back, the
// buffer drawn to ends up equal to the canvas.
#include <zem/canvas/canvas.hpp>
#include <zem/shell/buffer_damage.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

using namespace zem;

namespace {

constexpr uint32_t kW = 64, kH = 48;

struct Frame {
    size_t buffer;            // the buffer the compositor let go of
    std::vector<Rect> damage; // empty: a full frame
};

std::vector<uint8_t> whole(const Canvas& c) {
    std::vector<uint8_t> out(size_t(kW) * kH * 4);
    c.copy_to_buffer(out, false);
    return out;
}

TEST(BufferDamage, EveryBufferDrawnToEqualsTheCanvas) {
    // Two or three buffers taken in the orders a compositor returns them,
    // partial frames in between full ones, fractional and off-canvas damage,
    // and more missed rectangles than a buffer keeps one by one.
    const std::vector<Frame> frames = {
        {0, {}},
        {1, {{4, 4, 10, 10}}},  // buffer 1 is new: copied whole
        {0, {{20.5f, 3.2f, 7.1f, 5.6f}}},
        {0, {{40, 30, 30, 30}}},  // past the canvas edge
        {1, {{1, 1, 3, 3}}},      // buffer 1 missed the last two frames
        {2, {{10, 20, 5, 5}}},
        {2, {}},                  // full: 0 and 1 become incomplete
        {0, {{30, 10, 4, 4}}},
        {1, {{2, 40, 6, 6}}},
        {2, {{0, 0, 1, 1}}}, {2, {{3, 0, 1, 1}}}, {2, {{6, 0, 1, 1}}}, {2, {{9, 0, 1, 1}}},
        {2, {{12, 0, 1, 1}}}, {2, {{15, 0, 1, 1}}}, {2, {{18, 0, 1, 1}}}, {2, {{21, 0, 1, 1}}},
        {2, {{24, 0, 1, 1}}, },
        {0, {{50, 40, 3, 3}}},  // nine missed rectangles, kept as their bounding box
        {1, {{60, 2, 2, 2}, {5, 30, 2, 2}}},
    };
    Canvas canvas = Canvas::new_software(kW, kH);
    std::array<std::vector<uint8_t>, 3> buffers;
    for (auto& b : buffers) b.assign(size_t(kW) * kH * 4, 0xAB);  // garbage until first copied
    std::array<BufferDamage, 3> damage;
    float shade = 0.1f;
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        shade = shade > 0.9f ? 0.1f : shade + 0.07f;
        if (f.damage.empty()) {
            canvas.clear_color(Color{shade, 0.5f, 1 - shade, 1});
        } else {
            for (const Rect& r : f.damage) canvas.fill_rounded_rect(r, Color{1 - shade, shade, 0.3f, 1}, Radii{});
        }
        std::vector<BufferDamage*> others;
        for (auto& d : damage) others.push_back(&d);
        auto areas = plan_buffer_copy(damage[f.buffer], others, f.damage);
        if (areas) canvas.copy_rects_to_buffer(buffers[f.buffer], *areas, false);
        else canvas.copy_to_buffer(buffers[f.buffer], false);
        ASSERT_EQ(buffers[f.buffer], whole(canvas)) << "frame " << i;
    }
}

TEST(BufferDamage, WhatEachFrameCopies) {
    BufferDamage a, b;
    std::array<BufferDamage*, 2> both{&a, &b};
    // A buffer never drawn to is copied whole, even for a partial frame.
    EXPECT_FALSE(plan_buffer_copy(a, both, {{1, 1, 2, 2}}));
    // A full frame into b: a missed it and is copied whole next time.
    EXPECT_FALSE(plan_buffer_copy(b, both, {}));
    EXPECT_FALSE(plan_buffer_copy(a, both, {{5, 5, 1, 1}}));
    // From then on each copies its own damage plus what it missed.
    auto b_copy = plan_buffer_copy(b, both, {{7, 7, 1, 1}});
    ASSERT_TRUE(b_copy);
    EXPECT_EQ(*b_copy, (std::vector<Rect>{{5, 5, 1, 1}, {7, 7, 1, 1}}));
    auto a_copy = plan_buffer_copy(a, both, {{9, 9, 1, 1}});
    ASSERT_TRUE(a_copy);
    EXPECT_EQ(*a_copy, (std::vector<Rect>{{7, 7, 1, 1}, {9, 9, 1, 1}}));
    auto again = plan_buffer_copy(a, both, {{2, 2, 1, 1}});
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, (std::vector<Rect>{{2, 2, 1, 1}}));
    EXPECT_EQ(b.stale, (std::vector<Rect>{{9, 9, 1, 1}, {2, 2, 1, 1}}));
    // Into a list kept across frames: what it held is replaced, not added to.
    std::vector<Rect> kept{{0, 0, 50, 50}};
    ASSERT_TRUE(plan_buffer_copy(b, both, {{3, 3, 1, 1}}, kept));
    EXPECT_EQ(kept, (std::vector<Rect>{{9, 9, 1, 1}, {2, 2, 1, 1}, {3, 3, 1, 1}}));
    EXPECT_FALSE(plan_buffer_copy(a, both, {}, kept));
    EXPECT_TRUE(kept.empty());
}

}  // namespace
