// The pages as the toolkit draws them under headless sway, one screenshot
// each (build/screens/pages/): the language page in every language, CJK and
// Devanagari welcome pages, splash, Wi-Fi, progress and finish.

#include "support/compositors.hpp"
#include "support/screen.hpp"
#include "support/temp_dir.hpp"

#include <base/process.hpp>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t W = 412, H = 915;

struct Shot {
    std::string name;
    int page;
    std::string locale;
    bool configure = false;
    std::array<int, 3> corner; // the page's background colour
};

class Screens : public ::testing::Test {
protected:
    // Runs the page, waits until its background shows in the corner and three
    // screenshots in a row agree, and keeps that picture.
    std::optional<zem::test::Image> shoot(zem::test::Sway& sway, const Shot& s) {
        support::TempDir tmp;
        std::vector<std::string> argv = {"env", "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                         "ZEM_THEMES_DIR=" TAVIX_SOURCE_DIR "/themes",
                                         "XDG_RUNTIME_DIR=" + tmp.path(), "WAYLAND_DISPLAY=" + sway.display(),
                                         PAGE_SHOT_EXE, std::to_string(s.page), s.locale};
        if (s.configure) argv.push_back("configure");
        base::Child child;
        if (base::spawn(argv, {}, child) != 0) return std::nullopt;
        const std::string png = screens + "/" + s.name + ".png";
        std::optional<zem::test::Image> last;
        int same = 0;
        for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
            std::this_thread::sleep_for(100ms);
            if (!sway.screenshot(png)) continue;
            auto img = zem::test::load_png(png);
            if (!img || img->width != W || img->height != H) continue;
            // Bottom left: the window has a title bar at the top.
            const std::uint8_t* px = &img->rgba[((H - 4u) * W + 4u) * 4u];
            const bool bg = std::abs(px[0] - s.corner[0]) <= 3 && std::abs(px[1] - s.corner[1]) <= 3 &&
                            std::abs(px[2] - s.corner[2]) <= 3;
            // Settled means three pictures in a row agree: on a loaded
            // machine a window can hold an in-between look (before its
            // configure or focus arrives) for longer than two shots take.
            if (bg && last && last->rgba == img->rgba) {
                if (++same == 2) break;
            } else {
                same = 0;
            }
            last = bg ? img : std::nullopt;
        }
        ::kill(child.pid, SIGTERM);
        base::drain(child, "", false);
        int status = 0;
        (void)base::reap(child.pid, status);
        return last;
    }
    const std::string screens = TAVIX_BINARY_DIR "/screens/pages";
};

TEST_F(Screens, EveryInstallPageUnderSway) {
    auto sway = zem::test::Sway::start(W, H);
    if (!sway) GTEST_SKIP() << sway.error();
    std::filesystem::create_directories(screens);
    const std::array<int, 3> grey{238, 238, 238}, navy{10, 3, 46};

    // The list is the same in every language: each row under its own name.
    std::optional<zem::test::Image> english;
    for (const char* code : {"en", "es", "zh", "hi", "fr", "de", "pt", "ja", "ru", "ko"}) {
        auto img = shoot(**sway, {std::string("language-") + code, 1, code, false, grey});
        ASSERT_TRUE(img) << code;
        if (!english) english = img;
        else EXPECT_TRUE(img->rgba == english->rgba) << code << " draws the list differently";
    }
    std::optional<zem::test::Image> welcome_en;
    for (const char* code : {"en", "zh", "ja", "ko", "hi"}) {
        auto img = shoot(**sway, {std::string("welcome-") + code, 2, code, false, grey});
        ASSERT_TRUE(img) << code;
        if (!welcome_en) welcome_en = img;
        else EXPECT_FALSE(img->rgba == welcome_en->rgba) << code << " shows the English texts";
    }
    const std::vector<Shot> shots = {
        {"splash", 0, "en", false, navy},
        {"wifi", 5, "en", true, grey},
        {"progress", 13, "en", false, grey},
        {"finish-install", 14, "en", false, grey},
        {"finish-configure", 14, "de", true, grey},
    };
    for (const Shot& s : shots) EXPECT_TRUE(shoot(**sway, s)) << s.name;
}

} // namespace
