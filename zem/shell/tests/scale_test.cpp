// A page at buffer scale 2 is the scale-1 page drawn at twice the
// resolution: reduced by half it lands on the same pixels.
#include "gallery_page.hpp"
#include "support/screen.hpp"

#include <zem/canvas/canvas.hpp>
#include <zem/shell/draw_frame.hpp>
#include <zem/shell/hooks.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/dialog.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <map>

using namespace zem;
using Img = zem::test::Image;

namespace {

constexpr uint32_t kW = 412, kH = 915;

struct Frame {
    Img image;
    std::vector<HitRegion> regions;
};

Frame render(const Element& scene, int32_t scale) {
    const uint32_t s = uint32_t(scale);
    Canvas canvas = Canvas::new_software(kW * s, kH * s);
    Frame f;
    render_offscreen(canvas, scene, page_background(), "", 0, scale, &f.regions);
    f.image.width = kW * s;
    f.image.height = kH * s;
    f.image.rgba.resize(size_t(f.image.width) * f.image.height * 4);
    canvas.copy_to_buffer(f.image.rgba, false);
    return f;
}

// Each 2 × 2 block averaged into one pixel.
Img halve(const Img& img) {
    Img out;
    out.width = img.width / 2;
    out.height = img.height / 2;
    out.rgba.resize(size_t(out.width) * out.height * 4);
    for (uint32_t y = 0; y < out.height; ++y)
        for (uint32_t x = 0; x < out.width; ++x)
            for (int k = 0; k < 4; ++k) {
                int sum = 0;
                for (uint32_t dy = 0; dy < 2; ++dy)
                    for (uint32_t dx = 0; dx < 2; ++dx)
                        sum += img.rgba[(size_t(2 * y + dy) * img.width + 2 * x + dx) * 4 + k];
                out.rgba[(size_t(y) * out.width + x) * 4 + k] = uint8_t((sum + 2) / 4);
            }
    return out;
}

std::array<uint8_t, 3> at(const Img& img, uint32_t x, uint32_t y) {
    const uint8_t* p = &img.rgba[(size_t(y) * img.width + x) * 4];
    return {p[0], p[1], p[2]};
}

bool far_from(const std::array<uint8_t, 3>& a, const std::array<uint8_t, 3>& b, int by) {
    for (int k = 0; k < 3; ++k)
        if (std::abs(int(a[k]) - int(b[k])) > by) return true;
    return false;
}

// Runs of rows (first, last) that hold ink: pixels far from the page
// background. Labels, controls and panels each make their own runs, so the
// runs pin every baseline and every control's top and bottom.
std::vector<std::pair<int, int>> ink_rows(const Img& img) {
    const auto bg = at(img, 0, img.height - 1);
    std::vector<std::pair<int, int>> runs;
    bool in = false;
    for (uint32_t y = 0; y < img.height; ++y) {
        bool ink = false;
        for (uint32_t x = 0; x < img.width && !ink; ++x) ink = far_from(at(img, x, y), bg, 96);
        if (ink && !in) runs.emplace_back(int(y), int(y));
        if (ink) runs.back().second = int(y);
        in = ink;
    }
    return runs;
}

// Left and right ends of the ink in rows first..last.
std::pair<int, int> ink_columns(const Img& img, int first, int last) {
    const auto bg = at(img, 0, img.height - 1);
    int lo = int(img.width), hi = -1;
    for (int y = first; y <= last; ++y)
        for (uint32_t x = 0; x < img.width; ++x)
            if (far_from(at(img, x, uint32_t(y)), bg, 96)) {
                lo = std::min(lo, int(x));
                hi = std::max(hi, int(x));
            }
    return {lo, hi};
}

Element dialog_over(Element base) {
    Button back;
    back.content = std::string("Back");
    Button next;
    next.content = std::string("Next");
    Dialog d;
    d.title = "Erase the disk?";
    d.subtitle = "Everything on it will be lost.";
    d.actions.push_back(std::move(back));
    d.actions.push_back(std::move(next));
    d.max_width = Length::px(360);
    Stack s;
    s.push(std::move(base), Align::Stretch, Align::Stretch, 0);
    s.push(std::move(d).into_element(), Align::Stretch, Align::Stretch, 0);
    return s;
}

// Controls whose labels sit on computed baselines: list items with and
// without a subtitle, marks with labels, a switch, a slider, a spinner.
Element controls() {
    Column c;
    c.padding = Length::px(16);
    c.spacing = Length::px(8);
    c.center_x = false;
    ListItem plain;
    plain.title = "Language";
    plain.trailing_text = "English";
    plain.on_tap = Message(1);
    c.children.push_back(std::move(plain));
    ListItem two;
    two.title = "Wi-Fi network";
    two.subtitle = "Connected, secured";
    two.on_tap = Message(2);
    c.children.push_back(std::move(two));
    ListItem chosen;
    chosen.title = "Keyboard";
    chosen.selected = true;
    chosen.on_tap = Message(6);
    c.children.push_back(std::move(chosen));
    Checkbox box;
    box.label = "Encrypt the disk";
    box.checked = true;
    box.on_toggle = Message(3);
    c.children.push_back(std::move(box));
    RadioButton radio;
    radio.label = "Erase everything";
    radio.selected = true;
    radio.on_select = Message(4);
    c.children.push_back(std::move(radio));
    Switch sw;
    sw.label = "Install updates";
    sw.on = false;
    sw.on_toggle = Message(5);
    c.children.push_back(std::move(sw));
    Slider slider;
    slider.value = 0.3f;
    c.children.push_back(std::move(slider));
    c.children.push_back(Spinner{Color{0.2f, 0.4f, 0.9f, 1}, 0.1f, 0, 3});
    TextEdit name;
    name.placeholder = "Computer name";
    c.children.push_back(std::move(name));
    TextEdit notes;
    notes.multiline = true;
    notes.rows = 3;
    notes.value = WipingString(std::string("First line\nSecond line"));
    c.children.push_back(std::move(notes));
    return c;
}

class Scale : public ::testing::Test {
protected:
    void SetUp() override { setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes", 1); }
};

TEST_F(Scale, ScaleTwoReducedByHalfIsTheScaleOnePage) {
    struct Case {
        const char* name;
        std::function<Element()> scene;
    };
    const std::vector<Case> cases = {
        {"gallery", [] { return gallery::page(true, 0.5f); }},
        {"dialog", [] { return dialog_over(gallery::page(false, 0.25f)); }},
        {"controls", controls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Frame one = render(c.scene(), 1);
        Frame two = render(c.scene(), 2);
        // Every control at the same place and size, within a pixel.
        ASSERT_EQ(one.regions.size(), two.regions.size());
        for (size_t i = 0; i < one.regions.size(); ++i) {
            const Rect a = one.regions[i].rect, b = two.regions[i].rect;
            SCOPED_TRACE(one.regions[i].key.value_or("region " + std::to_string(i)));
            EXPECT_NEAR(a.x, b.x / 2, 1);
            EXPECT_NEAR(a.y, b.y / 2, 1);
            EXPECT_NEAR(a.w, b.w / 2, 1);
            EXPECT_NEAR(a.h, b.h / 2, 1);
        }
        // Every label's ink (its baseline and height) and every control's
        // edges on the same rows, within a pixel.
        Img half = halve(two.image);
        auto rows1 = ink_rows(one.image);
        auto rows2 = ink_rows(half);
        ASSERT_EQ(rows1.size(), rows2.size());
        for (size_t i = 0; i < rows1.size(); ++i) {
            SCOPED_TRACE("ink rows " + std::to_string(rows1[i].first) + ".." + std::to_string(rows1[i].second));
            EXPECT_NEAR(rows1[i].first, rows2[i].first, 1);
            EXPECT_NEAR(rows1[i].second, rows2[i].second, 1);
            auto cols1 = ink_columns(one.image, rows1[i].first, rows1[i].second);
            auto cols2 = ink_columns(half, rows2[i].first, rows2[i].second);
            EXPECT_NEAR(cols1.first, cols2.first, 1);
            EXPECT_NEAR(cols1.second, cols2.second, 1);
        }
        // And the pictures agree but for anti-aliasing along edges.
        const size_t differ = test::differing_pixels(one.image, half, 64);
        EXPECT_LT(differ, size_t(kW) * kH / 100) << differ << " pixels differ";
    }
}

}  // namespace
