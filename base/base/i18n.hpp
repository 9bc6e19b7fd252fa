#pragma once
// The internationalisation runtime shared by the toolkit and its application:
// one process-wide current language, a table type mapping (language, key) to
// text, and the lookup that walks a language code down to English.
//
// The toolkit's own strings and the application's catalogue are two separate
// tables, but both follow the same current language, so the runtime lives
// here, below both of them.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace base::i18n {

// The language every process starts in, and the one every lookup tries last.
inline constexpr std::string_view DEFAULT_LOCALE = "en";
inline constexpr std::string_view FALLBACK_LOCALE = "en";

// One (key, text) pair handed to `Catalogue::add_texts`.
using TextPair = std::pair<std::string_view, std::string_view>;

// Language code -> (key -> text).
//
// The table stores views, not copies: every key and text handed to
// `add_texts` must outlive the table. Both tables of this program are built
// from string literals compiled into it, so lookups can hand out the stored
// text without copying and a text shared by several languages is kept once.
class Catalogue {
public:
    // Merges the pairs into the table of `code`, creating that table when it
    // is missing; a key already present takes the new text.
    void add_texts(std::string_view code, std::span<const TextPair> pairs);

    // The text of `key` in the table of `code`, compared byte for byte;
    // nothing when the code has no table or its table lacks the key.
    std::optional<std::string_view> lookup(std::string_view code, std::string_view key) const;

    // Number of language tables, and of keys in one of them (0 when absent).
    std::size_t language_count() const { return tables_.size(); }
    std::size_t key_count(std::string_view code) const;

    // Calls `fn(code, key, text)` for every text, in no particular order.
    void for_each(const std::function<void(std::string_view, std::string_view, std::string_view)>& fn) const;

private:
    struct ViewHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    using Table = std::unordered_map<std::string_view, std::string_view, ViewHash, std::equal_to<>>;
    std::unordered_map<std::string, Table, ViewHash, std::equal_to<>> tables_;
};

// A reader's copy of the current language: shared, and unchanged for as long
// as the reader holds it, whatever `set_locale` does meanwhile.
using LocaleSnapshot = std::shared_ptr<const std::string>;

// Makes a copy of `code` the current language. Any text is accepted.
void set_locale(std::string_view code);

// The current language: "en" until the first `set_locale`.
LocaleSnapshot current_locale();

// Looks `key` up in `locale`, then in `locale` cut at its last '-' with any
// trailing "-x" sequences stripped (repeatedly, while a '-' is left), then in
// "en". Nothing when every try misses.
std::optional<std::string_view> lookup_with_fallback(const Catalogue& table, std::string_view locale,
                                                     std::string_view key);

} // namespace base::i18n
