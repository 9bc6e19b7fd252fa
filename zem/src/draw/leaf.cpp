// Leaf painting: buttons, text fields, vertical sliders, images and the
// window-control glyphs; the other leaves go to their own painters.

#include <zem/draw/leaf.hpp>

#include <algorithm>
#include <cmath>

#include <zem/draw/canvas.hpp>
#include <zem/draw/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/theme/assets.hpp>
#include <zem/theme/color.hpp>
#include <zem/widget/text_edit.hpp>
#include <zem/widget/text_metrics.hpp>

namespace zem {

namespace {

std::size_t clamp_index(std::string_view text, std::size_t index) {
    index = std::min(index, text.size());
    while (index > 0 && index < text.size() && (static_cast<unsigned char>(text[index]) & 0xC0) == 0x80) --index;
    return index;
}

// Byte index in the bullet string of the character at `index` of `text`.
std::size_t display_index(std::string_view text, std::size_t index, bool masked) {
    if (!masked) return index;
    return edit_display_text(text.substr(0, index), true).size();
}

void draw_image(Canvas& canvas, const ImageData& image, const Rect& dst, float opacity) {
    canvas.draw_image_data(std::span(image.data(), image.size()), image.width, image.height, dst, opacity);
}

// ---------------------------------------------------------------- Button

void paint_label_button(const Button& b, const std::string& label, Canvas& canvas, const Rect& rect, bool focused) {
    const float fs = b.font_size ? canvas.resolve_text_length(*b.font_size) : canvas.responsive_text_px(16.0f);
    const float baseline = rect.y + (fs + rect.h) / 2.0f - 2.0f;
    const float pad = canvas.responsive_px(24.0f);
    const std::string shown = truncate_to_width(canvas, label, fs, rect.w - 2.0f * pad);
    const bool enabled = b.on_press.has_value();
    const float radius = 100.0f;
    Color text_color = enabled ? theme::palette_text_primary() : theme::palette_text_secondary();
    switch (b.style) {
    case ButtonStyle::Filled:
        if (enabled) {
            canvas.fill_rect_radius(rect, theme::palette_accent(), radius);
            canvas.stroke_rect_radius(rect, theme::accent_dimmed(), 1.0f, radius);
        } else {
            canvas.fill_rect_radius(rect, theme::palette_divider(), radius);
        }
        break;
    case ButtonStyle::Outlined:
        canvas.fill_rect_radius(rect, theme::palette_surface_alt(), radius);
        canvas.stroke_rect_radius(rect, enabled ? theme::palette_text_primary() : theme::palette_divider(), 2.0f,
                                  radius);
        break;
    case ButtonStyle::Plain: break;
    }
    if (focused) {
        if (b.style == ButtonStyle::Plain) {
            canvas.stroke_rect_radius(grow(rect, 2.0f), theme::palette_accent(), 3.0f, 100.0f);
        } else {
            canvas.stroke_rect_radius(grow(rect, 5.0f), theme::palette_accent(), 3.0f, 105.0f);
        }
    }
    const float tw = canvas.measure_text(shown, fs);
    canvas.draw_text(shown, rect.x + (rect.w - tw) / 2.0f, baseline, fs, text_color);
}

void paint_icon_button(const ImageData& icon, Canvas& canvas, const Rect& rect, bool focused, bool hovered,
                       bool pressed) {
    const float r = std::min(rect.w, rect.h) / 2.0f + 8.0f;
    const Rect circle{rect.x + rect.w / 2.0f - r, rect.y + rect.h / 2.0f - r, 2.0f * r, 2.0f * r};
    if (pressed) {
        canvas.fill_rect_radius(circle, theme::with_alpha(theme::palette_text_primary(), 0.18f), r);
    } else if (hovered) {
        canvas.fill_rect_radius(circle, theme::with_alpha(theme::palette_text_primary(), 0.10f), r);
    }
    if (focused) canvas.stroke_rect_radius(grow(circle, 4.0f), theme::palette_accent(), 3.0f, r + 4.0f);
    draw_image(canvas, icon, rect, 1.0f);
}

// ---------------------------------------------------------------- TextEdit

void draw_reveal_icon(const TextEdit& t, Canvas& canvas, const Rect& rect) {
    const PicturePtr icon = theme::icon(t.reveal->revealed ? "actions/invisible" : "actions/visible", 20);
    if (!icon) return;
    const std::vector<std::uint8_t> tinted = theme::tint_rgba(icon->rgba, theme::palette_text_secondary());
    const Rect slot = toggle_icon_rect(rect);
    const float w = static_cast<float>(icon->width);
    const float h = static_cast<float>(icon->height);
    const float x = std::round(slot.x + (slot.w - w) / 2.0f);
    const float y = std::round(rect.y + (rect.h - h) / 2.0f);
    canvas.draw_image_data(tinted, icon->width, icon->height, Rect{x, y, w, h}, 1.0f);
}

void paint_single_line_edit(const TextEdit& t, Canvas& canvas, const Rect& rect, bool focused, std::size_t caret,
                            std::size_t anchor) {
    if (!t.bare) {
        canvas.fill_rect_radius(rect, theme::palette_surface_alt(), 100.0f);
        if (focused) {
            canvas.stroke_rect_radius(rect, theme::palette_text_primary(), 2.0f, 100.0f);
        } else {
            canvas.stroke_rect_radius(rect, theme::palette_divider(), 1.5f, 100.0f);
        }
    }
    const bool masked = t.masked();
    const float fs = text_edit_font_size(canvas, t.font_size);
    const float icon_space = t.reveal ? 28.0f : 0.0f;
    const std::string shown = edit_display_text(t.value, masked);
    const Rect narrowed{rect.x, rect.y, std::max(rect.w - icon_space, 40.0f), rect.h};
    const float scroll = TextEdit::scroll_offset(canvas, narrowed, t.value, caret, masked, fs);
    const float align = TextEdit::align_offset(canvas, narrowed, t.value, masked, t.align, fs);
    const float text_x = rect.x + EDIT_INSET_X + align - scroll;
    const float baseline = rect.y + (fs + rect.h) / 2.0f - 2.0f;
    const Rect inner{rect.x + 10.0f, rect.y, std::max(rect.w - 20.0f - icon_space, 0.0f), rect.h};

    with_clip(canvas, inner, [&] {
        const std::size_t lo = std::min(caret, anchor);
        const std::size_t hi = std::max(caret, anchor);
        if (focused && caret != anchor) {
            const std::string_view d = shown;
            const std::size_t dlo = display_index(t.value, lo, masked);
            const std::size_t dhi = display_index(t.value, hi, masked);
            const float sx = text_x + canvas.measure_text(d.substr(0, dlo), fs);
            const float sw = canvas.measure_text(d.substr(dlo, dhi - dlo), fs);
            canvas.fill_rect_radius(Rect{sx, rect.y + 6.0f, sw, rect.h - 12.0f}, theme::accent_a35(), 2.0f);
        }
        if (!shown.empty()) {
            canvas.draw_text(shown, text_x, baseline, fs, theme::palette_text_primary());
        } else {
            const float pa = TextEdit::align_offset(canvas, rect, t.placeholder, false, t.align, fs);
            canvas.draw_text(t.placeholder, rect.x + EDIT_INSET_X + pa, baseline, fs, theme::palette_text_secondary());
        }
        if (focused) {
            const std::size_t dc = display_index(t.value, caret, masked);
            const float cx = text_x + canvas.measure_text(std::string_view(shown).substr(0, dc), fs);
            canvas.fill_rounded_rect(Rect{cx, rect.y + (rect.h - (fs + 4.0f)) / 2.0f, 2.0f, fs + 4.0f},
                                     theme::palette_text_primary(), Radii{});
        }
    });
    if (t.reveal) draw_reveal_icon(t, canvas, rect);
}

void paint_multi_line_edit(const TextEdit& t, Canvas& canvas, const Rect& rect, bool focused, std::size_t caret,
                           std::size_t anchor) {
    constexpr float size = 16.0f;
    canvas.fill_rect_radius(rect, theme::palette_surface_alt(), 12.0f);
    if (focused) {
        canvas.stroke_rect_radius(rect, theme::palette_text_primary(), 2.0f, 12.0f);
    } else {
        canvas.stroke_rect_radius(rect, theme::palette_divider(), 1.5f, 12.0f);
    }
    const std::string_view text = t.value;
    const auto lines = wrap_edit_lines(canvas, text, std::max(rect.w - 40.0f, 16.0f), size);
    const std::size_t rows =
        std::max<std::size_t>(static_cast<std::size_t>(std::floor(std::max(rect.h - 24.0f, EDIT_LINE_HEIGHT) /
                                                                  EDIT_LINE_HEIGHT)),
                              1);
    const EditLineView view = edit_line_view(lines, rows, caret);
    const std::size_t q = view.caret_line;
    const std::size_t first = view.first;

    const Rect inner{rect.x + 10.0f, rect.y + 6.0f, std::max(rect.w - 20.0f, 0.0f), std::max(rect.h - 12.0f, 0.0f)};
    with_clip(canvas, inner, [&] {
        const std::size_t lo = std::min(caret, anchor);
        const std::size_t hi = std::max(caret, anchor);
        if (focused && caret != anchor) {
            for (std::size_t i = first; i < lines.size(); ++i) {
                const float top = rect.y + 12.0f + static_cast<float>(i - first) * EDIT_LINE_HEIGHT;
                if (top > rect.y + rect.h - 12.0f) break;
                const auto [ls, le] = lines[i];
                const std::size_t a = std::clamp(lo, ls, le);
                const std::size_t b = std::clamp(hi, ls, le);
                if (a >= b) continue;
                const float x = rect.x + 20.0f + canvas.measure_text(text.substr(ls, a - ls), size);
                const float w = std::max(canvas.measure_text(text.substr(a, b - a), size), 4.0f);
                canvas.fill_rect_radius(Rect{x, top, w, EDIT_LINE_HEIGHT}, theme::accent_a35(), 2.0f);
            }
        }
        if (text.empty()) {
            canvas.draw_text(t.placeholder, rect.x + 20.0f, rect.y + 28.0f, size, theme::palette_text_secondary());
        } else {
            for (std::size_t i = first; i < lines.size(); ++i) {
                const float baseline = rect.y + 28.0f + static_cast<float>(i - first) * EDIT_LINE_HEIGHT;
                if (baseline > rect.y + rect.h - 12.0f + EDIT_LINE_HEIGHT) break;
                const auto [ls, le] = lines[i];
                canvas.draw_text(text.substr(ls, le - ls), rect.x + 20.0f, baseline, size,
                                 theme::palette_text_primary());
            }
        }
        if (focused && !lines.empty()) {
            const std::size_t ls = lines[q].first;
            const std::size_t c = std::max(caret, ls);
            const float x = rect.x + 20.0f + canvas.measure_text(text.substr(ls, c - ls), size);
            const float y = rect.y + 12.0f + static_cast<float>(q >= first ? q - first : 0) * EDIT_LINE_HEIGHT + 2.0f;
            canvas.fill_rounded_rect(Rect{x, y, 2.0f, 20.0f}, theme::palette_text_primary(), Radii{});
        }
    });
}

void paint_text_edit(const TextEdit& t, Canvas& canvas, const Rect& rect, bool focused, std::size_t caret,
                     std::size_t anchor) {
    caret = clamp_index(t.value, caret);
    anchor = clamp_index(t.value, anchor);
    if (t.shows_multiline()) {
        paint_multi_line_edit(t, canvas, rect, focused, caret, anchor);
    } else {
        paint_single_line_edit(t, canvas, rect, focused, caret, anchor);
    }
}

}  // namespace

// ---------------------------------------------------------------- dispatch

void draw_leaf(const Element& element, Canvas& canvas, const Rect& rect, bool focused, bool hovered, bool pressed,
               std::size_t caret, std::size_t anchor) {
    switch (element.kind()) {
    case ElementKind::Button: {
        const Button& b = *element.as<Button>();
        if (const std::string* label = b.label()) {
            paint_label_button(b, *label, canvas, rect, focused);
        } else {
            paint_icon_button(*b.icon(), canvas, rect, focused, hovered, pressed);
        }
        return;
    }
    case ElementKind::TextEdit: paint_text_edit(*element.as<TextEdit>(), canvas, rect, focused, caret, anchor); return;
    case ElementKind::Image: image_draw(*element.as<Image>(), canvas, rect); return;
    case ElementKind::VerticalSlider: vertical_slider_paint(*element.as<VerticalSlider>(), canvas, rect, focused); return;
    case ElementKind::Text: element.as<Text>()->draw(canvas, rect); return;
    case ElementKind::RichText: element.as<RichText>()->draw(canvas, rect); return;
    case ElementKind::Slider: element.as<Slider>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::Switch: element.as<Switch>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::Divider: element.as<Divider>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::ProgressBar: element.as<ProgressBar>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::Checkbox: element.as<Checkbox>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::RadioButton: element.as<RadioButton>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::ListItem: element.as<ListItem>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::WindowButton: element.as<WindowButton>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::CustomPaint: element.as<CustomPaint>()->paint(canvas, rect, focused, hovered, pressed); return;
    case ElementKind::Spinner:
        Spinner::draw(*element.as<Spinner>(), canvas, rect, theme::palette_accent());
        return;
    default: return;
    }
}

// ---------------------------------------------------------------- VerticalSlider

void vertical_slider_paint(const VerticalSlider& slider, Canvas& canvas, const Rect& rect, bool) {
    const float r = std::min(rect.w, rect.h) / 2.0f;
    const std::optional<Surface> track = theme::surface(slider.track_surface);
    const std::optional<Surface> fill = theme::surface(slider.fill_surface);
    if (track) {
        // Only the drop shadows belong to the whole track; they exist on GL.
        if (!canvas.is_software()) canvas.draw_surface(rect, Paint{Color{0, 0, 0, 0}}, track->shadows, {}, r);
    } else {
        canvas.fill_rect_radius(rect, theme::palette_surface_alt(), r);
    }
    const float fh = std::clamp(rect.h * slider.value, 0.0f, rect.h);
    if (fh > 0.5f) {
        with_clip(canvas, Rect{rect.x, rect.y + rect.h - fh, rect.w, fh}, [&] {
            if (fill) {
                std::vector<Shadow> lower;
                for (const Shadow& s : fill->inset_shadows) {
                    if (s.offset_y >= 0.0f) lower.push_back(s);
                }
                canvas.draw_surface(rect, fill->fill, {}, lower, r);
            } else {
                canvas.fill_rect_radius(rect, theme::palette_accent(), r);
            }
        });
    }
    const float u = std::floor(rect.h - fh);
    if (u > 0.5f && track) {
        with_clip(canvas, Rect{rect.x, rect.y, rect.w, u},
                [&] { canvas.draw_surface(rect, track->fill, {}, track->inset_shadows, r); });
    }
}

// ---------------------------------------------------------------- Image

std::pair<float, float> image_measure(const Image& image, Canvas& canvas, float available) {
    const SizeF vp = canvas.state().metric_size();
    const float unit = canvas.unit_scale().value_or(UNIT_SCALE);
    auto resolve = [&](const Length& l) { return l.resolve(vp.w, vp.h, 16.0f, unit); };
    const float pw = static_cast<float>(image.image.width);
    const float ph = static_cast<float>(image.image.height);
    if (image.size) {
        const float s = std::max(resolve(*image.size), 0.0f);
        if (image.image.width != 0 && image.image.height != 0) {
            if (vp.w <= vp.h) return {s, s * ph / pw};
            return {s * pw / ph, s};
        }
        return {s, s};
    }
    if (image.width || image.height) {
        // A missing partner takes the other side's size.
        const float w = std::max(resolve(image.width ? *image.width : *image.height), 0.0f);
        const float h = std::max(resolve(image.height ? *image.height : *image.width), 0.0f);
        return {w, h};
    }
    if (image.image.width == 0) return {available, 0.0f};
    return {available, available * ph / pw};
}

void image_draw(const Image& image, Canvas& canvas, const Rect& rect) {
    draw_image(canvas, image.image, rect, image.opacity);
}

// ---------------------------------------------------------------- window controls

void draw_window_control_icon(Canvas& canvas, WindowControl control, const Rect& rect, const Color& color) {
    static constexpr const char* names[] = {"window/minimize", "window/maximize", "window/restore", "window/close"};
    const auto index = static_cast<std::size_t>(control);
    const float side = std::max(std::round(std::min(rect.w, rect.h) * 0.44f), 8.0f);
    if (index < 4) {
        if (PicturePtr icon = theme::icon(names[index], static_cast<std::uint32_t>(side))) {
            const std::vector<std::uint8_t> tinted = theme::tint_rgba(icon->rgba, color);
            const float w = static_cast<float>(icon->width);
            const float h = static_cast<float>(icon->height);
            const float x = std::round(rect.x + (rect.w - w) / 2.0f);
            const float y = std::round(rect.y + (rect.h - h) / 2.0f);
            canvas.draw_image_data(tinted, icon->width, icon->height, Rect{x, y, w, h}, 1.0f);
            return;
        }
    }
    const float cx = rect.x + rect.w / 2.0f;
    const float cy = rect.y + rect.h / 2.0f;
    const float f = std::min(rect.w, rect.h) * 0.22f;
    switch (control) {
    case WindowControl::Minimize: canvas.draw_line(color, cx - f, cy + 0.65f * f, cx + f, cy + 0.65f * f, 2.0f); break;
    case WindowControl::Maximize: canvas.stroke_rect_radius(Rect{cx - f, cy - f, 2.0f * f, 2.0f * f}, color, 2.0f, 2.0f); break;
    case WindowControl::Restore: {
        const float s = 1.55f * f;
        canvas.stroke_rect_radius(Rect{cx - 0.45f * f, cy - f, s, s}, color, 2.0f, 2.0f);
        canvas.stroke_rect_radius(Rect{cx - f, cy - 0.45f * f, s, s}, color, 2.0f, 2.0f);
        break;
    }
    case WindowControl::Close:
        canvas.draw_line(color, cx - f, cy - f, cx + f, cy + f, 2.0f);
        canvas.draw_line(color, cx + f, cy - f, cx - f, cy + f, 2.0f);
        break;
    }
}

// ---------------------------------------------------------------- truncation

std::string truncate_to_width(Canvas& canvas, std::string_view text, float size, float max_width) {
    if (max_width <= 0.0f) return {};
    if (canvas.measure_text(text, size) <= max_width + 0.5f) return std::string(text);
    const float budget = max_width - canvas.measure_text("...", size);
    if (budget <= 0.0f) return "...";
    return prefix_fitting(canvas, text, size, nullptr, budget) + "...";
}

}  // namespace zem
