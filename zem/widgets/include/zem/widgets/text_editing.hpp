#pragma once
// The edit model of a text field: its text, caret and selection anchor, and
// what each editing operation does to them. Pure: no surface, no canvas.
// Offsets are bytes of UTF-8, always on cluster boundaries.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <zem/widgets/wiping_string.hpp>

namespace zem {

// What a field will take of an inserted text: a password field refuses any
// control character (its text travels as one line to the account tools);
// a single-line field turns line breaks into spaces; a multi-line field
// takes the text as it is. None: refused.
std::optional<std::string> filter_insert(std::string_view s, bool password, bool multiline);

// The input method's double-buffered state, applied together at `done`.
struct PendingIme {
    struct Preedit {
        std::string text;
        std::int32_t cursor_begin = 0, cursor_end = 0;
    };
    std::optional<Preedit> preedit;
    std::optional<std::string> commit;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> delete_surrounding;  // before, after (bytes)
};

// The text around the caret handed to an input method: at most `limit`
// bytes (a Wayland message holds at most 4096), cut at character
// boundaries; cursor and anchor relative to the window.
struct Surrounding {
    std::string text;
    std::uint32_t cursor = 0, anchor = 0;
};

struct FieldEdit {
    WipingString text;
    std::size_t caret = 0;
    std::size_t anchor = 0;
    bool password = false;
    bool multiline = false;
    bool caret_to_end = false;  // the caret stays at the end; focusing selects all

    // A field over `text` with the stored caret and anchor (absent caret =
    // end, absent anchor = caret), clamped and moved back to a boundary.
    static FieldEdit over(std::string_view text, std::optional<std::size_t> caret, std::optional<std::size_t> anchor,
                          bool password, bool multiline, bool caret_to_end);

    bool has_selection() const { return caret != anchor; }
    std::pair<std::size_t, std::size_t> selection() const;
    std::optional<std::string> selected_text() const;

    // Each returns whether it applies (for moves: the keys are consumed even
    // when the caret is already at the edge) or, for edits, whether the text
    // changed.
    bool delete_selection();
    bool insert(std::string_view s);  // through filter_insert; replaces the selection
    bool left(bool extend);
    bool right(bool extend);
    bool home(bool extend);  // start of the caret's line
    bool end(bool extend);
    bool backspace();
    bool delete_forward();
    void select_all();
    void select_word(std::size_t index);
    // Removes `before` bytes before and `after` bytes after the caret (whole
    // characters, never part of one), after any selection.
    bool delete_surrounding(std::uint32_t before, std::uint32_t after);
    // Applies an input method's `done` in the protocol's order: delete the
    // surrounding text, insert the commit string. Returns whether the text
    // changed. (The preedit is the caller's: it never enters the text.)
    bool apply_ime(const PendingIme& pending);

    Surrounding surrounding(std::size_t limit = 4000) const;

private:
    void collapse_to(std::size_t p);
    void replace(std::size_t from, std::size_t to, std::string_view with);
};

}  // namespace zem
