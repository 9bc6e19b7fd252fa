#include <zem/widgets/text_editing.hpp>

#include <zem/text/graphemes.hpp>
#include <zem/text/utf8.hpp>

#include <algorithm>
#include <string.h>  // explicit_bzero

namespace zem {

namespace {

// A scratch string that may hold a password: wiped before it is freed.
struct Scratch {
    std::string s;
    ~Scratch() {
        if (!s.empty()) explicit_bzero(s.data(), s.size());
    }
};

bool is_char_start(std::string_view t, std::size_t i) {
    return i >= t.size() || (static_cast<unsigned char>(t[i]) & 0xC0) != 0x80;
}

}  // namespace

std::optional<std::string> filter_insert(std::string_view s, bool password, bool multiline) {
    if (password) {
        if (has_control_char(s)) return std::nullopt;
        return std::string(s);
    }
    if (multiline) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += ' ';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else if (s[i] == '\n') {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

FieldEdit FieldEdit::over(std::string_view text, std::optional<std::size_t> caret, std::optional<std::size_t> anchor,
                          bool password, bool multiline, bool caret_to_end) {
    FieldEdit f;
    f.text = text;
    if (!password) f.text.keep_on_release();
    f.password = password;
    f.multiline = multiline;
    f.caret_to_end = caret_to_end;
    f.caret = floor_grapheme(text, caret.value_or(text.size()));
    f.anchor = floor_grapheme(text, anchor.value_or(f.caret));
    return f;
}

std::pair<std::size_t, std::size_t> FieldEdit::selection() const {
    return {std::min(caret, anchor), std::max(caret, anchor)};
}

std::optional<std::string> FieldEdit::selected_text() const {
    if (!has_selection()) return std::nullopt;
    auto [a, b] = selection();
    return text.str().substr(a, b - a);
}

void FieldEdit::collapse_to(std::size_t p) {
    caret = anchor = caret_to_end ? text.size() : p;
}

void FieldEdit::replace(std::size_t from, std::size_t to, std::string_view with) {
    Scratch next;
    const std::string& t = text.str();
    next.s.reserve(t.size() - (to - from) + with.size());
    next.s.append(t, 0, from).append(with).append(t, to, std::string::npos);
    text = std::string_view(next.s);
}

bool FieldEdit::delete_selection() {
    if (!has_selection()) return false;
    auto [a, b] = selection();
    replace(a, b, {});
    collapse_to(a);
    return true;
}

bool FieldEdit::insert(std::string_view s) {
    auto accepted = filter_insert(s, password, multiline);
    if (!accepted) return false;
    Scratch add{std::move(*accepted)};
    if (add.s.empty()) return false;
    delete_selection();
    replace(caret, caret, add.s);
    collapse_to(caret + add.s.size());
    return true;
}

bool FieldEdit::left(bool extend) {
    if (has_selection() && !extend) {
        caret = anchor = selection().first;
        return true;
    }
    caret = prev_grapheme(text, caret);
    if (!extend) anchor = caret;
    return true;
}

bool FieldEdit::right(bool extend) {
    if (has_selection() && !extend) {
        caret = anchor = selection().second;
        return true;
    }
    caret = next_grapheme(text, caret);
    if (!extend) anchor = caret;
    return true;
}

bool FieldEdit::home(bool extend) {
    std::string_view t = text;
    std::size_t nl = caret == 0 ? std::string_view::npos : t.rfind('\n', caret - 1);
    caret = nl == std::string_view::npos ? 0 : nl + 1;
    if (!extend) anchor = caret;
    return true;
}

bool FieldEdit::end(bool extend) {
    std::string_view t = text;
    std::size_t nl = t.find('\n', caret);
    caret = nl == std::string_view::npos ? t.size() : nl;
    if (!extend) anchor = caret;
    return true;
}

bool FieldEdit::backspace() {
    if (delete_selection()) return true;
    if (caret == 0) return false;
    std::size_t from = backspace_start(text, caret);
    replace(from, caret, {});
    collapse_to(from);
    return true;
}

bool FieldEdit::delete_forward() {
    if (delete_selection()) return true;
    if (caret >= text.size()) return false;
    std::size_t to = next_grapheme(text, caret);
    replace(caret, to, {});
    collapse_to(caret);
    return true;
}

void FieldEdit::select_all() {
    caret = text.size();
    anchor = 0;
}

void FieldEdit::select_word(std::size_t index) {
    if (text.empty()) return;
    auto [a, b] = word_range_at(text, index);
    anchor = a;
    caret = b;
}

bool FieldEdit::delete_surrounding(std::uint32_t before, std::uint32_t after) {
    bool changed = delete_selection();
    std::string_view t = text;
    std::size_t start = caret, end = caret;
    while (caret - start < before && start > 0) {
        do --start;
        while (start > 0 && !is_char_start(t, start));
    }
    while (end - caret < after && end < t.size()) end += utf8::char_len(t, end);
    if (start < end) {
        replace(start, end, {});
        collapse_to(start);
        changed = true;
    }
    // What is left must still start and end on cluster boundaries.
    caret = floor_grapheme(text, caret);
    anchor = floor_grapheme(text, anchor);
    return changed;
}

bool FieldEdit::apply_ime(const PendingIme& pending) {
    bool changed = false;
    if (pending.delete_surrounding)
        changed = delete_surrounding(pending.delete_surrounding->first, pending.delete_surrounding->second);
    if (pending.commit && insert(*pending.commit)) changed = true;
    return changed;
}

Surrounding FieldEdit::surrounding(std::size_t limit) const {
    Surrounding out;
    if (password) return out;  // a password never goes to the input method
    std::string_view t = text;
    std::size_t from = 0, to = t.size();
    if (t.size() > limit) {
        std::size_t half = limit / 2;
        from = caret > half ? caret - half : 0;
        to = std::min(t.size(), from + limit);
        from = to >= limit ? to - limit : 0;
        while (from < t.size() && !is_char_start(t, from)) ++from;
        while (to > from && !is_char_start(t, to)) --to;
    }
    out.text = std::string(t.substr(from, to - from));
    auto rel = [&](std::size_t p) { return static_cast<std::uint32_t>(std::clamp(p, from, to) - from); };
    out.cursor = rel(caret);
    out.anchor = rel(anchor);
    return out;
}

}  // namespace zem
