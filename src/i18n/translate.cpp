#include "i18n/translate.hpp"

#include "i18n/compiled_texts.hpp"

#include <algorithm>
#include <array>
#include <vector>

namespace i18n {

Catalogue build_catalogue() {
    Catalogue table;
    // One text per addition, languages in building order and keys ascending,
    // exactly as the build laid them out.
    for (std::size_t i = 0; i < compiled::kTextCount; ++i) {
        const auto& entry = compiled::kTexts[i];
        const base::i18n::TextPair pair{entry.key, entry.text};
        table.add_texts(entry.code, std::span(&pair, 1));
    }
    return table;
}

namespace {

const Catalogue& catalogue() {
    // Built by the first lookup of the process; concurrent first callers
    // wait for it, later ones only read.
    static const Catalogue table = build_catalogue();
    return table;
}

// Positions of the placeholder braces of one text. Nearly every text has
// only a handful, so they stay on the stack; a pathological text spills.
class Positions {
public:
    void push(std::size_t pos) {
        if (count_ < inline_.size()) {
            inline_[count_] = pos;
        } else {
            if (spill_.empty()) {
                spill_.assign(inline_.begin(), inline_.end());
            }
            spill_.push_back(pos);
        }
        ++count_;
    }
    std::size_t size() const { return count_; }
    std::size_t operator[](std::size_t i) const { return spill_.empty() ? inline_[i] : spill_[i]; }

private:
    std::array<std::size_t, 64> inline_{};
    std::vector<std::size_t> spill_;
    std::size_t count_ = 0;
};

// `name_at(i)` and `value_at(i)` give the i-th of `count` names taking part.
template <typename NameAt, typename ValueAt>
std::string fill(std::string_view text, std::size_t count, NameAt name_at, ValueAt value_at) {
    enum class State { Plain, Armed, Open };
    State state = State::Plain;
    Positions positions;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (state) {
        case State::Plain:
            if (c == '%') {
                state = State::Armed;
            }
            break;
        case State::Armed:
            if (c == '{') {
                positions.push(i);
                state = State::Open;
            } else if (c != '%') {
                state = State::Plain;
            }
            break;
        case State::Open:
            if (c == '}') {
                positions.push(i);
                state = State::Plain;
            } else if (c == '%') {
                state = State::Armed;
            }
            break;
        }
    }

    std::string out;
    out.reserve(text.size() + 128);
    std::size_t current = 0;
    for (std::size_t p = 0; p + 1 < positions.size(); p += 2) {
        const std::size_t first = positions[p];
        const std::size_t second = positions[p + 1];
        // The byte before the first position is the placeholder's '%'. On
        // malformed text ("%{%{}%{x}") a pair may begin right after the last
        // one ended, which puts that byte behind the current point: never
        // copy backwards, nor anything twice.
        const std::size_t start = std::max(first - 1, current);
        out.append(text.substr(current, start - current));
        const std::string_view name = text.substr(first + 1, second - first - 1);
        bool replaced = false;
        for (std::size_t n = 0; n < count; ++n) {
            if (name_at(n) == name) {
                out.append(value_at(n));
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out.append(text.substr(start, second + 1 - start));
        }
        current = second + 1;
    }
    out.append(text.substr(current));
    return out;
}

} // namespace

std::optional<std::string_view> try_translate(std::string_view locale, std::string_view key) {
    return base::i18n::lookup_with_fallback(catalogue(), locale, key);
}

std::string translate(std::string_view key) {
    const LocaleSnapshot locale = current_locale();
    return std::string(try_translate(*locale, key).value_or(key));
}

std::string translate_with(std::string_view key, std::span<const Placeholder> pairs) {
    const LocaleSnapshot locale = current_locale();
    const std::string_view text = try_translate(*locale, key).value_or(key);
    return fill(
        text, pairs.size(), [&](std::size_t i) { return pairs[i].first; },
        [&](std::size_t i) { return pairs[i].second; });
}

std::string translate_with(std::string_view key, std::initializer_list<Placeholder> pairs) {
    return translate_with(key, std::span<const Placeholder>(pairs.begin(), pairs.size()));
}

std::string fill_placeholders(std::string_view text, std::span<const std::string_view> names,
                              std::span<const std::string_view> values) {
    return fill(
        text, std::min(names.size(), values.size()), [&](std::size_t i) { return names[i]; },
        [&](std::size_t i) { return values[i]; });
}

std::string fill_placeholders(std::string_view text, std::initializer_list<std::string_view> names,
                              std::initializer_list<std::string_view> values) {
    return fill_placeholders(text, std::span<const std::string_view>(names.begin(), names.size()),
                             std::span<const std::string_view>(values.begin(), values.size()));
}

} // namespace i18n
