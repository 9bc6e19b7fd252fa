#pragma once
// The toolkit's own texts (context-menu entries, date-picker names), in a
// small table of their own that follows the application's current language.

#include <base/i18n.hpp>

#include <optional>
#include <string_view>

namespace zem {

namespace i18n = base::i18n;

// Builds a fresh toolkit string table: seven languages ("de", "en", "es",
// "fr", "it", "pt", "pt_BR"), each with the same keys.
i18n::Catalogue builtin_strings();

// The process's toolkit string table, built by the first caller (concurrent
// first callers wait for it) and read-only afterwards.
const i18n::Catalogue& builtin_strings_init();

// The text of `key` for `locale`: the locale itself, then the locale cut at
// its last '-' (repeatedly), then "en". Nothing when every try misses.
// "pt-BR" resolves to European Portuguese; only "pt_BR" reaches the
// Brazilian texts.
std::optional<std::string_view> builtin_string(std::string_view locale, std::string_view key);

} // namespace zem
