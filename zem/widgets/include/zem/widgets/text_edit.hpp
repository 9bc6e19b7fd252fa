#pragma once
// A text field, single- or multi-line, optionally a password field.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>
#include <zem/widgets/wiping_string.hpp>

namespace zem {

// The show/hide control of a password field.
struct Reveal {
    bool revealed = false;
    Message toggle;
};

struct TextEdit {
    std::string placeholder;
    WipingString value;
    std::optional<Reveal> reveal;
    std::optional<Message> on_submit;
    TextCallback on_change;
    std::optional<WidgetKey> key;
    std::optional<Length> width;
    std::optional<Length> font_size;
    std::optional<Length> height;
    std::uint32_t rows = 1;
    bool password = false;
    bool multiline = false;
    bool bare = false;
    bool caret_to_end = false;
    bool disabled = false;
    TextAlign align = TextAlign::Start;
    std::optional<CursorShape> cursor;

    TextEdit() = default;
    TextEdit(const TextEdit&) = default;
    TextEdit(TextEdit&&) noexcept = default;
    TextEdit& operator=(const TextEdit&) = default;
    TextEdit& operator=(TextEdit&&) noexcept = default;
    // A password field's text is overwritten with zeros when it is released;
    // other text is left as it is.
    ~TextEdit() {
        if (!holds_secret()) value.keep_on_release();
    }

    // Whether the text is shown as bullets.
    bool masked() const { return reveal ? !reveal->revealed : password; }
    // Whether the field is laid out as wrapped lines.
    bool shows_multiline() const { return multiline && !masked(); }
    bool holds_secret() const { return password || reveal.has_value(); }

    // Geometry of the field's text, shared by drawing and hit testing.
    // Horizontal scroll of a single-line field that keeps the caret in view.
    static float scroll_offset(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret,
                               bool masked, float font_size);
    // Shift of a single-line field's text for its alignment; `align` is a
    // TextAlign's number, as a hit region carries it.
    static float align_offset(Canvas& canvas, const Rect& rect, std::string_view text, bool masked,
                              std::uint8_t align, float font_size);

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    float intrinsic_width(Canvas& canvas, float available) const;
};

inline constexpr float EDIT_INSET_X = 20.0f;
inline constexpr float EDIT_INSET_TOP = 12.0f;
inline constexpr float EDIT_LINE_HEIGHT = 22.4f;
inline constexpr float EDIT_ICON_WIDTH = 38.0f;
inline constexpr std::string_view PASSWORD_BULLET = "\xE2\x80\xA2";

// The font size of a text field: responsive 16 x text scale when absent.
float text_edit_font_size(const Canvas& canvas, const std::optional<Length>& size);

// The text as shown: itself, or one bullet per character when masked.
std::string edit_display_text(std::string_view text, bool masked);

// A single-line field measures and draws at most a window of its text
// around the caret, so that a field holding megabytes costs what a short one
// does. Texts up to this many bytes are always taken whole.
inline constexpr std::size_t EDIT_WHOLE_TEXT_BYTES = 4096;
// The most clusters a window reaches on either side of the caret, for texts
// of characters without width.
inline constexpr std::size_t EDIT_WINDOW_CLUSTERS = 2048;

// The byte range of the text around the caret that reaches at least `reach`
// pixels on each side of it (clusters measured alone) or to the text's end,
// on cluster boundaries; the whole text when it is short.
std::pair<std::size_t, std::size_t> edit_text_window(Canvas& canvas, std::string_view text, std::size_t caret,
                                                     bool masked, float reach, float font_size);

// Where a single-line field shows its text, for the painter and the hit
// test alike: the window [start, end) that is drawn, and the x of its start
// from the left inset (alignment minus scroll). For a text taken whole this
// is align_offset - scroll_offset; for a window the scroll is taken within
// it, the cut ends never pinning it.
struct SingleLineView {
    std::size_t start = 0;
    std::size_t end = 0;
    float origin = 0.0f;
};
SingleLineView single_line_view(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret,
                                bool masked, std::uint8_t align, float font_size);
// The x of `index` (clamped to the window) from the left inset.
float single_line_x(Canvas& canvas, const SingleLineView& view, std::string_view text, std::size_t index, bool masked,
                    float font_size);

// Visual lines of a multi-line field as byte ranges (never empty).
std::vector<std::pair<std::size_t, std::size_t>> wrap_edit_lines(Canvas& canvas, std::string_view text,
                                                                 float max_width, float font_size);

// The caret's line (the first holding it, else the last) and the first
// line shown when `rows` lines fit: the view scrolls just enough to show the
// caret's line at the bottom.
struct EditLineView {
    std::size_t caret_line = 0;
    std::size_t first = 0;
};
EditLineView edit_line_view(const std::vector<std::pair<std::size_t, std::size_t>>& lines, std::size_t rows,
                            std::size_t caret);

// The text offset nearest to `x` (from the start of the text) within
// [start, end): a character (cluster) is chosen from its middle on.
std::size_t index_at_x(Canvas& canvas, std::string_view text, std::size_t start, std::size_t end, bool masked,
                       float x, float font_size);

// The text offset under the point (px, py) of a field drawn in `rect`, with
// the scroll its caret gives it.
std::size_t edit_hit_test(Canvas& canvas, const Rect& rect, std::string_view text, bool multiline, bool masked,
                          bool has_toggle, std::size_t caret, std::uint8_t align, float px, float py, float font_size);

// Vertical caret moves in a multi-line field: the offset on the wrapped line
// above or below nearest to the caret's x; none on the first or last line.
std::optional<std::size_t> visual_line_up(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret);
std::optional<std::size_t> visual_line_down(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret);
// The wrapped line holding the caret (at a wrap point, the earlier line).
std::pair<std::size_t, std::size_t> visual_line_bounds(Canvas& canvas, const Rect& rect, std::string_view text,
                                                       std::size_t caret);

// The trailing icon's rectangle: the rightmost 38 px of the field.
Rect toggle_icon_rect(const Rect& rect);
// The same for a field drawn at a buffer scale (rect in buffer pixels).
Rect toggle_icon_rect(const Rect& rect, float scale);

}  // namespace zem
