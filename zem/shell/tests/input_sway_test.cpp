// The gallery's every-kind page under headless sway, driven as a person
// would drive it: motion, buttons and scrolling through a virtual pointer of
// ours, keys through wtype, and grim for what the screen shows. Where each
// control sits comes from the same page laid out offscreen; what the page
// did comes from the pixels and from the messages the gallery prints.
// (sway has no virtual touch device: touch is covered by the scripted
// compositor.)
#include "gallery_page.hpp"
#include "support/compositors.hpp"
#include "support/process.hpp"
#include "support/screen.hpp"
#include "support/virtual_pointer.hpp"

#include <zem/shell/draw_frame.hpp>
#include <zem/shell/hooks.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace zem::test;

namespace {

// Portrait, as the installer runs on phones: the page's controls at the top
// and a list below them that scrolls far past the bottom of the screen.
constexpr uint32_t kW = 720, kH = 1280;

// Where two same-sized images differ: "x,y wxh" of the smallest rectangle
// holding every differing pixel.
std::string differing_box(const Image& a, const Image& b) {
    uint32_t x0 = a.width, y0 = a.height, x1 = 0, y1 = 0;
    for (uint32_t y = 0; y < a.height && y < b.height; ++y)
        for (uint32_t x = 0; x < a.width && x < b.width; ++x) {
            size_t i = (size_t(y) * a.width + x) * 4, j = (size_t(y) * b.width + x) * 4;
            for (int k = 0; k < 3; ++k)
                if (std::abs(int(a.rgba[i + k]) - int(b.rgba[j + k])) > 2) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
                    break;
                }
        }
    if (x1 < x0) return "nothing";
    return std::to_string(x0) + "," + std::to_string(y0) + " " + std::to_string(x1 - x0 + 1) + "x" +
           std::to_string(y1 - y0 + 1);
}

class GalleryInputUnderSway : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes", 1);
        if (access("/usr/bin/wtype", X_OK) != 0) GTEST_SKIP() << "wtype is not installed";
        auto s = Sway::start(kW, kH, /*blank_cursor=*/true);
        if (!s) GTEST_SKIP() << "no headless sway: " << s.error();
        sway = std::move(*s);
        dir = make_temp_dir("zem-input");

        // The page as it starts, laid out offscreen: its pixels and where
        // each control is.
        zem::Canvas canvas = zem::Canvas::new_software(kW, kH);
        zem::render_offscreen(canvas, zem::gallery::every_kind_page({}), zem::page_background(), {}, 0, 1,
                              &regions);
        Image first = render_scene(zem::gallery::every_kind_page({}), kW, kH, 1, zem::page_background());

        // The devices exist before the gallery does. sway's seat has no
        // keyboard or pointer of its own here, so a device that came later
        // would add the capability while the page is up, and what it sends
        // before the gallery has made its wl_keyboard or wl_pointer would be
        // lost. One idle wtype holds a keyboard for the whole test; each
        // wtype that types is then a second keyboard on a seat that has one.
        keeper = spawn({"wtype", "-s", "3600000"},
                       {{"WAYLAND_DISPLAY", sway->display()}, {"XDG_RUNTIME_DIR", sway->runtime_dir()}}, dir, "keeper");
        ASSERT_TRUE(keeper.has_value());
        ASSERT_TRUE(wait_until([&] {
            auto [st, out] = sway->msg({"-t", "get_inputs"});
            return st == 0 && out.find("\"keyboard\"") != std::string::npos;
        })) << "wtype's keyboard never showed up";
        auto p = VirtualPointer::connect(sway->display());
        ASSERT_TRUE(p.has_value()) << p.error();
        pointer = std::move(*p);
        ASSERT_EQ(pointer->extent(), (std::pair<uint32_t, uint32_t>{kW, kH}));
        // Where it hovers nothing.
        ASSERT_TRUE(pointer->move_to(kW - 4, 4)) << pointer->error();

        app = spawn({ZEM_GALLERY_EXE, "--every-kind", "--print-messages"},
                    {{"WAYLAND_DISPLAY", sway->display()},
                     {"XDG_RUNTIME_DIR", sway->runtime_dir()},
                     {"GSETTINGS_BACKEND", "memory"},
                     {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"}},
                    dir, "gallery");
        ASSERT_TRUE(app.has_value());
        size_t diff = 0;
        std::string where;
        ASSERT_TRUE(wait_until([&] {
            auto img = shot();
            diff = img ? differing_pixels(*img, first) : size_t(-1);
            if (img) where = differing_box(*img, first);
            return diff == 0;
        })) << diff << " pixels differ from the page, within " << where << "; stderr: " << read_file(app->err_path);
        base = *shot();
        // Two moves inside the window: the first may be what enters it (an
        // enter carries the position, and a move to the same spot is no
        // motion), so every move of a test after these is a motion.
        ASSERT_TRUE(pointer->move_to(kW - 4, 6) && pointer->move_to(kW - 6, 8)) << pointer->error();
    }
    void TearDown() override {
        pointer.reset();
        for (auto* p : {&app, &keeper})
            if (*p && (*p)->pid > 0) {
                kill((*p)->pid, SIGKILL);
                waitpid((*p)->pid, nullptr, 0);
            }
        sway.reset();
        if (!dir.empty()) remove_tree(dir);
    }

    // The first region that `pick` accepts (the page's pre-order).
    zem::Rect find(const std::function<bool(const zem::HitRegion&)>& pick) const {
        for (const auto& r : regions)
            if (pick(r)) return r.rect;
        ADD_FAILURE() << "no such control on the page";
        return {};
    }
    zem::Rect labelled(const std::string& text) const {
        return find([&](const zem::HitRegion& r) { return r.text == text; });
    }
    template <class Kind>
    zem::Rect of_kind(int nth = 0) const {
        return find([&](const zem::HitRegion& r) { return r.action.as<Kind>() && nth-- == 0; });
    }
    static std::pair<double, double> centre(zem::Rect r) { return {r.x + r.w / 2, r.y + r.h / 2}; }

    std::optional<Image> shot() {
        std::string png = dir + "/shot.png";
        if (!sway->screenshot(png)) return std::nullopt;
        return load_png(png);
    }
    static Image area(const Image& img, zem::Rect r) {
        return crop(img, uint32_t(r.x), uint32_t(r.y), uint32_t(r.w), uint32_t(r.h));
    }
    // Waits until `r` on screen no longer looks as it does in `from` (and
    // keeps the new look in `now`).
    ::testing::AssertionResult changes(zem::Rect r, const Image& from, Image* now = nullptr) {
        Image before = area(from, r);
        bool changed = wait_until([&] {
            auto img = shot();
            if (!img) return false;
            Image a = area(*img, r);
            if (differing_pixels(a, before) == 0) return false;
            if (now) *now = *img;
            return true;
        });
        if (changed) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the screen at " << r.x << "," << r.y << " " << r.w << "x" << r.h
                                             << " did not change; stderr: " << read_file(app->err_path);
    }
    // Waits until `r` on screen looks as it does in `want`.
    ::testing::AssertionResult looks_as(zem::Rect r, const Image& want) {
        Image expected = area(want, r);
        size_t diff = 0;
        if (wait_until([&] {
                auto img = shot();
                diff = img ? differing_pixels(area(*img, r), expected) : size_t(-1);
                return diff == 0;
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << diff << " pixels still differ at " << r.x << "," << r.y;
    }
    // The messages the gallery printed so far.
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        std::string all = read_file(app->out_path);
        for (size_t p = 0; p < all.size();) {
            size_t e = all.find('\n', p);
            if (e == std::string::npos) break;
            if (all.compare(p, 8, "message ") == 0) out.push_back(all.substr(p + 8, e - p - 8));
            p = e + 1;
        }
        return out;
    }
    ::testing::AssertionResult says(const std::string& message) {
        if (wait_until([&] {
                for (const auto& m : messages())
                    if (m == message) return true;
                return false;
            }))
            return ::testing::AssertionSuccess();
        std::string seen;
        for (const auto& m : messages()) seen += "\n  " + m;
        return ::testing::AssertionFailure() << "no \"" << message << "\" among:" << seen;
    }
    // Keys through wtype's virtual keyboard, to the focused window.
    ::testing::AssertionResult type(std::vector<std::string> args) {
        args.insert(args.begin(), "wtype");
        auto [st, out] = run_capture(args, {{"WAYLAND_DISPLAY", sway->display()}, {"XDG_RUNTIME_DIR", sway->runtime_dir()}});
        if (st == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "wtype ended with " << st;
    }

    std::unique_ptr<Sway> sway;
    std::string dir;
    std::optional<Spawned> app, keeper;
    std::vector<zem::HitRegion> regions;
    Image base;
    std::unique_ptr<VirtualPointer> pointer;
};

// A list item shows the pointer over it and the press on it; the click is
// its message. (Label buttons draw no hover or press of their own.)
TEST_F(GalleryInputUnderSway, HoverPressAndClickOnAListItem) {
    const zem::Rect item = labelled("Item 2");
    auto [x, y] = centre(item);
    Image hovered, pressed;
    ASSERT_TRUE(pointer->move_to(x, y)) << pointer->error();
    EXPECT_TRUE(changes(item, base, &hovered)) << "hover";
    ASSERT_TRUE(pointer->button(0x110, true));
    EXPECT_TRUE(changes(item, hovered, &pressed)) << "pressed";
    ASSERT_TRUE(pointer->button(0x110, false));
    EXPECT_TRUE(says("Item 2"));
    EXPECT_TRUE(changes(item, pressed)) << "released";
    // Moving on to the next item takes the hover along.
    ASSERT_TRUE(pointer->move_to(x, y + item.h));
    EXPECT_TRUE(changes(labelled("Item 3"), base)) << "hover on the next item";
    EXPECT_EQ(messages(), std::vector<std::string>{"Item 2"});
}

// A click on a label button is its message (the page's Primary flips the
// switch) and leaves the button focused.
TEST_F(GalleryInputUnderSway, ClickOnAButtonFocusesAndActivatesIt) {
    const zem::Rect primary = labelled("Primary");
    const zem::Rect wifi = find([](const zem::HitRegion& r) { return r.action.as<zem::HitAction::Switch>(); });
    auto [x, y] = centre(primary);
    ASSERT_TRUE(pointer->click(x, y)) << pointer->error();
    EXPECT_TRUE(says("Primary"));
    EXPECT_TRUE(changes(wifi, base)) << "switch";
    EXPECT_TRUE(changes(primary, base)) << "focus ring";
    EXPECT_EQ(messages(), std::vector<std::string>{"Primary"});
}

TEST_F(GalleryInputUnderSway, TabMovesTheFocusAndSpaceAndReturnActivate) {
    const zem::Rect primary = labelled("Primary"), advance = labelled("Advance");
    Image first_focus, second_focus;
    ASSERT_TRUE(type({"-k", "Tab"}));
    EXPECT_TRUE(changes(primary, base, &first_focus)) << "focus on Primary";
    ASSERT_TRUE(type({"-k", "Tab"}));
    EXPECT_TRUE(changes(advance, base, &second_focus)) << "focus on Advance";
    EXPECT_TRUE(looks_as(primary, base)) << "Primary lost the focus ring";
    ASSERT_TRUE(type({"-k", "space"}));
    EXPECT_TRUE(says("Advance"));
    // Shift+Tab arrives as ISO_Left_Tab and goes back.
    ASSERT_TRUE(type({"-M", "shift", "-k", "Tab", "-m", "shift"}));
    EXPECT_TRUE(looks_as(advance, base)) << "Advance lost the focus ring";
    EXPECT_TRUE(changes(primary, base)) << "focus back on Primary";
    ASSERT_TRUE(type({"-k", "Return"}));
    EXPECT_TRUE(says("Primary"));
    EXPECT_EQ(messages(), (std::vector<std::string>{"Advance", "Primary"}));
}

TEST_F(GalleryInputUnderSway, SwitchCheckboxAndRadioToggle) {
    const zem::Rect wifi = find([](const zem::HitRegion& r) { return r.action.as<zem::HitAction::Switch>(); });
    const zem::Rect remember = labelled("Remember me"), dark = labelled("Dark");
    for (auto [r, message] : {std::pair{wifi, "Wi-Fi"}, std::pair{remember, "Remember me"}, std::pair{dark, "Dark"}}) {
        auto [x, y] = centre(r);
        ASSERT_TRUE(pointer->click(x, y)) << pointer->error();
        EXPECT_TRUE(says(message));
        EXPECT_TRUE(changes(r, base)) << message;
    }
}

TEST_F(GalleryInputUnderSway, DraggedSlidersFollowThePointer) {
    const zem::Rect slider = of_kind<zem::HitAction::Slider>(0);
    const zem::Rect level = of_kind<zem::HitAction::Slider>(1);
    // Along the horizontal one from near its start to past its end.
    ASSERT_TRUE(pointer->drag(slider.x + 30, slider.y + slider.h / 2, slider.x + slider.w + 40, slider.y + slider.h / 2))
        << pointer->error();
    EXPECT_TRUE(says("slider 1.000"));
    size_t moves = 0;
    for (const auto& s : messages()) moves += s.rfind("slider ", 0) == 0;
    EXPECT_GT(moves, 2u) << "one value per move, not only at the ends";
    EXPECT_TRUE(changes(slider, base));

    // The vertical one, dragged to its top.
    ASSERT_TRUE(pointer->drag(level.x + level.w / 2, level.y + level.h - 4, level.x + level.w / 2, level.y - 30));
    EXPECT_TRUE(says("level 1.000"));
    EXPECT_TRUE(changes(level, base));
}

// The list is far longer than the screen: scrolling moves it, and a click
// at the same place afterwards lands on an item further down.
TEST_F(GalleryInputUnderSway, ScrolledListShowsAndTakesLaterItems) {
    const zem::Rect item2 = labelled("Item 2"), item1 = labelled("Item 1");
    const float pitch = item2.y - item1.y;
    ASSERT_GT(pitch, 0);
    auto [x, y] = centre(item2);
    const float scrolled = 3 * pitch;
    ASSERT_TRUE(pointer->scroll_at(x, y, scrolled)) << pointer->error();
    EXPECT_TRUE(changes(item2, base));
    ASSERT_TRUE(pointer->click(x, y));
    EXPECT_TRUE(says("Item 5"));
    // Two wheel notches (ten pixels each) on top of that.
    Image before = *shot();
    ASSERT_TRUE(pointer->scroll_at(x, y, 2, VirtualPointer::AxisSource::Wheel));
    EXPECT_TRUE(changes(item2, before));
}

// Typing into the name field, then a press-drag across its text selects it
// all, so the next key replaces it.
TEST_F(GalleryInputUnderSway, TypingAndDraggingASelectionInAField) {
    const zem::Rect name = of_kind<zem::HitAction::TextEdit>(0);
    auto [x, y] = centre(name);
    ASSERT_TRUE(pointer->click(x, y)) << pointer->error();
    Image focused;
    EXPECT_TRUE(changes(name, base, &focused)) << "focused field";
    ASSERT_TRUE(type({"hello world"}));
    EXPECT_TRUE(says("name hello world"));
    Image typed = *shot();
    ASSERT_TRUE(pointer->drag(name.x + name.w - 2, y, name.x + 1, y)) << pointer->error();
    EXPECT_TRUE(changes(name, typed)) << "selection shown";
    ASSERT_TRUE(type({"X"}));
    EXPECT_TRUE(says("name X"));
}

// zem-test-pointer, as walk-through tests drive it: one command line per
// gesture, or lines on its standard input answered one by one.
TEST_F(GalleryInputUnderSway, CommandLinePointerClicksDragsAndAnswersLines) {
    const std::string tool = ZEM_TEST_POINTER_EXE;
    auto [cx, cy] = centre(labelled("Remember me"));
    auto [st, out] = run_capture({tool, "--display", sway->display(), "click", std::to_string(int(cx)), std::to_string(int(cy))});
    EXPECT_EQ(st, 0);
    EXPECT_TRUE(says("Remember me"));

    const zem::Rect slider = of_kind<zem::HitAction::Slider>(0);
    const int sy = int(slider.y + slider.h / 2);
    std::tie(st, out) = run_capture({tool, "--display", sway->display(), "drag", std::to_string(int(slider.x + 40)),
                                     std::to_string(sy), "0", std::to_string(sy)});
    EXPECT_EQ(st, 0);
    EXPECT_TRUE(says("slider 0.000"));

    // Lines: each answered once the compositor has it, a bad one says why.
    const zem::Rect item1 = labelled("Item 1");
    const std::string ix = std::to_string(int(item1.x + item1.w / 2)), iy = std::to_string(int(item1.y + item1.h / 2));
    const std::string lines = "move " + ix + " " + iy + "\\nbogus 1\\nclick " + ix + " " + iy + "\\n";
    std::tie(st, out) = run_capture({"sh", "-c", "printf '" + lines + "' | \"$0\" --display \"$1\" -", tool, sway->display()});
    EXPECT_EQ(st, 0);
    EXPECT_EQ(out, "ok\nerror: unknown command \"bogus\"\nok\n");
    EXPECT_TRUE(says("Item 1"));

    // Scrolling by one item's height; once the list shows it, the same
    // place is the next item.
    Image before = *shot();
    std::tie(st, out) = run_capture({tool, "--display", sway->display(), "scroll", ix, iy, std::to_string(int(item1.h))});
    EXPECT_EQ(st, 0);
    EXPECT_TRUE(changes(item1, before));
    std::tie(st, out) = run_capture({tool, "--display", sway->display(), "click", ix, iy});
    EXPECT_TRUE(says("Item 2"));

    auto status = [](const std::vector<std::string>& argv) {
        int st = run_capture(argv).first;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    };
    EXPECT_EQ(status({tool, "--display", sway->display(), "click", "10"}), 2);
    EXPECT_EQ(status({tool}), 2);
    EXPECT_EQ(status({tool, "--display", dir + "/no-such-socket", "move", "1", "1"}), 1);
}

}  // namespace
