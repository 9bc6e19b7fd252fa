#pragma once
// The wizard's texts: every string the wizard shows is a dotted key
// ("account.title") looked up here in the process-wide current language,
// with language fallback and named placeholders ("%{size}").

#include <base/i18n.hpp>

#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace i18n {

using base::i18n::Catalogue;
using base::i18n::DEFAULT_LOCALE;
using base::i18n::FALLBACK_LOCALE;
using base::i18n::LocaleSnapshot;

// The current language is shared with the toolkit's own strings, so setting
// it here also switches the toolkit's context menu.
using base::i18n::current_locale;
using base::i18n::set_locale;

// One placeholder value for `translate_with`: its name and its text, already
// formatted by the caller.
using Placeholder = std::pair<std::string_view, std::string_view>;

// Builds the whole catalogue from the texts compiled into the program. Only
// the once-only initialisation behind `try_translate` calls it.
Catalogue build_catalogue();

// The text of `key` in `locale`, then in `locale` cut at its last '-'
// (repeatedly, with trailing "-x" private-use markers dropped), then in "en".
// Builds the catalogue on the first call of the process; returns the stored
// text without copying it.
std::optional<std::string_view> try_translate(std::string_view locale, std::string_view key);

// The text of `key` in the current language, or the key itself when no
// language has it. Placeholders are left as they are.
std::string translate(std::string_view key);

// `translate`, then every placeholder whose name is given replaced by its
// value (the first pair of a name wins); unknown names stay as written.
std::string translate_with(std::string_view key, std::span<const Placeholder> pairs);
std::string translate_with(std::string_view key, std::initializer_list<Placeholder> pairs);

// Replaces each "%{name}" of `text` by the value of the first equal name.
// `names` and `values` are read in step; only the first
// min(names.size(), values.size()) names take part. Everything that forms no
// placeholder with a known name is copied unchanged.
std::string fill_placeholders(std::string_view text, std::span<const std::string_view> names,
                              std::span<const std::string_view> values);
std::string fill_placeholders(std::string_view text, std::initializer_list<std::string_view> names,
                              std::initializer_list<std::string_view> values);

} // namespace i18n
