// The configure scenario's pages: their trees, in two languages, and what
// pressing their controls does to the wizard.

#include "app_fixture.hpp"
#include "app/pages/pages.hpp"
#include "app/scaffolds.hpp"
#include "support/view_probe.hpp"

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/divider_paint.hpp>

#include <functional>

namespace {

using app::Msg;
using app::Page;
using i18n::translate;
using support::all;
using support::message_of;
using support::walk;
using support::shows;

// The same below a Column held by reference (not copied into an Element).
template <class K>
std::vector<const K*> all(const zem::Column& col) {
    std::vector<const K*> out;
    for (const auto& ch : col.children)
        for (auto* k : all<K>(ch)) out.push_back(k);
    return out;
}

const zem::Text* text_of(const zem::Element& root, const std::string& s) {
    for (auto* t : all<zem::Text>(root))
        if (t->text == s) return t;
    return nullptr;
}

std::optional<Msg> unbox(const std::optional<zem::Message>& m) {
    if (!m) return std::nullopt;
    if (auto* msg = m->get<Msg>()) return *msg;
    return std::nullopt;
}

// The page Column inside the background, and the Column its Scroll holds.
const zem::Column& page_column(const zem::Element& root) { return *root.as<zem::Container>()->child->as<zem::Column>(); }
const zem::Column& scrolled(const zem::Element& root) {
    for (const auto& ch : page_column(root).children)
        if (auto* s = ch.as<zem::Scroll>()) return *s->child->as<zem::Column>();
    ADD_FAILURE() << "the page has no Scroll";
    static zem::Column none;
    return none;
}

bool same(zem::Color a, zem::Color b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

class ConfigPages : public apptest::WizardTest {
protected:
    static void SetUpTestSuite() { apptest::use_default_theme(); }

    app::InstallerApp at(Page p, std::uint8_t step = 0, bool configure = true) {
        auto a = make({configure, true, true});
        a.update(Msg::GoTo{static_cast<std::uint8_t>(p), step});
        return a;
    }

    void press(app::InstallerApp& a, const std::string& label) {
        auto m = message_of(a.view(), label);
        ASSERT_TRUE(m) << "no live control \"" << label << "\" on page " << int(a.page);
        a.update(std::move(*m));
    }

    // Types `text` into the n-th text field as the toolkit would hand it over.
    void type(app::InstallerApp& a, std::size_t n, const std::string& text) {
        const auto v = a.view();
        auto fields = all<zem::TextEdit>(v);
        ASSERT_LT(n, fields.size());
        auto m = unbox((*fields[n]->on_change)(text));
        ASSERT_TRUE(m);
        a.update(std::move(*m));
    }

    zem::Palette pal() const { return zem::theme::palette(); }
};

constexpr const char* LANGUAGES[] = {"en", "de"};

// --- account -----------------------------------------------------------------

TEST_F(ConfigPages, AccountRefusalsSitUnderTheirField) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        const std::string hint = translate("account.username_hint");
        const std::string mismatch = translate("account.password_mismatch");
        const std::string cont = translate("common.continue");
        struct Case {
            const char* name;
            std::string user, host, pw, confirm;
            bool hint, mismatch, valid;
        };
        const std::vector<Case> cases = {
            {"all empty", "", "", "", "", false, false, false},
            {"capital user name", "Root", "box", "pw", "pw", true, false, false},
            {"corrected user name", "root", "box", "pw", "pw", false, false, true},
            {"empty confirmation", "ann", "box", "pw", "", false, false, false},
            {"confirmation a prefix", "ann", "box", "secret", "secr", false, true, false},
            {"same length, one byte off", "ann", "box", "secret", "secreT", false, true, false},
            {"host name with a dot", "ann", "box.lan", "pw", "pw", false, false, false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            auto a = at(Page::Account, 0, false);
            type(a, 0, c.user);
            type(a, 1, c.host);
            type(a, 2, c.pw);
            type(a, 3, c.confirm);
            EXPECT_EQ(a.username, c.user);
            EXPECT_EQ(a.password_confirm, c.confirm);
            const auto v = a.view();
            const auto& form = scrolled(v).children;
            // Where each field sits in the form, and what follows it.
            std::vector<std::size_t> fields;
            for (std::size_t i = 0; i < form.size(); ++i)
                if (form[i].as<zem::TextEdit>()) fields.push_back(i);
            ASSERT_EQ(fields.size(), 4u);
            auto after = [&](std::size_t f) -> std::string {
                const auto* t = form[fields[f] + 1].as<zem::Text>();
                return t ? t->text : "";
            };
            EXPECT_EQ(after(0) == hint, c.hint);
            EXPECT_EQ(after(3) == mismatch, c.mismatch);
            EXPECT_EQ(shows(v, hint), c.hint);
            EXPECT_EQ(shows(v, mismatch), c.mismatch);
            EXPECT_TRUE(support::has_control(v, cont));
            auto m = message_of(v, cont);
            EXPECT_EQ(m.has_value(), c.valid);
            if (m) {
                EXPECT_TRUE(m->is<Msg::Next>());
            }
        }
    }
}

TEST_F(ConfigPages, AccountFieldsAndEncryption) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        const std::string warning = translate("account.encrypt_no_tpm");
        auto a = at(Page::Account, 0, false);
        type(a, 2, "s3cret");
        auto v = a.view();
        auto fields = all<zem::TextEdit>(v);
        ASSERT_EQ(fields.size(), 4u);
        // The password and its confirmation are masked; nothing reveals them.
        EXPECT_FALSE(fields[0]->masked());
        EXPECT_FALSE(fields[1]->masked());
        EXPECT_TRUE(fields[2]->masked());
        EXPECT_TRUE(fields[3]->masked());
        for (auto* f : fields) EXPECT_FALSE(f->reveal.has_value());
        EXPECT_EQ(fields[2]->value.str(), "s3cret");
        EXPECT_EQ(fields[1]->value.str(), "tavix");
        EXPECT_EQ(fields[0]->placeholder, translate("account.username_ph"));
        // Each field's edits become its own message.
        EXPECT_TRUE(unbox((*fields[1]->on_change)("x"))->is<Msg::SetHostname>());
        EXPECT_TRUE(unbox((*fields[3]->on_change)("x"))->is<Msg::SetPasswordConfirm>());

        for (bool tpm : {false, true}) {
            SCOPED_TRACE(tpm ? "TPM" : "no TPM");
            a.tpm_present = tpm;
            EXPECT_FALSE(shows(a.view(), warning));
            const auto before = a.view();
            auto sw = all<zem::Switch>(before);
            ASSERT_EQ(sw.size(), 1u);
            EXPECT_FALSE(sw[0]->on);
            a.update(*unbox(sw[0]->on_toggle));
            EXPECT_TRUE(a.encrypt);
            EXPECT_TRUE(all<zem::Switch>(a.view())[0]->on);
            const auto after = a.view();
            const auto* w = text_of(after, warning);
            EXPECT_EQ(w != nullptr, !tpm);
            if (w) {
                EXPECT_TRUE(same(w->color, pal().danger));
                // The warning follows the encryption hint.
                const auto& form = scrolled(after).children;
                EXPECT_EQ(form[form.size() - 2].as<zem::Text>()->text, translate("account.encrypt_hint"));
            }
            a.update(Msg::ToggleEncrypt{});
            EXPECT_FALSE(shows(a.view(), warning));
        }
        // No step dots on this page, in either scenario.
        auto c = at(Page::Account, 0, true);
        const auto cv = c.view();
        EXPECT_EQ(all<zem::Container>(page_column(cv).children[0]).size(), 0u);
        press(c, translate("common.back"));
        EXPECT_EQ(c.page, Page::Welcome);
    }
}

// --- storage and the outside account ---------------------------------------------

TEST_F(ConfigPages, StorageChoices) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        const std::string local = translate("storage.local"), proton = translate("storage.proton"),
                          dropbox = translate("storage.dropbox");
        auto fill_of = [&](const zem::Element& v, const std::string& label) {
            for (auto* g : all<zem::GestureArea>(v))
                if (shows(*g->child, label)) return std::get<zem::Color>(*g->child->as<zem::Container>()->fill);
            ADD_FAILURE() << "no row " << label;
            return zem::Color{};
        };
        auto a = at(Page::Storage);
        auto v = a.view();
        EXPECT_TRUE(shows(v, translate("storage.recommended")));
        EXPECT_TRUE(shows(v, translate("storage.external_hint")));
        for (auto& l : {local, proton, dropbox}) EXPECT_TRUE(same(fill_of(v, l), pal().surface)) << l;
        // The Proton and Dropbox marks render; the local row has none.
        EXPECT_EQ(all<zem::Image>(scrolled(v)).size(), 2u);
        EXPECT_FALSE(support::has_control(v, translate("common.continue")));

        struct Case {
            std::string row;
            std::uint8_t value;
            Page next;
        };
        for (const Case& c : {Case{local, 0, Page::Permissions}, Case{proton, 1, Page::Proton},
                              Case{dropbox, 2, Page::Permissions}}) {
            SCOPED_TRACE(c.row);
            auto b = at(Page::Storage);
            press(b, c.row);
            EXPECT_EQ(b.storage, c.value);
            EXPECT_EQ(b.page, c.next);
            // Back shows the row marked; pressing it again leaves again.
            press(b, translate("common.back"));
            ASSERT_EQ(b.page, Page::Storage);
            auto w = b.view();
            for (auto& l : {local, proton, dropbox})
                EXPECT_TRUE(same(fill_of(w, l), l == c.row ? pal().accent : pal().surface)) << l;
            press(b, c.row);
            EXPECT_EQ(b.page, c.next);
        }
    }
}

TEST_F(ConfigPages, OutsideAccountSubmitCondition) {
    struct Case {
        const char* name;
        std::string full, email, pw;
        bool complete;
    };
    const std::vector<Case> cases = {
        {"all empty", "", "", "", false},
        {"name of spaces", "   ", "a@b", "12345678", false},
        {"e-mail of white space", "Ann", " \t\u3000\u00a0", "12345678", false},
        {"e-mail not examined", "Ann", "x", "12345678", true},
        {"seven bytes", "Ann", "x", "1234567", false},
        {"four two-byte characters", "Ann", "x", "\u00e9\u00e9\u00e9\u00e9", true},
        {"spaces count in the password", "Ann", "x", " 123456 ", true},
    };
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        const std::string submit = translate("proton.submit"), skip = translate("proton.skip");
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            auto a = at(Page::Proton);
            type(a, 0, c.full);
            type(a, 1, c.email);
            type(a, 2, c.pw);
            auto v = a.view();
            EXPECT_TRUE(support::has_control(v, submit));
            auto m = message_of(v, submit);
            EXPECT_EQ(m.has_value(), c.complete);
            if (m) {
                a.update(*m);
                EXPECT_EQ(a.page, Page::Permissions);
            }
            auto fields = all<zem::TextEdit>(v);
            ASSERT_EQ(fields.size(), 3u);
            EXPECT_FALSE(fields[0]->masked());
            EXPECT_TRUE(fields[2]->masked());
            EXPECT_TRUE(fields[2]->holds_secret());
        }
        // The password shows in clear through its reveal control, and hides again.
        auto r = at(Page::Proton);
        type(r, 2, "hunter22");
        for (bool shown : {true, false}) {
            const auto before = r.view();
            const auto* pw = all<zem::TextEdit>(before)[2];
            ASSERT_TRUE(pw->reveal.has_value());
            EXPECT_EQ(pw->reveal->revealed, !shown);
            r.update(*unbox(pw->reveal->toggle));
            const auto after = r.view();
            EXPECT_EQ(all<zem::TextEdit>(after)[2]->masked(), !shown);
            EXPECT_EQ(all<zem::TextEdit>(after)[2]->value.str(), "hunter22");
            EXPECT_EQ(r.page, Page::Proton);
        }
        // Skip works on an empty form and keeps what was typed.
        auto a = at(Page::Proton);
        a.storage = 1;
        type(a, 0, "Ann");
        press(a, skip);
        EXPECT_EQ(a.page, Page::Permissions);
        press(a, translate("common.back"));
        EXPECT_EQ(a.page, Page::Proton);
        EXPECT_EQ(all<zem::TextEdit>(a.view())[0]->value.str(), "Ann");
        EXPECT_TRUE(shows(a.view(), translate("proton.why_title")));
        EXPECT_TRUE(shows(a.view(), translate("proton.legal")));
        press(a, translate("common.back"));
        EXPECT_EQ(a.page, Page::Storage);
    }
}

// --- permissions -------------------------------------------------------------

TEST_F(ConfigPages, PermissionSwitchesFlipTheirOwnRow) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        auto a = at(Page::Permissions);
        auto v = a.view();
        // The list: row, divider, row, divider, row, divider, row.
        const auto& content = scrolled(v).children;
        const auto& list = *content[1].as<zem::Column>();
        ASSERT_EQ(list.children.size(), 7u);
        for (std::size_t i = 1; i < 7; i += 2) {
            auto* d = list.children[i].as<zem::Divider>();
            ASSERT_TRUE(d) << i;
            EXPECT_TRUE(same(d->color, zem::theme::divider_paint().color));
        }
        const char* titles[] = {"permissions.location_title", "permissions.microphone_title",
                                "permissions.camera_title", "permissions.notifications_title"};
        for (std::size_t i = 0; i < 4; ++i) {
            const auto& row = list.children[2 * i];
            EXPECT_TRUE(shows(row, translate(titles[i]))) << i;
            EXPECT_EQ(text_of(row, translate(titles[i]))->font->weight, 700);
            EXPECT_EQ(all<zem::Image>(row).size(), 1u) << "icon of row " << i;
        }
        auto switches = all<zem::Switch>(v);
        ASSERT_EQ(switches.size(), 4u);
        EXPECT_EQ((std::array<bool, 4>{switches[0]->on, switches[1]->on, switches[2]->on, switches[3]->on}),
                  (std::array<bool, 4>{false, false, false, true}));
        // The first switch is the location row's and flips entry 0 only.
        a.update(*unbox(switches[0]->on_toggle));
        EXPECT_EQ(a.permissions, (std::array<bool, 4>{true, false, false, true}));
        EXPECT_EQ(a.page, Page::Permissions);
        EXPECT_TRUE(all<zem::Switch>(a.view())[0]->on);
        a.update(*unbox(all<zem::Switch>(a.view())[0]->on_toggle));
        EXPECT_EQ(a.permissions, (std::array<bool, 4>{false, false, false, true}));
        a.update(*unbox(all<zem::Switch>(a.view())[2]->on_toggle));
        EXPECT_EQ(a.permissions, (std::array<bool, 4>{false, false, true, true}));
        EXPECT_TRUE(shows(v, translate("permissions.card_title")));
        // No permission is required to go on; the flags survive a round trip.
        press(a, translate("common.continue"));
        EXPECT_EQ(a.page, Page::Security);
        press(a, translate("common.back"));
        EXPECT_EQ(a.permissions, (std::array<bool, 4>{false, false, true, true}));
        a.storage = 1;
        press(a, translate("common.back"));
        EXPECT_EQ(a.page, Page::Proton);
    }
}

// --- navigation --------------------------------------------------------------

TEST_F(ConfigPages, NavigationCardSize) {
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {
        {1280, 220}, {552, 220}, {551, 219}, {400, 144}, {306, 97}, {305, 96}, {100, 96}, {0, 96}};
    for (auto [w, s] : sizes) EXPECT_EQ(app::navigation_card_size(w), s) << w;
}

TEST_F(ConfigPages, NavigationCardsMarkTheChoice) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        const std::string gestures = translate("navigation.gestures_title"),
                          buttons = translate("navigation.buttons_title"),
                          cont = translate("common.continue");
        auto borders = [&](const app::InstallerApp& a) {
            std::vector<std::pair<zem::Color, float>> out;
            const auto v = a.view();
            for (auto* g : all<zem::GestureArea>(scrolled(v)))
                out.push_back(*g->child->as<zem::Column>()->children[0].as<zem::Container>()->border);
            return out;
        };
        auto a = at(Page::Navigation);
        auto b = borders(a);
        ASSERT_EQ(b.size(), 2u);
        for (auto& [c, w] : b) {
            EXPECT_TRUE(same(c, pal().divider));
            EXPECT_EQ(w, 1.0f);
        }
        EXPECT_TRUE(support::has_control(a.view(), cont));
        EXPECT_FALSE(message_of(a.view(), cont));
        // The subtitle is part of the card: pressing it chooses the card.
        press(a, translate("navigation.gestures_subtitle"));
        EXPECT_EQ(a.navigation_style, 0);
        EXPECT_EQ(a.page, Page::Navigation);
        b = borders(a);
        EXPECT_TRUE(same(b[0].first, pal().accent));
        EXPECT_EQ(b[0].second, 2.0f);
        EXPECT_TRUE(same(b[1].first, pal().divider));
        press(a, buttons);
        EXPECT_EQ(a.navigation_style, 1);
        b = borders(a);
        EXPECT_TRUE(same(b[0].first, pal().divider));
        EXPECT_TRUE(same(b[1].first, pal().accent));
        press(a, cont);
        EXPECT_EQ(a.page, Page::Storage);
        press(a, translate("common.back"));
        EXPECT_EQ(a.navigation_style, 1);
        EXPECT_TRUE(shows(a.view(), gestures));
    }
    // At the default width the gestures picture is 220 high and keeps its
    // proportions.
    auto a = at(Page::Navigation);
    const auto nv = a.view();
    auto imgs = all<zem::Image>(scrolled(nv));
    ASSERT_EQ(imgs.size(), 2u);
    EXPECT_EQ(imgs[0]->height->value, 220.0f);
    EXPECT_NEAR(imgs[0]->width->value, 99.0f, 1.0f);
    // A picture that does not render leaves the frame empty; the card still works.
    auto card = app::navigation_card("T", "S", "<svg", true, Msg::SetNavigationStyle{1}, pal().accent, 220);
    EXPECT_TRUE(all<zem::Image>(card).empty());
    EXPECT_TRUE(unbox(card.as<zem::GestureArea>()->on_tap)->is<Msg::SetNavigationStyle>());
}

// --- security and fingerprint ----------------------------------------------------

TEST_F(ConfigPages, SecurityRowsAndSkip) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        const std::string cta = translate("security.cta"), skip = translate("common.skip_for_now");
        const char* titles[] = {"security.pin_title", "security.fingerprint_title", "security.face_title",
                                "security.pattern_title"};
        auto marks = [&](const app::InstallerApp& a) {
            std::vector<bool> out;
            auto v = a.view();
            auto radios = all<zem::RadioButton>(v);
            auto rows = all<zem::GestureArea>(scrolled(v));
            EXPECT_EQ(radios.size(), 4u);
            EXPECT_EQ(rows.size(), 4u);
            for (std::size_t i = 0; i < rows.size() && i < radios.size(); ++i) {
                const auto& fill = std::get<zem::Color>(*rows[i]->child->as<zem::Container>()->fill);
                EXPECT_TRUE(radios[i]->selected ? same(fill, pal().surface) : fill.a == 0.0f) << i;
                // The Radio sends what its row sends.
                EXPECT_EQ(unbox(radios[i]->on_select)->get<Msg::SetSecurityMethod>()->method, i);
                out.push_back(radios[i]->selected);
            }
            return out;
        };
        auto a = at(Page::Security);
        EXPECT_EQ(marks(a), std::vector<bool>(4, false));
        EXPECT_TRUE(support::has_control(a.view(), cta));
        EXPECT_FALSE(message_of(a.view(), cta));
        for (std::uint8_t v : {0, 2, 3}) {
            press(a, translate(titles[v]));
            EXPECT_EQ(a.page, Page::Security);
            std::vector<bool> want(4, false);
            want[v] = true;
            EXPECT_EQ(marks(a), want);
        }
        EXPECT_TRUE(shows(a.view(), translate("security.card")));
        press(a, cta);
        EXPECT_EQ(a.page, Page::Finish);

        // The fingerprint leaves at once; coming back shows it marked, and
        // continue then skips the enrolment pages.
        auto b = at(Page::Security);
        press(b, translate(titles[1]));
        EXPECT_EQ(b.page, Page::FingerprintEnroll);
        press(b, translate("common.back"));
        EXPECT_EQ(b.page, Page::Security);
        EXPECT_EQ(marks(b), (std::vector<bool>{false, true, false, false}));
        press(b, cta);
        EXPECT_EQ(b.page, Page::Finish);

        auto c = at(Page::Security);
        press(c, skip);
        EXPECT_EQ(c.page, Page::Finish);
        EXPECT_EQ(c.security_method, 4);
        auto d = at(Page::Security);
        press(d, translate(titles[3]));
        press(d, skip);
        EXPECT_EQ(d.security_method, 3);
    }
}

TEST_F(ConfigPages, FingerprintPagesLoop) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        const std::string about = translate("security.fingerprint_about"), cont = translate("common.continue"),
                          later = translate("security.fingerprint_set_up_later"),
                          finish = translate("security.fingerprint_finish"),
                          more = translate("security.fingerprint_register_more"), back = translate("common.back");
        for (const std::string& forward : {about, cont}) {
            auto a = at(Page::Security);
            a.update(Msg::SetSecurityMethod{1});
            press(a, forward);
            EXPECT_EQ(a.page, Page::FingerprintDone);
            press(a, more);
            EXPECT_EQ(a.page, Page::FingerprintEnroll);
            press(a, forward);
            press(a, back);
            EXPECT_EQ(a.page, Page::FingerprintEnroll);
            press(a, forward);
            press(a, finish);
            EXPECT_EQ(a.page, Page::Finish);
            EXPECT_EQ(a.security_method, 1);
        }
        auto a = at(Page::FingerprintEnroll);
        a.security_method = 1;
        auto v = a.view();
        for (const char* k : {"security.fingerprint_step_1", "security.fingerprint_step_2", "security.fingerprint_step_3"})
            EXPECT_TRUE(shows(v, translate(k))) << k;
        for (const char* n : {"1", "2", "3"}) {
            const auto* t = text_of(v, n);
            ASSERT_TRUE(t) << n;
            EXPECT_TRUE(same(t->color, pal().surface));
        }
        auto icon = all<zem::Image>(v);
        ASSERT_EQ(icon.size(), 2u); // the back arrow and the fingerprint
        EXPECT_EQ(icon[1]->width->value, 96.0f);
        EXPECT_EQ(icon[1]->height->value, 96.0f);
        press(a, later);
        EXPECT_EQ(a.page, Page::Finish);
        EXPECT_EQ(a.security_method, 1);

        auto d = at(Page::FingerprintDone);
        const auto dv = d.view();
        icon = all<zem::Image>(dv);
        ASSERT_EQ(icon.size(), 2u);
        EXPECT_EQ(icon[1]->width->value, 64.0f);
        EXPECT_TRUE(shows(d.view(), translate("security.fingerprint_done_subtitle")));
    }
}

// --- tutorials ---------------------------------------------------------------

TEST_F(ConfigPages, TutorialPictureSize) {
    struct Case {
        app::WindowSize window;
        bool dock;
        std::uint8_t step;
        std::uint32_t size;
    };
    const std::vector<Case> cases = {
        {{1280, 800}, false, 0, 360}, {{1280, 800}, true, 0, 210}, {{1280, 800}, true, 1, 360},
        {{720, 1440}, false, 2, 420}, {{720, 1440}, true, 0, 520}, {{720, 1440}, true, 3, 520},
        {{800, 480}, false, 1, 96},   {{800, 480}, true, 0, 96},   {{800, 480}, true, 2, 96},
        {{40, 2000}, false, 1, 96},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app::tutorial_picture_size(c.window, c.dock, c.step), c.size)
            << c.window.first << "x" << c.window.second << (c.dock ? " dock " : " gestures ") << int(c.step);
}

TEST_F(ConfigPages, TutorialSteps) {
    for (const char* lang : LANGUAGES) {
        SCOPED_TRACE(lang);
        i18n::set_locale(lang);
        // Gestures introduction: picture, flexible space, title; no number.
        auto g = at(Page::GesturesTutorial, 0);
        const auto gv = g.view();
        const auto& gc = scrolled(gv).children;
        ASSERT_EQ(gc.size(), 3u);
        EXPECT_TRUE(gc[0].as<zem::Image>());
        EXPECT_TRUE(gc[1].as<zem::Spacer>());
        EXPECT_TRUE(shows(gc[2], translate("tutorial_gestures.intro_title")));
        EXPECT_TRUE(message_of(g.view(), translate("tutorial_gestures.intro_cta"))->is<Msg::Next>());
        // Step 1 of gestures: G1 is 360 high at 1280 x 800.
        press(g, translate("tutorial_gestures.intro_cta"));
        EXPECT_EQ(g.tutorial_step, 1);
        const auto g1v = g.view();
        const auto& g1 = scrolled(g1v).children;
        EXPECT_EQ(g1[0].as<zem::Image>()->height->value, 360.0f);
        EXPECT_EQ(g1[1].as<zem::Text>()->text, "1");

        // Dock introduction: picture, title, bullet card.
        auto d = at(Page::DockTutorial, 0);
        const auto dv = d.view();
        const auto& dc = scrolled(dv).children;
        ASSERT_EQ(dc.size(), 3u);
        EXPECT_EQ(dc[0].as<zem::Image>()->width->value, 210.0f);
        EXPECT_TRUE(shows(dc[1], translate("tutorial_trovex.intro_title")));
        for (const char* k : {"tutorial_trovex.intro_bullet_1", "tutorial_trovex.intro_bullet_2",
                              "tutorial_trovex.intro_bullet_3"})
            EXPECT_TRUE(shows(dc[2], translate(k))) << k;

        // Step 3 and a step past the table show the last entry with their own number.
        for (std::uint8_t step : {3, 5}) {
            auto s = at(Page::DockTutorial, step);
            auto v = s.view();
            EXPECT_EQ(scrolled(v).children[1].as<zem::Text>()->text, std::to_string(step));
            EXPECT_TRUE(shows(v, translate("tutorial_trovex.step_3_title")));
            EXPECT_TRUE(message_of(v, translate("common.done")));
        }
        auto skip = at(Page::GesturesTutorial, 2);
        EXPECT_TRUE(message_of(skip.view(), translate("common.skip_tutorial"))->is<Msg::SkipTutorial>());
        press(skip, translate("common.back"));
        EXPECT_EQ(skip.tutorial_step, 1);
    }
}

} // namespace

namespace {

// Row insets and control heights follow the surface's height within their
// bounds.
TEST_F(ConfigPages, RowsAndControlsFollowTheSurfaceHeight) {
    struct Case {
        std::uint32_t height;
        float inset, control;
    };
    const std::vector<Case> cases = {{800, 10, 40}, {960, 12, 40}, {1200, 12, 40}, {320, 4, 24}, {240, 4, 24}};
    auto perm = at(Page::Permissions);
    auto sec = at(Page::Security);
    const auto pv = perm.view();
    const auto sv = sec.view();
    const auto* perm_row = scrolled(pv).children[1].as<zem::Column>()->children[0].as<zem::Container>();
    const auto* sec_row = all<zem::GestureArea>(scrolled(sv))[0]->child->as<zem::Container>();
    const auto* sw = all<zem::Switch>(pv)[0];
    const auto* radio = all<zem::RadioButton>(sv)[0];
    const zem::Button* skip = nullptr;
    for (auto* b : all<zem::Button>(sv))
        if (b->label() && *b->label() == translate("common.skip_for_now")) skip = b;
    ASSERT_TRUE(perm_row && sec_row && sw && radio && skip);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        zem::Canvas canvas = zem::Canvas::new_software(1280, c.height);
        for (const auto* row : {perm_row, sec_row}) {
            EXPECT_EQ(canvas.resolve_length(row->top), c.inset);
            EXPECT_EQ(canvas.resolve_length(row->bottom), c.inset);
            EXPECT_EQ(canvas.resolve_length(row->left), 12.0f);
        }
        EXPECT_EQ(canvas.resolve_length(*sw->height), c.control);
        EXPECT_EQ(canvas.resolve_length(*radio->height), c.control);
        EXPECT_EQ(canvas.resolve_length(*skip->height), c.control);
    }
}

} // namespace
