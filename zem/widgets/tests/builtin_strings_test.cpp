#include <zem/widgets/builtin_strings.hpp>

#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zem {
namespace {

constexpr std::array<std::string_view, 7> kCodes = {"de", "en", "es", "fr", "it", "pt", "pt_BR"};
constexpr std::array<std::string_view, 4> kMenuKeys = {"context_menu.copy", "context_menu.cut",
                                                       "context_menu.paste", "context_menu.delete"};

TEST(BuiltinStrings, TableHoldsSevenLanguagesWithTheSameKeys) {
    const i18n::Catalogue table = builtin_strings();
    EXPECT_EQ(table.language_count(), kCodes.size());

    std::map<std::string, std::set<std::string>> keys;
    table.for_each([&](std::string_view code, std::string_view key, std::string_view text) {
        EXPECT_FALSE(text.empty()) << code << " " << key;
        keys[std::string(code)].insert(std::string(key));
    });
    std::set<std::string> expected(kMenuKeys.begin(), kMenuKeys.end());
    for (int d = 0; d <= 6; ++d) {
        expected.insert("date_picker.dow_short_" + std::to_string(d));
    }
    for (int m = 1; m <= 12; ++m) {
        expected.insert("date_picker.month_" + std::to_string(m));
    }
    ASSERT_EQ(expected.size(), 23u);
    for (auto code : kCodes) {
        EXPECT_EQ(keys[std::string(code)], expected) << code;
    }
}

TEST(BuiltinStrings, ContextMenuLabels) {
    const std::map<std::string_view, std::array<std::string_view, 4>> labels = {
        {"de", {"Kopieren", "Ausschneiden", "Einfügen", "Löschen"}},
        {"en", {"Copy", "Cut", "Paste", "Delete"}},
        {"es", {"Copiar", "Cortar", "Pegar", "Borrar"}},
        {"fr", {"Copier", "Couper", "Coller", "Supprimer"}},
        {"it", {"Copia", "Taglia", "Incolla", "Elimina"}},
        {"pt", {"Copiar", "Cortar", "Colar", "Eliminar"}},
        {"pt_BR", {"Copiar", "Recortar", "Colar", "Excluir"}},
    };
    for (const auto& [code, texts] : labels) {
        for (std::size_t i = 0; i < kMenuKeys.size(); ++i) {
            EXPECT_EQ(builtin_string(code, kMenuKeys[i]), texts[i]) << code << " " << kMenuKeys[i];
        }
    }
}

TEST(BuiltinStrings, EnglishDatePickerNames) {
    const std::array<std::string_view, 7> initials = {"S", "M", "T", "W", "T", "F", "S"};
    for (int d = 0; d <= 6; ++d) {
        EXPECT_EQ(builtin_string("en", "date_picker.dow_short_" + std::to_string(d)), initials[d]);
    }
    const std::array<std::string_view, 12> months = {"January", "February", "March",     "April",
                                                     "May",     "June",     "July",      "August",
                                                     "September", "October", "November", "December"};
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(builtin_string("en", "date_picker.month_" + std::to_string(m)), months[m - 1]);
    }
    // Sunday first everywhere, so Monday is the second initial.
    EXPECT_EQ(builtin_string("de", "date_picker.dow_short_1"), "M");
    EXPECT_EQ(builtin_string("es", "date_picker.dow_short_3"), "X");
    EXPECT_EQ(builtin_string("it", "date_picker.month_1"), "Gennaio");
    EXPECT_EQ(builtin_string("pt_BR", "date_picker.month_3"), "Março");
}

TEST(BuiltinStrings, FallbackFollowsTheWizardsRules) {
    struct Case {
        std::string_view locale;
        std::string_view key;
        std::optional<std::string_view> expected;
    };
    const std::vector<Case> cases = {
        {"ja", "context_menu.copy", "Copy"},           // language the table lacks
        {"hi", "context_menu.delete", "Delete"},
        {"pt-BR", "context_menu.cut", "Cortar"},       // cut at '-' to European Portuguese
        {"pt_BR", "context_menu.cut", "Recortar"},     // only the exact code reaches Brazil
        {"fr-CA-x-foo", "context_menu.paste", "Coller"},
        {"", "context_menu.copy", "Copy"},
        {"fr", "context_menu.no_such", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(builtin_string(c.locale, c.key), c.expected) << c.locale << " " << c.key;
    }
}

TEST(BuiltinStrings, BuildingLeavesTheCurrentLanguage) {
    i18n::set_locale("fr");
    (void)builtin_strings();
    (void)builtin_string("de", "context_menu.copy");
    EXPECT_EQ(*i18n::current_locale(), "fr");
    EXPECT_EQ(builtin_string(*i18n::current_locale(), "context_menu.copy"), "Copier");
    i18n::set_locale("en");
}

// Runs the first lookups of a process from many threads at once.
bool first_lookups_agree() {
    constexpr int kThreads = 8;
    std::barrier start(kThreads);
    std::array<std::optional<std::string_view>, kThreads> got;
    std::array<const i18n::Catalogue*, kThreads> tables{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            got[t] = builtin_string("fr", "context_menu.copy");
            tables[t] = &builtin_strings_init();
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    bool ok = true;
    for (int t = 0; t < kThreads; ++t) {
        ok = ok && got[t] == "Copier" && tables[t] == tables[0];
    }
    return ok;
}

TEST(BuiltinStrings, FirstLookupFromManyThreads) {
    // A fresh process, so the table is really built by one of these threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(first_lookups_agree() ? 0 : 1), testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace zem
