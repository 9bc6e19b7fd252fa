#include <base/i18n.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace base::i18n {
namespace {

Catalogue sample() {
    Catalogue table;
    const TextPair en[] = {{"greet.hello", "Hello"}, {"greet.bye", "Bye"}, {"only.en", "English only"}};
    const TextPair pt[] = {{"greet.hello", "Olá"}, {"greet.bye", "Adeus"}};
    const TextPair zh[] = {{"greet.hello", "你好"}};
    const TextPair zh_hant[] = {{"greet.hello", "妳好"}};
    const TextPair ex[] = {{"greet.hello", "ex"}};
    table.add_texts("en", en);
    table.add_texts("pt", pt);
    table.add_texts("zh", zh);
    table.add_texts("zh-Hant", zh_hant);
    table.add_texts("x", ex);
    return table;
}

TEST(I18nCatalogue, AddTextsMergesAndReplaces) {
    Catalogue table;
    const TextPair first[] = {{"a.one", "1"}, {"a.two", "2"}};
    const TextPair second[] = {{"a.two", "two"}, {"a.three", "3"}};
    table.add_texts("de", first);
    table.add_texts("de", second);
    EXPECT_EQ(table.language_count(), 1u);
    EXPECT_EQ(table.key_count("de"), 3u);
    EXPECT_EQ(table.lookup("de", "a.one"), "1");
    EXPECT_EQ(table.lookup("de", "a.two"), "two");
    EXPECT_EQ(table.lookup("de", "a.three"), "3");
    // Codes and keys compare byte for byte: no case folding, no trimming.
    EXPECT_EQ(table.lookup("DE", "a.one"), std::nullopt);
    EXPECT_EQ(table.lookup("de", "A.one"), std::nullopt);
    EXPECT_EQ(table.lookup("de ", "a.one"), std::nullopt);
    EXPECT_EQ(table.lookup("fr", "a.one"), std::nullopt);
    EXPECT_EQ(table.key_count("fr"), 0u);
}

TEST(I18nCatalogue, LookupHandsOutTheStoredText) {
    static constexpr std::string_view text = "stored";
    Catalogue table;
    const TextPair pairs[] = {{"k.k", text}};
    table.add_texts("en", pairs);
    EXPECT_EQ(table.lookup("en", "k.k")->data(), text.data());
}

TEST(I18nCatalogue, FallbackChain) {
    const Catalogue table = sample();
    struct Case {
        std::string_view locale;
        std::string_view key;
        std::optional<std::string_view> expected;
    };
    const std::vector<Case> cases = {
        {"pt", "greet.hello", "Olá"},
        {"pt-BR", "greet.hello", "Olá"},              // region cut off
        {"pt-BR-x-foo", "greet.bye", "Adeus"},        // cut repeatedly
        {"pt-BR", "only.en", "English only"},         // missing in pt: English
        {"zh-x-x-foo", "greet.hello", "你好"},         // private-use markers dropped
        {"zh-Hant-TW", "greet.hello", "妳好"},         // stops at the first hit
        {"zh-Hant", "greet.hello", "妳好"},
        {"it", "greet.hello", "Hello"},               // unknown language
        {"", "greet.hello", "Hello"},                 // empty code
        {"pt_BR", "greet.hello", "Hello"},            // '_' is no subtag separator
        {"PT", "greet.hello", "Hello"},               // codes are byte-exact
        {"x-x", "greet.hello", "ex"},                 // cut to "x", which has a table
        {"-x", "greet.hello", "Hello"},               // cut to the empty code
        {"pt", "no.such.key", std::nullopt},          // unknown key
        {"it-IT", "no.such.key", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lookup_with_fallback(table, c.locale, c.key), c.expected)
            << "locale '" << c.locale << "', key '" << c.key << "'";
    }
}

TEST(I18nCatalogue, FallbackReachesEnglishLast) {
    // A table whose "en" lacks a key gives nothing, however the code is cut.
    Catalogue table;
    const TextPair de[] = {{"only.de", "Nur Deutsch"}};
    table.add_texts("de", de);
    EXPECT_EQ(lookup_with_fallback(table, "fr-CA", "only.de"), std::nullopt);
    EXPECT_EQ(lookup_with_fallback(table, "de-AT", "only.de"), "Nur Deutsch");
}

TEST(I18nLocale, StartsInEnglish) {
    // Only a fresh process shows the initial value.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(*current_locale() == "en" ? 0 : 1), testing::ExitedWithCode(0), "");
    EXPECT_EQ(DEFAULT_LOCALE, "en");
    EXPECT_EQ(FALLBACK_LOCALE, "en");
}

TEST(I18nLocale, SnapshotOutlivesALaterSet) {
    set_locale("de");
    const LocaleSnapshot before = current_locale();
    set_locale("pt-BR");
    EXPECT_EQ(*before, "de");
    EXPECT_EQ(*current_locale(), "pt-BR");

    // The code is copied: the caller's buffer may change afterwards.
    std::string code = "ja";
    set_locale(code);
    code = "ko";
    EXPECT_EQ(*current_locale(), "ja");

    set_locale("");
    EXPECT_EQ(*current_locale(), "");
    set_locale("en");
}

TEST(I18nLocale, ConcurrentSetAndReadNeverMixCodes) {
    const std::vector<std::string> codes = {"de", "en", "zh-x-x-foo", "pt-BR", std::string(200, 'q')};
    const std::set<std::string> valid(codes.begin(), codes.end());
    std::atomic<bool> stop{false};
    std::atomic<bool> mixed{false};

    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (std::size_t i = 0; !stop.load(); ++i) {
                set_locale(codes[(i + w) % codes.size()]);
            }
        });
    }
    for (int r = 0; r < 4; ++r) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                const LocaleSnapshot snap = current_locale();
                const std::string copy = *snap;
                if (!valid.contains(copy) || *snap != copy) {
                    mixed = true;
                }
            }
        });
    }
    for (std::size_t t = 2; t < threads.size(); ++t) {
        threads[t].join();
    }
    stop = true;
    threads[0].join();
    threads[1].join();
    EXPECT_FALSE(mixed.load());
    set_locale("en");
}

} // namespace
} // namespace base::i18n
