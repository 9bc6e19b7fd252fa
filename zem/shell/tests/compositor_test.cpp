// The gallery application under real headless compositors.
#include "gallery_page.hpp"
#include "support/compositors.hpp"
#include "support/process.hpp"
#include "support/screen.hpp"

#include <map>
#include <zem/shell/app.hpp>
#include <zem/shell/hooks.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>

using namespace zem::test;
using namespace std::chrono_literals;

namespace {

const char* kAppId = "net.tavix.ZemGallery";
const std::string kBackendLine = "[zem] render backend: SOFTWARE (ZEM_FORCE_SOFTWARE=1)\n";

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

std::optional<Rect> find_window(const nlohmann::json& node) {
    if (node.contains("app_id") && node["app_id"].is_string() && node["app_id"] == kAppId) {
        const auto& r = node["rect"];
        return Rect{r["x"], r["y"], r["width"], r["height"]};
    }
    for (const char* key : {"nodes", "floating_nodes"})
        if (node.contains(key))
            for (const auto& child : node[key])
                if (auto r = find_window(child)) return r;
    return std::nullopt;
}

std::optional<Rect> window_rect(const Sway& sway) {
    auto [st, out] = sway.msg({"-t", "get_tree"});
    if (st != 0) return std::nullopt;
    auto tree = nlohmann::json::parse(out, nullptr, false);
    if (tree.is_discarded()) return std::nullopt;
    return find_window(tree);
}

// Processes still running whose environment names this display.
std::vector<std::string> processes_on_display(const std::string& display) {
    std::vector<std::string> out;
    std::string needle = "WAYLAND_DISPLAY=" + display;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::string pid = e.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string env = read_file(e.path().string() + "/environ");
        for (size_t p = 0; p < env.size();) {
            size_t end = env.find('\0', p);
            if (env.compare(p, end - p, needle) == 0) {
                std::string cmd = read_file(e.path().string() + "/cmdline");
                std::replace(cmd.begin(), cmd.end(), '\0', ' ');
                out.push_back(pid + ": " + cmd);
                break;
            }
            if (end == std::string::npos) break;
            p = end + 1;
        }
    }
    return out;
}

class GalleryUnderSway : public ::testing::Test {
protected:
    void SetUp() override {
        // The offscreen pages of this process use the theme the gallery uses.
        setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes", 1);
        auto s = Sway::start(800, 600);
        if (!s) GTEST_SKIP() << "no headless sway: " << s.error();
        sway = std::move(*s);
        dir = make_temp_dir("zem-gallery");
    }
    void TearDown() override {
        if (app && app->pid > 0) {
            kill(app->pid, SIGKILL);
            waitpid(app->pid, nullptr, 0);
        }
        sway.reset();
        remove_tree(dir);
    }

    void start(std::vector<std::string> args, bool gles = false) {
        std::vector<std::string> argv = {ZEM_GALLERY_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        std::map<std::string, std::string> env = {{"WAYLAND_DISPLAY", sway->display()},
                                                  {"XDG_RUNTIME_DIR", sway->runtime_dir()},
                                                  {"GSETTINGS_BACKEND", "memory"},
                                                  {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"}};
        if (gles) {
            env["ZEM_FORCE_SOFTWARE"] = "";  // erased: the client tries EGL
            env["LIBGL_ALWAYS_SOFTWARE"] = "1";
        }
        app = spawn(argv, env, dir, "gallery");
        ASSERT_TRUE(app.has_value());
    }

    // Waits until the window has this rect and its pixels match `expected`
    // (at most `allowed` pixels differing by more than `tolerance`).
    ::testing::AssertionResult shows(Rect want, const Image& expected, size_t allowed = 0, int tolerance = 2) {
        std::string last = "window never appeared";
        bool matched = wait_until([&] {
            auto r = window_rect(*sway);
            if (!r) return false;
            if (r->x != want.x || r->y != want.y || r->w != want.w || r->h != want.h) {
                last = "window at " + std::to_string(r->x) + "," + std::to_string(r->y) + " size " +
                       std::to_string(r->w) + "x" + std::to_string(r->h);
                return false;
            }
            std::string png = dir + "/shot.png";
            if (!sway->screenshot(png)) {
                last = "grim failed";
                return false;
            }
            auto img = load_png(png);
            if (!img) return false;
            // The screenshot is in output pixels; the window rect in logical ones.
            uint32_t f = expected.width / uint32_t(want.w);
            Image got = crop(*img, uint32_t(want.x) * f, uint32_t(want.y) * f, expected.width, expected.height);
            size_t diff = differing_pixels(got, expected, tolerance);
            last = std::to_string(diff) + " pixels differ";
            return diff <= allowed;
        });
        if (matched) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << last << "; stderr: " << read_file(app->err_path);
    }

    int end_with(int sig) {
        if (sig) kill(app->pid, sig);
        auto st = wait_for(app->pid, 10s);
        if (!st) return -1;
        app->pid = -1;
        return *st;
    }

    std::unique_ptr<Sway> sway;
    std::string dir;
    std::optional<Spawned> app;
};

TEST_F(GalleryUnderSway, SizedWindowShowsTheOffscreenPageAndEndsCleanlyOnSigterm) {
    start({"--size", "400x500"});
    auto page = zem::gallery::page(true, 0.6f);
    Image want = render_scene(page, 400, 500, 1, zem::page_background());
    EXPECT_TRUE(shows(Rect{200, 50, 400, 500}, want));
    int st = end_with(SIGTERM);
    ASSERT_TRUE(WIFEXITED(st)) << st;
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_EQ(read_file(app->err_path), kBackendLine + "zem: SIGTERM received, exiting cleanly\n");
    EXPECT_EQ(read_file(app->out_path), "");
    // Nothing the application started (the settings monitor) outlives it.
    std::vector<std::string> left;
    EXPECT_TRUE(wait_until([&] {
        left = processes_on_display(sway->display());
        return left.empty();
    })) << left.front();
}

TEST_F(GalleryUnderSway, FullScreenFollowsOutputResizeAndScale) {
    start({});
    auto page = zem::gallery::page(true, 0.6f);
    EXPECT_TRUE(shows(Rect{0, 0, 800, 600}, render_scene(page, 800, 600, 1, zem::page_background())));

    ASSERT_EQ(sway->msg({"output", "HEADLESS-1", "mode", "640x480"}).first, 0);
    EXPECT_TRUE(shows(Rect{0, 0, 640, 480}, render_scene(page, 640, 480, 1, zem::page_background())));

    // Scale 2: the window is 320 × 240 logical pixels drawn into 640 × 480.
    ASSERT_EQ(sway->msg({"output", "HEADLESS-1", "scale", "2"}).first, 0);
    EXPECT_TRUE(shows(Rect{0, 0, 320, 240}, render_scene(page, 640, 480, 2, zem::page_background())));

    int st = end_with(SIGINT);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_EQ(read_file(app->err_path), kBackendLine + "zem: SIGINT received, exiting cleanly\n");
}

// The same page through the GLES renderer (llvmpipe): anti-aliased edges
// differ from Cairo's by design.
TEST_F(GalleryUnderSway, GlesWindowShowsTheSoftwarePage) {
    start({"--size", "400x500"}, true);
    auto page = zem::gallery::page(true, 0.6f);
    Image want = render_scene(page, 400, 500, 1, zem::page_background());
    // Every pixel within the edge tolerance of the canvas readback tests, and
    // all but a sliver (anti-aliased edges, text blending) within 8.
    EXPECT_TRUE(shows(Rect{200, 50, 400, 500}, want, 0, 72));
    EXPECT_TRUE(shows(Rect{200, 50, 400, 500}, want, 400 * 500 / 50, 8));
    EXPECT_EQ(end_with(SIGTERM), 0);
    const std::string err = read_file(app->err_path);
    EXPECT_EQ(err.rfind("[zem] render backend: GLES", 0), 0u) << err;
}

// The EGL window follows the output's size and scale as the shared-memory
// buffers do.
TEST_F(GalleryUnderSway, GlesWindowFollowsOutputResizeAndScale) {
    start({}, true);
    auto page = zem::gallery::page(true, 0.6f);
    const auto matches = [&](Rect r, uint32_t W, uint32_t H, int32_t scale) {
        Image want = render_scene(page, W, H, scale, zem::page_background());
        return shows(r, want, 0, 72) && shows(r, want, W * H / 50, 8);
    };
    EXPECT_TRUE(matches(Rect{0, 0, 800, 600}, 800, 600, 1));
    ASSERT_EQ(sway->msg({"output", "HEADLESS-1", "mode", "640x480"}).first, 0);
    EXPECT_TRUE(matches(Rect{0, 0, 640, 480}, 640, 480, 1));
    ASSERT_EQ(sway->msg({"output", "HEADLESS-1", "scale", "2"}).first, 0);
    EXPECT_TRUE(matches(Rect{0, 0, 320, 240}, 640, 480, 2));
    EXPECT_EQ(end_with(SIGTERM), 0);
}

TEST_F(GalleryUnderSway, TitleBandIsDrawnWhenTheApplicationGivesAWindowConfiguration) {
    start({"--size", "400x300", "--title", "Gallery"});
    auto page = zem::gallery::page(true, 0.6f);
    EXPECT_TRUE(shows(Rect{200, 150, 400, 300}, render_scene(page, 400, 300, 1, zem::page_background(), "Gallery", 36)));
    EXPECT_EQ(end_with(SIGTERM), 0);
}

TEST_F(GalleryUnderSway, ClosingTheWindowEndsTheRun) {
    start({"--size", "300x300"});
    ASSERT_TRUE(wait_until([&] { return window_rect(*sway).has_value(); })) << read_file(app->err_path);
    EXPECT_EQ(sway->msg({std::string("[app_id=\"") + kAppId + "\"]", "kill"}).first, 0);
    int st = end_with(0);
    ASSERT_TRUE(WIFEXITED(st)) << st;
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_EQ(read_file(app->err_path), kBackendLine);
}

TEST_F(GalleryUnderSway, KillingTheCompositorIsALostConnection) {
    start({"--size", "300x300"});
    ASSERT_TRUE(wait_until([&] { return window_rect(*sway).has_value(); })) << read_file(app->err_path);
    sway->kill_now();
    int st = end_with(0);
    ASSERT_TRUE(WIFEXITED(st)) << st;
    EXPECT_EQ(WEXITSTATUS(st), 0);
    std::string err = read_file(app->err_path);
    EXPECT_NE(err.find("zem: wayland connection lost ("), std::string::npos) << err;
    EXPECT_NE(err.find("); exiting\n"), std::string::npos) << err;
}

TEST(GalleryStartUp, NoDisplayStopsWithTheConnectText) {
    std::string dir = make_temp_dir("zem-nodisplay");
    auto p = spawn({ZEM_GALLERY_EXE}, {{"WAYLAND_DISPLAY", dir + "/missing-socket"}, {"XDG_RUNTIME_DIR", dir}}, dir,
                   "gallery");
    ASSERT_TRUE(p);
    auto st = wait_for(p->pid, 10s);
    ASSERT_TRUE(st);
    ASSERT_TRUE(WIFEXITED(*st));
    EXPECT_EQ(WEXITSTATUS(*st), 101);
    EXPECT_EQ(read_file(p->err_path).rfind("zem::run failed during init: Wayland connection failed: ", 0), 0u)
        << read_file(p->err_path);
    remove_tree(dir);
}

// Weston here composites with pixman; the client's EGL draws through Mesa's
// software path into shared memory. The run uses GLES from start to end and
// no surface falls back to SHM.
TEST(GalleryUnderWeston, GlesRunEndsCleanlyOnSigterm) {
    auto w = Weston::start(640, 480);
    if (!w) GTEST_SKIP() << "no headless weston: " << w.error();
    std::string dir = make_temp_dir("zem-weston-gles");
    std::map<std::string, std::string> env = {{"WAYLAND_DISPLAY", (*w)->display()},
                                              {"XDG_RUNTIME_DIR", (*w)->runtime_dir()},
                                              {"GSETTINGS_BACKEND", "memory"},
                                              {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"},
                                              {"ZEM_FORCE_SOFTWARE", ""},
                                              {"LIBGL_ALWAYS_SOFTWARE", "1"}};
    auto a = spawn({ZEM_GALLERY_EXE, "--size", "320x240"}, env, dir, "gles");
    ASSERT_TRUE(a);
    const std::string announced = "[zem] render backend: GLES3\n";
    for (int i = 0; i < 200 && read_file(a->err_path) != announced; ++i) std::this_thread::sleep_for(25ms);
    ASSERT_EQ(read_file(a->err_path), announced);
    kill(a->pid, SIGTERM);
    auto st = wait_for(a->pid, 10s);
    ASSERT_TRUE(st);
    EXPECT_TRUE(WIFEXITED(*st) && WEXITSTATUS(*st) == 0) << *st;
    EXPECT_EQ(read_file(a->err_path), announced + "zem: SIGTERM received, exiting cleanly\n");
    remove_tree(dir);
}

// The gallery full screen on weston, taken by weston-screenshooter from the
// compositor's own output: the software renderer's frame is the offscreen
// page, and the GLES renderer's frame (Mesa llvmpipe) is that software frame
// within the anti-aliasing tolerance of the canvas readback tests.
TEST(GalleryUnderWeston, GlesFrameMatchesTheSoftwareFrameOnScreen) {
    constexpr uint32_t W = 640, H = 480;
    // The offscreen page of this process uses the theme the gallery uses.
    setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes", 1);
    auto w = Weston::start(W, H, true);
    if (!w) GTEST_SKIP() << "no headless weston: " << w.error();
    std::string dir = make_temp_dir("zem-weston-shots");
    std::map<std::string, std::string> env = {{"WAYLAND_DISPLAY", (*w)->display()},
                                              {"XDG_RUNTIME_DIR", (*w)->runtime_dir()},
                                              {"GSETTINGS_BACKEND", "memory"},
                                              {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"}};
    // Shoots until `fits` accepts the output; the last shot and why it failed.
    std::optional<Image> shot;
    std::string last = "no screenshot";
    auto shows = [&](const std::function<bool(const Image&)>& fits) {
        return wait_until([&] {
            const std::string png = dir + "/output.png";
            if (!(*w)->screenshot(png)) return false;
            shot = load_png(png);
            return shot && fits(*shot);
        });
    };
    auto stop = [](const Spawned& p) {
        kill(p.pid, SIGTERM);
        auto st = wait_for(p.pid, 10s);
        return st && WIFEXITED(*st) && WEXITSTATUS(*st) == 0;
    };

    env["ZEM_FORCE_SOFTWARE"] = "1";
    auto soft = spawn({ZEM_GALLERY_EXE}, env, dir, "software");
    ASSERT_TRUE(soft);
    const Image page = render_scene(zem::gallery::page(true, 0.6f), W, H, 1, zem::page_background());
    ASSERT_TRUE(shows([&](const Image& img) {
        last = std::to_string(differing_pixels(img, page)) + " pixels differ from the offscreen page";
        return differing_pixels(img, page) == 0;
    })) << last << "; " << read_file(soft->err_path);
    const Image software = *shot;
    EXPECT_TRUE(stop(*soft));

    env["ZEM_FORCE_SOFTWARE"] = "";  // erased: the client tries EGL
    env["LIBGL_ALWAYS_SOFTWARE"] = "1";
    auto gles = spawn({ZEM_GALLERY_EXE}, env, dir, "gles");
    ASSERT_TRUE(gles);
    EXPECT_TRUE(shows([&](const Image& img) {
        const size_t far = differing_pixels(img, software, 72), near = differing_pixels(img, software, 8);
        last = std::to_string(far) + " pixels beyond 72, " + std::to_string(near) + " beyond 8";
        return far == 0 && near <= W * H / 50;
    })) << last << "; " << read_file(gles->err_path);
    EXPECT_TRUE(stop(*gles));
    EXPECT_EQ(read_file(gles->err_path), "[zem] render backend: GLES3\nzem: SIGTERM received, exiting cleanly\n");
    remove_tree(dir);
}

TEST(GalleryUnderWeston, RunsUntilSigtermAndSeesTheCompositorGo) {
    auto w = Weston::start(640, 480);
    if (!w) GTEST_SKIP() << "no headless weston: " << w.error();
    std::string dir = make_temp_dir("zem-weston-app");
    std::map<std::string, std::string> env = {{"WAYLAND_DISPLAY", (*w)->display()},
                                              {"XDG_RUNTIME_DIR", (*w)->runtime_dir()},
                                              {"GSETTINGS_BACKEND", "memory"},
                                              {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"}};
    // The back-end line comes after the signal handlers are in place and
    // the connection is made: from then on the run is what is tested.
    auto started = [](const Spawned& p) {
        return wait_until([&] { return read_file(p.err_path).find(kBackendLine) != std::string::npos; });
    };
    // SIGTERM ends the run cleanly.
    auto a = spawn({ZEM_GALLERY_EXE}, env, dir, "first");
    ASSERT_TRUE(a);
    ASSERT_TRUE(started(*a)) << read_file(a->err_path);
    kill(a->pid, SIGTERM);
    auto st = wait_for(a->pid, 10s);
    ASSERT_TRUE(st);
    EXPECT_TRUE(WIFEXITED(*st) && WEXITSTATUS(*st) == 0) << *st;
    EXPECT_EQ(read_file(a->err_path), kBackendLine + "zem: SIGTERM received, exiting cleanly\n");

    // The compositor going away ends the next run as a lost connection.
    auto b = spawn({ZEM_GALLERY_EXE, "--size", "320x240"}, env, dir, "second");
    ASSERT_TRUE(b);
    ASSERT_TRUE(started(*b)) << read_file(b->err_path);
    (*w)->kill_now();
    st = wait_for(b->pid, 10s);
    ASSERT_TRUE(st);
    EXPECT_TRUE(WIFEXITED(*st) && WEXITSTATUS(*st) == 0) << *st;
    EXPECT_NE(read_file(b->err_path).find("zem: wayland connection lost ("), std::string::npos)
        << read_file(b->err_path);
    remove_tree(dir);
}

// An application with a layer-shell overlay over the top-left corner of the
// output: a red square in an otherwise empty 200 × 100 surface.
struct LayerApp {
    using Msg = zem::gallery::Pressed;
    std::string app_id() { return "net.tavix.ZemLayerTest"; }
    std::vector<Msg> poll() { return {}; }
    void update(Msg) {}
    zem::Element view() { return zem::gallery::page(true, 0.6f); }
    std::vector<zem::OverlayDecl> overlays() {
        zem::Container red;
        red.fill = zem::Paint{zem::Color{1, 0, 0, 1}};
        zem::StackChild corner;
        corner.element = std::move(red);
        corner.placement = zem::Rect{0, 0, 50, 50};
        zem::Stack stack;
        stack.children.push_back(std::move(corner));
        zem::OverlayDecl d;
        d.id = 1;
        d.element = std::move(stack);
        d.width = zem::Length::px(200);
        d.height = zem::Length::px(100);
        d.kind = zem::OverlayKind::LayerOverlay;
        d.edge_top = d.edge_left = true;
        return {std::move(d)};
    }
};

TEST_F(GalleryUnderSway, LayerOverlayIsTransparentWhereItDrawsNothing) {
    setenv("WAYLAND_DISPLAY", sway->display().c_str(), 1);
    setenv("ZEM_FORCE_SOFTWARE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    std::optional<Image> shot;
    Image page = render_scene(zem::gallery::page(true, 0.6f), 800, 600, 1, zem::page_background());
    // Shoots until the overlay's red square and the window beside it are on
    // screen, then ends the run; what is asserted below is the last shot.
    std::thread shooter([&] {
        std::string png = dir + "/layer.png";
        wait_until([&] {
            if (!sway->screenshot(png)) return false;
            shot = load_png(png);
            if (!shot || shot->width < 50 || shot->height < 50) return false;
            Image corner = crop(*shot, 0, 0, 50, 50);
            for (size_t i = 0; i < corner.rgba.size(); i += 4)
                if (corner.rgba[i] != 255 || corner.rgba[i + 1] != 0) return false;
            return differing_pixels(crop(*shot, 50, 0, 150, 100), crop(page, 50, 0, 150, 100)) == 0 &&
                   differing_pixels(crop(*shot, 0, 50, 200, 50), crop(page, 0, 50, 200, 50)) == 0;
        });
        raise(SIGTERM);
    });
    testing::internal::CaptureStderr();
    auto r = zem::run_handle(std::make_unique<zem::AppAdapter<LayerApp>>(LayerApp{}));
    testing::internal::GetCapturedStderr();
    shooter.join();
    ASSERT_TRUE(r) << r.error().text();
    ASSERT_TRUE(shot.has_value());
    // The red square is the overlay's.
    Image corner = crop(*shot, 0, 0, 50, 50);
    for (size_t i = 0; i < corner.rgba.size(); i += 4) {
        ASSERT_EQ(corner.rgba[i], 255) << "pixel " << i / 4;
        ASSERT_EQ(corner.rgba[i + 1], 0) << "pixel " << i / 4;
    }
    // Beside it the window shows through the overlay untouched.
    EXPECT_EQ(differing_pixels(crop(*shot, 50, 0, 150, 100), crop(page, 50, 0, 150, 100)), 0u);
    EXPECT_EQ(differing_pixels(crop(*shot, 0, 50, 200, 50), crop(page, 0, 50, 200, 50)), 0u);
}

}  // namespace
