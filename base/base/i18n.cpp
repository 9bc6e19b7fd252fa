#include <base/i18n.hpp>

#include <mutex>

namespace base::i18n {

void Catalogue::add_texts(std::string_view code, std::span<const TextPair> pairs) {
    auto it = tables_.find(code);
    if (it == tables_.end()) {
        it = tables_.emplace(std::string(code), Table{}).first;
    }
    for (const auto& [key, text] : pairs) {
        it->second.insert_or_assign(key, text);
    }
}

std::optional<std::string_view> Catalogue::lookup(std::string_view code, std::string_view key) const {
    auto table = tables_.find(code);
    if (table == tables_.end()) {
        return std::nullopt;
    }
    auto entry = table->second.find(key);
    if (entry == table->second.end()) {
        return std::nullopt;
    }
    return entry->second;
}

std::size_t Catalogue::key_count(std::string_view code) const {
    auto table = tables_.find(code);
    return table == tables_.end() ? 0 : table->second.size();
}

void Catalogue::for_each(
    const std::function<void(std::string_view, std::string_view, std::string_view)>& fn) const {
    for (const auto& [code, table] : tables_) {
        for (const auto& [key, text] : table) {
            fn(code, key, text);
        }
    }
}

namespace {

// The current language is swapped as a whole: a reader sees the old code or
// the new one, never a mixture, and a snapshot it already holds stays as it
// was. The lock only guards the exchange of one pointer; the string itself is
// immutable once published.
struct LocaleSlot {
    std::mutex lock;
    LocaleSnapshot code = std::make_shared<const std::string>(DEFAULT_LOCALE);
};

LocaleSlot& locale_slot() {
    static LocaleSlot slot;
    return slot;
}

} // namespace

void set_locale(std::string_view code) {
    auto fresh = std::make_shared<const std::string>(code);
    LocaleSlot& slot = locale_slot();
    std::lock_guard guard(slot.lock);
    slot.code.swap(fresh);
    // The previous code is released after the lock, by `fresh`.
}

LocaleSnapshot current_locale() {
    LocaleSlot& slot = locale_slot();
    std::lock_guard guard(slot.lock);
    return slot.code;
}

std::optional<std::string_view> lookup_with_fallback(const Catalogue& table, std::string_view locale,
                                                     std::string_view key) {
    if (auto text = table.lookup(locale, key)) {
        return text;
    }
    // Drop one subtag at a time ("pt-BR" -> "pt"); private-use "-x" markers
    // left dangling at the end are dropped with it ("zh-x-x-foo" -> "zh").
    std::string_view code = locale;
    for (auto dash = code.rfind('-'); dash != std::string_view::npos; dash = code.rfind('-')) {
        code = code.substr(0, dash);
        while (code.ends_with("-x")) {
            code.remove_suffix(2);
        }
        if (auto text = table.lookup(code, key)) {
            return text;
        }
    }
    return table.lookup(FALLBACK_LOCALE, key);
}

} // namespace base::i18n
