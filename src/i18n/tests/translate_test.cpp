#include "i18n/translate.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <barrier>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace i18n {
namespace {

// Restores the process's language after a test that changes it.
struct LocaleGuard {
    ~LocaleGuard() { set_locale("en"); }
};

TEST(I18nLookup, LanguageFallbackCases) {
    struct Case {
        std::string_view locale;
        std::string_view key;
        std::optional<std::string_view> expected;
    };
    const std::vector<Case> cases = {
        {"de", "common.back", "Zurück"},
        {"en", "common.back", "Back"},
        {"pt-BR", "common.back", "Voltar"},         // region dropped
        {"zh-CN", "common.done", "完成"},
        {"zh-x-x-foo", "common.back", "返回"},       // private-use markers dropped too
        {"ja-JP-x-kiosk", "common.next", "次へ"},
        {"it", "common.back", "Back"},              // no such language: English
        {"it-IT", "common.back", "Back"},
        {"", "common.back", "Back"},
        {"pt_BR", "common.back", "Back"},           // only '-' separates subtags
        {"DE", "common.back", "Back"},              // codes are byte-exact
        {"hi-IN", "security.pin_title", "PIN"},
        {"de", "no.such.key", std::nullopt},
        {"zh-x-x-foo", "no.such.key", std::nullopt},
        {"de", "", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(try_translate(c.locale, c.key), c.expected) << "'" << c.locale << "' '" << c.key << "'";
    }
}

TEST(I18nLookup, TryTranslateHandsOutTheStoredText) {
    const auto first = try_translate("fr", "common.back");
    const auto second = try_translate("fr-CA", "common.back");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->data(), second->data());
}

TEST(I18nLookup, TranslateFollowsTheCurrentLanguage) {
    LocaleGuard guard;
    set_locale("de");
    EXPECT_EQ(translate("common.back"), "Zurück");
    set_locale("hi");
    EXPECT_EQ(translate("common.back"), "वापस");
    set_locale("ru");
    EXPECT_EQ(translate("wireless.title"), "Подключитесь к Wi-Fi");
}

TEST(I18nLookup, RegionCodeAndUnknownLanguageResolveEveryKey) {
    LocaleGuard guard;
    std::vector<std::string> keys;
    build_catalogue().for_each([&](std::string_view code, std::string_view key, std::string_view) {
        if (code == "en") {
            keys.emplace_back(key);
        }
    });
    ASSERT_FALSE(keys.empty());
    for (const auto& [locale, resolves_as] : std::vector<std::pair<std::string_view, std::string_view>>{
             {"pt-BR", "pt"}, {"it", "en"}, {"ko-KR-x-test", "ko"}}) {
        set_locale(locale);
        for (const auto& key : keys) {
            EXPECT_EQ(translate(key), *try_translate(resolves_as, key)) << locale << " " << key;
        }
    }
}

TEST(I18nLookup, UnknownKeyComesBackAsItself) {
    LocaleGuard guard;
    set_locale("fr");
    EXPECT_EQ(translate("no.such.key"), "no.such.key");
    EXPECT_EQ(translate_with("no.such.key", {{"size", "1 GB"}, {"disk", "/dev/sda"}}), "no.such.key");
    EXPECT_EQ(translate_with("no.such.key", {}), "no.such.key");
}

TEST(I18nLookup, TranslateLeavesPlaceholdersAndTranslateWithFillsThem) {
    LocaleGuard guard;
    set_locale("en");
    EXPECT_EQ(translate("disk.partition"), "Partition %{num}");
    EXPECT_EQ(translate_with("disk.partition", {{"num", "3"}}), "Partition 3");
    EXPECT_EQ(translate_with("error.target_too_small", {{"need", "16"}, {"have", "8"}}),
              "The target has 8 GB but the system needs at least 16 GB.");
    // Pairs held by the caller in a container of its own.
    const std::vector<Placeholder> pairs = {{"ssid", "Home"}};
    EXPECT_EQ(translate_with("wireless.connecting", pairs), "Connecting to Home…");
    set_locale("ko");
    EXPECT_EQ(translate_with("disk.op_resize", {{"num", "2"}, {"disk", "/dev/vda"}, {"size", "8 GB"}}),
              "/dev/vda의 파티션 2을(를) 8 GB로 크기 조정");
}

TEST(I18nPlaceholders, FillCases) {
    struct Case {
        std::string_view name;
        std::string_view text;
        std::vector<std::string_view> names;
        std::vector<std::string_view> values;
        std::string_view expected;
    };
    const std::vector<Case> cases = {
        {"summary keeps both blanks", "%{size}  (min %{min}, max %{max})", {"size", "min", "max"},
         {"12 GB", "1 GB", "30 GB"}, "12 GB  (min 1 GB, max 30 GB)"},
        {"no names", "Connecting to %{ssid}…", {}, {}, "Connecting to %{ssid}…"},
        {"more names than values", "%{ssid} %{other}", {"ssid", "other"}, {"Home"}, "Home %{other}"},
        {"more values than names", "%{a}", {"a"}, {"1", "2"}, "1"},
        {"first of two equal names wins", "%{x}", {"x", "x"}, {"1", "2"}, "1"},
        {"repeated placeholder", "%{x}-%{x}", {"x"}, {"1"}, "1-1"},
        {"unknown name stays", "%{y} %{x}", {"x"}, {"1"}, "%{y} 1"},
        {"doubled percent", "%%{x}", {"x"}, {"1"}, "%1"},
        {"blank between percent and brace", "100% {x}", {"x"}, {"1"}, "100% {x}"},
        {"brace without percent", "{x}", {"x"}, {"1"}, "{x}"},
        {"unclosed", "%{x", {"x"}, {"1"}, "%{x"},
        {"nested opening", "%{a%{x}", {"x"}, {"1"}, "%{a%{x}"},
        {"pair starting where the last ended", "%{%{}%{x}", {"x"}, {"1"}, "%{%{}%{x}"},
        {"same, with its inner name known", "%{%{}%{x}", {"%", "x"}, {"P", "1"}, "PPx}"},
        {"trailing opening", "%{x}%{", {"x"}, {"1"}, "1%{"},
        {"triple percent", "%%%{x}}", {"x"}, {"1"}, "%%1}"},
        {"empty name", "a%{}b", {""}, {"E"}, "aEb"},
        {"value is not filled again", "%{x}", {"x", "y"}, {"%{y}", "2"}, "%{y}"},
        {"value may be empty", "[%{x}]", {"x"}, {""}, "[]"},
        {"multibyte text around", "%{disk} のパーティション %{num}", {"num", "disk"}, {"2", "/dev/sda"},
         "/dev/sda のパーティション 2"},
        {"empty text", "", {"x"}, {"1"}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fill_placeholders(c.text, c.names, c.values), c.expected) << c.name;
    }
}

TEST(I18nPlaceholders, ManyPlaceholdersInOneText) {
    // More brace positions than fit on the stack: the spilled ones still pair.
    std::vector<std::string> names_owned;
    std::vector<std::string> values_owned;
    std::string text;
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        names_owned.push_back("n" + std::to_string(i));
        values_owned.push_back(std::to_string(i * 3));
        text += "<%{" + names_owned.back() + "}>";
        expected += "<" + values_owned.back() + ">";
    }
    text += "%{unclosed";
    expected += "%{unclosed";
    const std::vector<std::string_view> names(names_owned.begin(), names_owned.end());
    const std::vector<std::string_view> values(values_owned.begin(), values_owned.end());
    EXPECT_EQ(fill_placeholders(text, names, values), expected);
}

// Both threads start their first lookup of the process at the same moment.
bool first_lookups_agree() {
    constexpr int kThreads = 2;
    std::barrier start(kThreads);
    std::array<std::optional<std::string_view>, kThreads> got;
    std::array<std::string, kThreads> translated;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            got[t] = try_translate("ja", "common.back");
            translated[t] = translate("wireless.title");
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    return got[0] == "戻る" && got[1] == "戻る" && got[0]->data() == got[1]->data() &&
           translated[0] == "Connect to Wi-Fi" && translated[1] == "Connect to Wi-Fi";
}

TEST(I18nConcurrency, FirstLookupFromTwoThreads) {
    // A fresh process: the catalogue is not built before the two threads ask.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(first_lookups_agree() ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST(I18nConcurrency, TranslateWhileTheLanguageChanges) {
    LocaleGuard guard;
    set_locale("de");
    std::atomic<bool> stop{false};
    std::atomic<bool> wrong{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i) {
            set_locale(i % 2 ? "de" : "fr-CA");
        }
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                const std::string text = translate_with("disk.partition", {{"num", "4"}});
                if (text != "Partition Nr. 4" && text != "Partition n° 4") {
                    wrong = true;
                }
            }
        });
    }
    for (auto& r : readers) {
        r.join();
    }
    stop = true;
    writer.join();
    EXPECT_FALSE(wrong.load());
}

} // namespace
} // namespace i18n
