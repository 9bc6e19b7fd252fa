// The install scenario's pages as trees: what each shows, how big its
// pictures are, which messages its controls carry. The theme is the
// project's default one, or a copy with parts missing.

#include "app/pages/pages.hpp"
#include "app_fixture.hpp"
#include "support/temp_dir.hpp"
#include "support/view_probe.hpp"
#include "support/wait.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <cmath>
#include <set>

namespace {

using app::Msg;
using app::Page;
using support::all;
using support::message_of;
using support::walk;
using support::shows;
namespace fs = std::filesystem;

// The page Column inside the page background.
const zem::Column& page_column(const zem::Element& root) {
    const zem::Element* e = &root;
    if (auto* st = e->as<zem::Stack>()) e = &st->children.front().element;
    return *e->as<zem::Container>()->child->as<zem::Column>();
}

std::pair<float, float> image_size(const zem::Image& i) { return {i.width->value, i.height->value}; }

// The colour of the picture's middle pixel.
std::array<std::uint8_t, 4> middle(const zem::Image& i) {
    const std::size_t at = (std::size_t(i.image.height / 2) * i.image.width + i.image.width / 2) * 4;
    const auto* p = i.image.data() + at;
    return {p[0], p[1], p[2], p[3]};
}

class Pages : public apptest::WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        use_theme(std::string(TAVIX_SOURCE_DIR) + "/themes/default");
    }
    void TearDown() override {
        zem::theme::set_active(zem::theme::fallback_theme());
        WizardTest::TearDown();
    }
    static void use_theme(const std::string& dir) {
        auto t = zem::theme::load_theme_file(dir);
        ASSERT_TRUE(t) << dir;
        zem::theme::set_active(std::move(*t));
        zem::theme::set_dark_mode(false);
    }
    // A theme with the default one's document and only the files given.
    void bare_theme(const std::vector<std::pair<std::string, std::string>>& files) {
        fs::copy_file(std::string(TAVIX_SOURCE_DIR) + "/themes/default/theme.json", tmp / "theme.json",
                      fs::copy_options::overwrite_existing);
        for (const auto& [rel, text] : files) {
            fs::create_directories(fs::path(tmp / rel).parent_path());
            std::ofstream(tmp / rel, std::ios::binary) << text;
        }
        use_theme(tmp.path());
    }
    app::InstallerApp sized(std::uint32_t w, std::uint32_t h, bool configure = false) {
        auto a = make({configure, true, false});
        a.layout_size = {w, h};
        a.requested_window_size = a.layout_size;
        return a;
    }
    support::TempDir tmp;
};

const char* const ENDONYMS[] = {"English", "Español", "中文", "हिन्दी", "Français",
                                "Deutsch", "Português", "日本語", "Русский", "한국어"};

TEST_F(Pages, LanguageListsTenEndonymsInFixedOrder) {
    auto a = make();
    for (const char* locale : {"en", "ja"}) {
        i18n::set_locale(locale);
        const auto root = app::language_page(a);
        EXPECT_EQ(support::texts(root), std::vector<std::string>(std::begin(ENDONYMS), std::end(ENDONYMS)));
        EXPECT_EQ(all<zem::Divider>(root).size(), 9u);
    }
    struct Press {
        const char* label;
        const char* code;
    };
    for (Press p : {Press{"日本語", "ja"}, Press{"English", "en"}, Press{"한국어", "ko"}, Press{"हिन्दी", "hi"}}) {
        auto m = message_of(app::language_page(a), p.label);
        ASSERT_TRUE(m && m->is<Msg::PickLanguage>()) << p.label;
        EXPECT_EQ(m->get<Msg::PickLanguage>()->code, p.code);
    }
}

TEST_F(Pages, LanguageColumnAndEmblemFollowTheWindow) {
    struct Row {
        std::uint32_t w, h;
        std::optional<float> cap;
        float emblem;
    };
    for (Row r : {Row{1280, 800, 512.0f, 96}, Row{800, 1280, std::nullopt, 96}, Row{1000, 1000, std::nullopt, 120}}) {
        const auto root = app::language_page(sized(r.w, r.h));
        const auto& col = page_column(root);
        EXPECT_EQ(col.max_width ? std::optional<float>(col.max_width->value) : std::nullopt, r.cap) << r.w;
        auto* emblem = col.children[1].as<zem::Image>();
        ASSERT_TRUE(emblem);
        EXPECT_EQ(image_size(*emblem), std::make_pair(r.emblem, r.emblem));
        EXPECT_TRUE(col.children[2].as<zem::Scroll>()) << "the list scrolls below header and emblem";
    }
    // Each row ends in the chevron, or in a flexible Spacer without it.
    const auto with_icons = app::language_page(make());
    EXPECT_EQ(all<zem::Image>(with_icons).size(), 11u);
    bare_theme({});
    const auto root = app::language_page(make());
    EXPECT_EQ(all<zem::Image>(root).size(), 1u);
    EXPECT_EQ(support::texts(root).size(), 10u);
}

const std::string DARK_RECT = R"(<svg xmlns="http://www.w3.org/2000/svg" width="W" height="H"><rect width="W" height="H" fill="#0A1421"/></svg>)";

std::string rect_svg(int w, int h) {
    std::string s = DARK_RECT;
    for (auto [from, to] : {std::pair{"W", std::to_string(w)}, std::pair{"H", std::to_string(h)}}) {
        for (std::size_t at; (at = s.find(std::string("\"") + from + "\"")) != std::string::npos;)
            s.replace(at + 1, 1, to);
    }
    return s;
}

TEST_F(Pages, SplashLogoWhiteOnNavyWelcomeInItsOwnColours) {
    bare_theme({{"branding/logo/logo.svg", rect_svg(100, 100)}});
    auto a = make();
    auto splash = app::splash_page(a);
    auto* bg = splash.as<zem::Container>();
    ASSERT_TRUE(bg && bg->fill);
    auto images = all<zem::Image>(splash);
    ASSERT_EQ(images.size(), 1u) << "the plain logo stands in for the square one";
    EXPECT_EQ(image_size(*images[0]), std::make_pair(320.0f, 320.0f));
    EXPECT_EQ(middle(*images[0]), (std::array<std::uint8_t, 4>{255, 255, 255, 255}));

    const auto welcome_root = app::welcome_page(a);
    auto welcome = all<zem::Image>(welcome_root);
    ASSERT_FALSE(welcome.empty());
    EXPECT_EQ(image_size(*welcome[0]), std::make_pair(200.0f, 200.0f));
    EXPECT_EQ(middle(*welcome[0]), (std::array<std::uint8_t, 4>{0x0A, 0x14, 0x21, 255}));
}

TEST_F(Pages, SplashLogoFallbacks) {
    struct Row {
        std::string name;
        std::string square;
        std::optional<std::pair<float, float>> shown;
    };
    const std::vector<Row> rows = {
        {"wide", rect_svg(200, 100), std::pair{320.0f, 160.0f}},
        {"not UTF-8", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><!-- \xff --></svg>",
         std::nullopt},
        {"empty raster", rect_svg(0, 0), std::nullopt},
        {"not SVG", "hello", std::nullopt},
    };
    for (const Row& r : rows) {
        bare_theme({{"branding/logo/square.svg", r.square}});
        const auto root = app::splash_page(sized(800, 1280));
        auto images = all<zem::Image>(root);
        if (!r.shown) {
            EXPECT_TRUE(images.empty()) << r.name;
            continue;
        }
        ASSERT_EQ(images.size(), 1u) << r.name;
        EXPECT_EQ(image_size(*images[0]), *r.shown) << r.name;
    }
    // Only the exact spelling is recoloured.
    bare_theme({{"branding/logo/square.svg",
                 R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"><rect width="10" height="10" fill="#0a1421"/></svg>)"}});
    const auto root = app::splash_page(make());
    auto images = all<zem::Image>(root);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(middle(*images[0]), (std::array<std::uint8_t, 4>{0x0A, 0x14, 0x21, 255}));
}

TEST_F(Pages, WelcomeTextsSizesAndScenarios) {
    auto a = sized(1280, 800);
    auto root = app::welcome_page(a);
    for (const char* key : {"welcome.title", "welcome.subtitle", "welcome.bullet_1", "welcome.bullet_2",
                            "welcome.bullet_3", "welcome.bullet_4", "welcome.duration", "welcome.cta"})
        EXPECT_TRUE(shows(root, i18n::translate(key))) << key;
    auto next = message_of(root, i18n::translate("welcome.cta"));
    ASSERT_TRUE(next && next->is<Msg::Next>());
    auto back = message_of(root, i18n::translate("common.back"));
    ASSERT_TRUE(back && back->is<Msg::Back>());
    auto cols = all<zem::Column>(root);
    EXPECT_TRUE(std::any_of(cols.begin(), cols.end(),
                            [](const zem::Column* c) { return c->max_width && c->max_width->value == 512.0f; }));
    const auto portrait_root = app::welcome_page(sized(800, 1280));
    auto portrait = all<zem::Column>(portrait_root);
    EXPECT_TRUE(std::none_of(portrait.begin(), portrait.end(), [](const zem::Column* c) { return c->max_width; }));
    // The bullets are bold; the duration is in the theme's default face.
    auto texts = all<zem::Text>(root);
    for (const auto* t : texts) {
        if (t->text == i18n::translate("welcome.bullet_1")) {
            ASSERT_TRUE(t->font);
            EXPECT_EQ(t->font->weight, 700);
        }
        if (t->text == i18n::translate("welcome.duration")) {
            EXPECT_FALSE(t->font);
        }
    }

    a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Welcome), 0});
    a.update(Msg::Back{});
    a.update(Msg::PickLanguage{"de"});
    EXPECT_EQ(a.page, Page::Welcome);
    auto de = app::welcome_page(a);
    const std::string german = i18n::translate("welcome.bullet_3");
    EXPECT_TRUE(shows(de, german));
    i18n::set_locale("en");
    EXPECT_NE(german, i18n::translate("welcome.bullet_3"));
}

TEST_F(Pages, WelcomeWithoutLogoOrIconsKeepsItsTexts) {
    bare_theme({});
    auto root = app::welcome_page(make());
    EXPECT_TRUE(all<zem::Image>(root).empty());
    for (const char* key : {"welcome.bullet_1", "welcome.bullet_4", "welcome.duration"})
        EXPECT_TRUE(shows(root, i18n::translate(key)));
    auto* scroll = page_column(root).children[1].as<zem::Scroll>();
    ASSERT_TRUE(scroll);
    auto& content = *scroll->child->as<zem::Column>();
    EXPECT_TRUE(content.children[0].as<zem::Spacer>());
}

TEST_F(Pages, ProgressPercentPhaseAndBar) {
    struct Row {
        std::uint8_t phase;
        float fraction;
        std::string percent;
        const char* key;
        float bar;
    };
    const std::vector<Row> rows = {
        {app::NO_INSTALL, 0.7f, "0%", "progress.phase_partition", 0.0f},
        {0, 0.125f, "13%", "progress.phase_partition", 0.125f},
        {1, 0.5f, "50%", "progress.phase_format", 0.5f},
        {3, 1.0f, "100%", "progress.phase_bootloader", 1.0f},
        {4, -0.3f, "0%", "progress.phase_finalize", 0.0f},
        {9, 1.5f, "150%", "progress.phase_finalize", 1.0f},
        {2, NAN, "0%", "progress.phase_copy", 0.0f},
        {2, 1e12f, "4294967295%", "progress.phase_copy", 1.0f},
    };
    for (const Row& r : rows) {
        for (bool test : {false, true}) {
            auto a = make({false, true, test});
            a.install_phase = r.phase;
            a.install_fraction = r.fraction;
            auto root = app::progress_page(a);
            EXPECT_TRUE(shows(root, r.percent)) << r.percent;
            EXPECT_TRUE(shows(root, i18n::translate(r.key))) << r.key;
            auto bars = all<zem::ProgressBar>(root);
            ASSERT_EQ(bars.size(), 1u);
            EXPECT_FLOAT_EQ(bars[0]->value, r.bar) << r.percent;
        }
    }
}

TEST_F(Pages, ProgressCancelDialogOverTheSamePage) {
    auto a = make();
    a.install_phase = 2;
    a.install_fraction = 0.4f;
    auto plain = app::progress_page(a);
    auto cancel = message_of(plain, i18n::translate("progress.cancel"));
    ASSERT_TRUE(cancel && cancel->is<Msg::AskCancelInstall>());
    a.cancel_confirm_open = true;
    auto root = app::progress_page(a);
    auto* st = root.as<zem::Stack>();
    ASSERT_TRUE(st);
    ASSERT_EQ(st->children.size(), 2u);
    EXPECT_EQ(support::texts(st->children[0].element), support::texts(plain));
    auto no = message_of(root, i18n::translate("progress.cancel_confirm_no"));
    auto yes = message_of(root, i18n::translate("progress.cancel_confirm_yes"));
    ASSERT_TRUE(no && no->is<Msg::DismissCancelInstall>());
    ASSERT_TRUE(yes && yes->is<Msg::ConfirmCancelInstall>());
    EXPECT_TRUE(shows(root, i18n::translate("progress.cancel_confirm_title")));
    // Tapping the backdrop sends nothing.
    for (const auto* g : all<zem::GestureArea>(root)) EXPECT_FALSE(g->on_tap);
}

TEST_F(Pages, ProgressRingTurnsWithTime) {
    auto a = make();
    auto phase = [&] {
        const auto root = app::progress_page(a);
        return all<zem::Spinner>(root).at(0)->phase;
    };
    const float first = phase();
    const auto start = std::chrono::steady_clock::now();
    float second = first;
    ASSERT_TRUE(support::wait_until([&] {
        second = phase();
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(250);
    }));
    EXPECT_GE(second - first, 0.25f - 0.01f);
    const auto root = app::progress_page(a);
    auto* s = all<zem::Spinner>(root).at(0);
    EXPECT_EQ(s->size, 64.0f);
    EXPECT_EQ(s->stroke, 4.0f);
}

// The page over the simulated install of test mode: phases only move on,
// the cancel dialog comes and goes, the install ends on the finish page.
TEST_F(Pages, ProgressFollowsTheSimulatedInstall) {
    auto a = make({false, true, true});
    fx->forward_install = true;
    a.update(Msg::SelectDisk{0});
    a.set_page(Page::Progress);
    ASSERT_EQ(a.page, Page::Progress);
    std::set<std::string> seen;
    bool dialog_seen = false;
    ASSERT_TRUE(support::wait_until([&] {
        for (Msg& m : a.poll()) a.update(m);
        if (a.page != Page::Progress) return true;
        auto root = a.view();
        for (const char* key : {"progress.phase_partition", "progress.phase_format", "progress.phase_copy",
                                "progress.phase_bootloader", "progress.phase_finalize"})
            if (shows(root, i18n::translate(key))) seen.insert(key);
        if (!dialog_seen && a.install_phase >= 1) {
            a.update(*message_of(root, i18n::translate("progress.cancel")));
            EXPECT_TRUE(a.view().as<zem::Stack>());
            a.update(*message_of(a.view(), i18n::translate("progress.cancel_confirm_no")));
            EXPECT_FALSE(a.view().as<zem::Stack>());
            dialog_seen = true;
        }
        return false;
    }));
    EXPECT_EQ(a.page, Page::Finish);
    EXPECT_TRUE(dialog_seen);
    EXPECT_GE(seen.size(), 3u);
    EXPECT_TRUE(shows(a.view(), i18n::translate("finish.install_title")));
}

TEST_F(Pages, ProgressFailureFromTheHandleLeadsBackToTheDisk) {
    auto a = make();
    a.update(Msg::SelectDisk{0});
    a.set_page(Page::Progress);
    a.update(Msg::AskCancelInstall{});
    EXPECT_TRUE(a.view().as<zem::Stack>());
    a.update(Msg::ConfirmCancelInstall{});
    EXPECT_EQ(fx->calls.back(), "cancel_install");
    fx->last_handle->update([](install::InstallSnapshot& s) { s.error = "cancelled"; });
    a.update(Msg::PollInstall{});
    EXPECT_EQ(a.page, Page::Disk);
    EXPECT_EQ(a.error, i18n::translate("error.cancelled"));
    EXPECT_TRUE(shows(a.view(), i18n::translate("error.cancelled")));
}

// What changes while the user waits is announced by screen readers: the
// percentage and the step on the progress page, and the title of the page
// that ends the install. Nothing else on those pages is live.
std::vector<std::string> live_texts(const zem::Element& root) {
    std::vector<std::string> out;
    for (const zem::Text* t : all<zem::Text>(root))
        if (t->live) out.push_back(t->text);
    return out;
}

TEST_F(Pages, LiveTextsAnnounceWhatChangesByItself) {
    auto a = make();
    a.install_phase = 2;
    a.install_fraction = 0.4f;
    EXPECT_EQ(live_texts(app::progress_page(a)),
              (std::vector<std::string>{"40%", i18n::translate("progress.phase_copy")}));
    // Under the cancel dialog the page still announces its progress.
    a.cancel_confirm_open = true;
    EXPECT_EQ(live_texts(app::progress_page(a)),
              (std::vector<std::string>{"40%", i18n::translate("progress.phase_copy")}));
    EXPECT_EQ(live_texts(app::finish_page(make({false, true, true}))),
              (std::vector<std::string>{i18n::translate("finish.install_title")}));
    // In the configure scenario the finish page follows a press of the user's.
    EXPECT_TRUE(live_texts(app::finish_page(make({true, true, true}))).empty());
    EXPECT_TRUE(live_texts(app::welcome_page(make())).empty());
}

TEST_F(Pages, FinishByScenario) {
    for (bool test : {false, true}) {
        auto a = make({false, true, test});
        auto root = app::finish_page(a);
        const auto& col = page_column(root);
        EXPECT_EQ(col.children.size(), 2u);
        EXPECT_TRUE(shows(root, i18n::translate("finish.install_remove_medium")));
        auto m = message_of(root, i18n::translate("finish.install_cta"));
        ASSERT_TRUE(m && m->is<Msg::Reboot>());
        auto& content = *col.children[0].as<zem::Scroll>()->child->as<zem::Column>();
        EXPECT_EQ(content.children.size(), 5u);
        ASSERT_TRUE(content.children[1].as<zem::Image>());
        EXPECT_EQ(image_size(*content.children[1].as<zem::Image>()), std::make_pair(160.0f, 160.0f));
        a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Done), 0});
        EXPECT_EQ(support::texts(a.view()), support::texts(root));
    }
    auto c = make({true, true, true});
    auto root = app::finish_page(c);
    const auto& col = page_column(root);
    ASSERT_EQ(col.children.size(), 3u);
    auto* hint = col.children[2].as<zem::Text>();
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->text, i18n::translate("finish.hint"));
    EXPECT_EQ(hint->size.value, 12.0f);
    EXPECT_FALSE(hint->wrap);
    EXPECT_TRUE(hint->truncate);
    auto m = message_of(root, i18n::translate("finish.cta"));
    ASSERT_TRUE(m && m->is<Msg::FinishContinue>());
    const auto t = support::texts(root);
    auto at = [&](const char* key) { return std::find(t.begin(), t.end(), i18n::translate(key)) - t.begin(); };
    EXPECT_LT(at("finish.bullet_1"), at("finish.bullet_2"));
    EXPECT_LT(at("finish.bullet_2"), at("finish.bullet_3"));
}

// Restart through the wizard's own messages; systemctl is the recording
// stand-in, and test mode never restarts.
TEST_F(Pages, FinishRestartsThroughItsButton) {
    auto a = make();
    a.set_page(Page::Finish);
    a.update(*message_of(a.view(), i18n::translate("finish.install_cta")));
    EXPECT_EQ(fx->calls, (std::vector<std::string>{"systemctl reboot", "kiosk off", "end 0"}));
    EXPECT_EQ(a.page, Page::Done);

    auto t = make({false, true, true});
    t.set_page(Page::Finish);
    t.update(*message_of(t.view(), i18n::translate("finish.install_cta")));
    EXPECT_TRUE(fx->calls.empty());
    EXPECT_EQ(t.page, Page::Done);

    auto refused = make();
    fx->systemctl_status = 1 << 8;
    refused.set_page(Page::Finish);
    refused.update(*message_of(refused.view(), i18n::translate("finish.install_cta")));
    EXPECT_EQ(refused.page, Page::Finish);
    EXPECT_TRUE(shows(refused.view(), "systemctl reboot: exit status: 1"));
}

} // namespace
