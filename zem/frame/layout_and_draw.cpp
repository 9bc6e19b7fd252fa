#include <zem/frame/layout_and_draw.hpp>

#include <algorithm>
#include <cmath>
#include <concepts>
#include <limits>
#include <variant>

#include <string.h>  // explicit_bzero

#include <zem/core/length.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/rich_text.hpp>

namespace zem {

namespace {

Rect translated(const Rect& r, float dx, float dy) { return Rect{r.x + dx, r.y + dy, r.w, r.h}; }

std::uint32_t pixel_extent(float v) {
    const float c = std::ceil(v);
    if (!(c >= 1.0f)) return 1;
    if (c > 16384.0f) return 16384;
    return static_cast<std::uint32_t>(c);
}

// A layer canvas inherits the parent's state as `sub_canvas` gives it; a
// reused one is brought up to date the same way, so that a window resize or
// a changed opacity reaches content drawn into a kept viewport.
void refresh_from_parent(Canvas& layer, const Canvas& parent) {
    layer.set_scale(parent.scale());
    layer.set_opacity(parent.opacity());
    layer.set_unit_scale(parent.unit_scale());
    layer.set_viewport(parent.viewport() ? parent.viewport()
                                         : std::optional<SizeF>(SizeF{static_cast<float>(parent.width()),
                                                                      static_cast<float>(parent.height())}));
}

void restore_clip(Canvas& canvas, const std::vector<Rect>& saved) {
    if (saved.empty()) {
        canvas.reset_clip();
    } else {
        canvas.set_clip_rects(saved);
    }
}

std::uint64_t layer_key(LayoutId n, std::uint32_t depth) { return (std::uint64_t(depth) << 32) | std::uint64_t(n); }

// A kept canvas of the wanted size, brought up to date with its parent, or a
// new one.
Canvas reuse_or_create(std::optional<Canvas> kept, const Canvas& parent, std::uint32_t w, std::uint32_t h) {
    if (kept && kept->width() == w && kept->height() == h) {
        refresh_from_parent(*kept, parent);
        kept->reset_clip();
        return std::move(*kept);
    }
    return parent.sub_canvas(w, h);
}

class Pass {
public:
    Pass(FrameLayout& layout) : layout_(layout) {}

    LayoutId draw(const Element& e, Canvas& canvas, const Rect& rect, LayoutId n);

    // Drops the kept canvases of scroll viewports and layers this pass did
    // not draw: their elements are gone.
    void sweep() {
        std::erase_if(layout_.layer_canvases, [&](const auto& kv) {
            return std::find(used_scrolls_.begin(), used_scrolls_.end(), kv.first) == used_scrolls_.end();
        });
        std::erase_if(layout_.fade_layers, [&](const auto& kv) {
            return std::find(used_layers_.begin(), used_layers_.end(), kv.first) == used_layers_.end();
        });
    }

private:
    bool in_modal() const { return layout_.modal_depth != 0; }

    std::vector<LayoutId> used_scrolls_;
    std::vector<std::uint64_t> used_layers_;
    std::uint32_t layer_depth_ = 0;

    // Places the children of `k` after the slots of the containers around
    // it and draws them; each slot is copied out since a child's own
    // slots may move the list.
    template <class K, class Draw>
    LayoutId draw_arranged(const K& k, Canvas& canvas, const Rect& rect, LayoutId n, Draw&& draw_child) {
        std::vector<ChildSlot>& slots = layout_.slots;
        const std::size_t first = slots.size();
        k.arrange_into(rect, canvas, slots);
        const std::size_t end = slots.size();
        for (std::size_t i = first; i < end; ++i) {
            const ChildSlot s = slots[i];
            n = draw_child(s, n);
        }
        slots.resize(first);
        return n;
    }

    // A text node's copy of the element's text, in a string an earlier
    // frame left when it can be had.
    std::optional<std::string> node_text(const Element& e) {
        const Text* t = e.as<Text>();
        if (t == nullptr || t->text.empty() || layout_.spare_texts.empty()) return e.text();
        std::string text = std::move(layout_.spare_texts.back());
        layout_.spare_texts.pop_back();
        text.assign(t->text);
        return text;
    }

    LayoutId draw_stack(const Stack& stack, Canvas& canvas, const Rect& rect, LayoutId n);
    LayoutId draw_container(const Container& c, Canvas& canvas, const Rect& rect, LayoutId n);
    LayoutId draw_scroll(const Scroll& s, Canvas& canvas, const Rect& rect, LayoutId n);
    LayoutId draw_layer(const Layer& l, Canvas& canvas, const Rect& rect, LayoutId n);
    LayoutId draw_rich_text(const RichText& t, Canvas& canvas, const Rect& rect, LayoutId n);
    LayoutId draw_anchored(const Anchored& a, Canvas& canvas, const Rect& rect, LayoutId n);
    void paint_preedit(TextEdit& shown, Canvas& canvas, const Rect& rect, PaintState state);
    LayoutId draw_gesture_area(const Element& e, const GestureArea& g, Canvas& canvas, const Rect& rect, LayoutId n);
    LayoutId draw_leaf(const Element& e, Canvas& canvas, const Rect& rect, LayoutId n);
    void lift_areas_and_nodes(std::size_t areas_before, std::size_t nodes_before, const Rect& rect);

    FrameLayout& layout_;
};

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// Kinds whose children are placed by their arrange rule.
template <class K>
concept Arranged = requires(const K& k, const Rect& r, Canvas& c) {
    requires requires(std::vector<ChildSlot>& out) { k.arrange_into(r, c, out); };
    { k.children };
};

// Kinds without children. A kind with a single child and no rule of its own
// here fails to compile rather than being painted as a leaf.
template <class K>
concept Leaf = !Arranged<K> && !requires(const K& k) { k.child; };

LayoutId Pass::draw(const Element& e, Canvas& canvas, const Rect& rect, LayoutId n) {
    // The kinds with children, or with regions of their own, have their
    // frame rules here; every other kind is a leaf, which paints itself and
    // reports a region or an accessibility node as its traits say.
    return std::visit(
        Overloaded{
            [&](const Expanded& x) { return draw(*x.child, canvas, rect, n); },
            [&](const Stack& x) { return draw_stack(x, canvas, rect, n); },
            [&](const Container& x) { return draw_container(x, canvas, rect, n); },
            [&](const Scroll& x) { return draw_scroll(x, canvas, rect, n); },
            [&](const Layer& x) { return draw_layer(x, canvas, rect, n); },
            [&](const Anchored& x) { return draw_anchored(x, canvas, rect, n); },
            [&](const GestureArea& x) { return draw_gesture_area(e, x, canvas, rect, n); },
            [&](const RichText& x) { return draw_rich_text(x, canvas, rect, n); },
            [&]<Arranged K>(const K& x) {
                return draw_arranged(x, canvas, rect, n, [&](const ChildSlot& s, LayoutId next) {
                    return draw(x.children[s.index], canvas, Rect{s.x, s.y, s.w, s.h}, next);
                });
            },
            [&]<Leaf K>(const K&) { return draw_leaf(e, canvas, rect, n); },
        },
        e.node);
}

LayoutId Pass::draw_anchored(const Anchored& a, Canvas& canvas, const Rect& rect, LayoutId n) {
    for (const HitRegion& region : layout_.previous_regions) {
        if (region.key && *region.key == a.anchor) {
            const auto [cw, ch] = a.child->measure(canvas, rect.w);
            const Rect below{region.rect.x, region.rect.y + region.rect.h + canvas.px(a.gap), cw, ch};
            return draw(*a.child, canvas, below, n);
        }
    }
    return draw(*a.child, canvas, rect, n);
}

LayoutId Pass::draw_gesture_area(const Element& e, const GestureArea& g, Canvas& canvas, const Rect& rect,
                                 LayoutId n) {
    const Traits traits = g.traits();
    if (traits.region) {
        HitRegion region;
        region.action = g.hit_action();
        region.rect = rect;
        region.painted_rect = painted_bounds(e, rect, canvas.px(1.0f));
        region.id = n;
        region.key = traits.key;
        region.focusable = traits.focusable;
        region.in_modal = in_modal();
        region.cursor = traits.cursor;
        layout_.regions.push_back(std::move(region));
    }
    return draw(*g.child, canvas, rect, n + 1);
}

LayoutId Pass::draw_stack(const Stack& stack, Canvas& canvas, const Rect& rect, LayoutId n) {
    return draw_arranged(stack, canvas, rect, n, [&](const ChildSlot& s, LayoutId next) {
        const StackChild& child = stack.children[s.index];
        const Rect slot{s.x, s.y, s.w, s.h};
        if (!child.clip) return draw(child.element, canvas, slot, next);
        // The child's clip replaces, and does not narrow, the one in force.
        const std::vector<Rect> saved = canvas.clip_rects();
        const Rect clip{rect.x + child.clip->x, rect.y + child.clip->y, child.clip->w, child.clip->h};
        canvas.set_clip_rects(std::vector<Rect>{clip});
        next = draw(child.element, canvas, slot, next);
        restore_clip(canvas, saved);
        return next;
    });
}

LayoutId Pass::draw_container(const Container& c, Canvas& canvas, const Rect& rect, LayoutId n) {
    const float saved_opacity = canvas.opacity();
    canvas.set_opacity(saved_opacity * c.opacity);
    const std::uint32_t modal = c.modal ? 1 : 0;
    layout_.modal_depth += modal;

    c.paint(canvas, rect, PaintState{});
    n = draw(*c.child, canvas, c.content_rect(rect, canvas), n);

    layout_.modal_depth -= modal;
    canvas.set_opacity(saved_opacity);
    return n;
}

LayoutId Pass::draw_scroll(const Scroll& s, Canvas& canvas, const Rect& rect, LayoutId n) {
    const auto stored = layout_.scroll_offsets.find(n);
    const float ox = stored != layout_.scroll_offsets.end() ? stored->second.first : 0.0f;
    const float oy = stored != layout_.scroll_offsets.end() ? stored->second.second : 0.0f;

    const bool vertical = s.axis == ScrollAxis::Vertical;
    const float measure_width = vertical ? rect.w : std::numeric_limits<float>::infinity();
    auto [cw, ch] = s.child->measure(canvas, measure_width);
    // Content that asks for all of an unbounded width has no width of its
    // own: it gets the viewport's instead of an endless scroll range.
    if (!std::isfinite(cw)) cw = rect.w;

    float ox2 = 0.0f;
    float oy2 = 0.0f;
    switch (s.axis) {
    case ScrollAxis::Vertical: oy2 = clamp_scroll(oy, ch, rect.h); break;
    case ScrollAxis::Horizontal: ox2 = clamp_scroll(ox, cw, rect.w); break;
    case ScrollAxis::Both:
        ox2 = clamp_scroll(ox, cw, rect.w);
        oy2 = clamp_scroll(oy, ch, rect.h);
        break;
    }
    if (ox2 != ox || oy2 != oy) layout_.scroll_offsets[n] = {ox2, oy2};

    const std::uint32_t pw = pixel_extent(rect.w);
    const std::uint32_t ph = pixel_extent(rect.h);
    std::optional<Canvas> layer;
    if (auto kept = layout_.layer_canvases.find(n); kept != layout_.layer_canvases.end()) {
        if (kept->second.width() == pw && kept->second.height() == ph) layer.emplace(std::move(kept->second));
        layout_.layer_canvases.erase(kept);
    }
    if (layer) {
        refresh_from_parent(*layer, canvas);
        layer->reset_clip();
    } else {
        layer.emplace(canvas.sub_canvas(pw, ph));
    }
    layer->clear();

    const std::size_t regions_before = layout_.regions.size();
    const std::size_t areas_before = layout_.scroll_areas.size();
    const std::size_t nodes_before = layout_.access_nodes.size();
    const float content_w = vertical ? rect.w : std::max(cw, rect.w);
    const float content_h = s.axis == ScrollAxis::Horizontal ? rect.h : std::max(ch, rect.h);
    const LayoutId next = draw(*s.child, *layer, Rect{-ox2, -oy2, content_w, content_h}, n + 1);

    std::vector<HitRegion> added(std::make_move_iterator(layout_.regions.begin() + static_cast<std::ptrdiff_t>(regions_before)),
                                 std::make_move_iterator(layout_.regions.end()));
    layout_.regions.resize(regions_before);
    std::vector<ListItemSpan> spans;
    for (const HitRegion& region : added) {
        if (region.action.as<HitAction::ListItem>() != nullptr) {
            spans.push_back(ListItemSpan{region.id, region.rect.y + oy2, region.rect.h});
        }
    }
    if (!spans.empty()) layout_.list_items[n] = std::move(spans);
    for (HitRegion& region : added) {
        region.rect = translated(region.rect, rect.x, rect.y);
        if (region.text_rect) region.text_rect = translated(*region.text_rect, rect.x, rect.y);
        region.painted_rect = rect_clip(translated(region.painted_rect, rect.x, rect.y), rect);
        const Rect& r = region.rect;
        const bool visible = r.y < rect.y + rect.h && r.y + r.h > rect.y && r.x + r.w > rect.x && r.x < rect.x + rect.w;
        if (visible) layout_.regions.push_back(std::move(region));
    }

    lift_areas_and_nodes(areas_before, nodes_before, rect);
    layout_.scroll_areas.push_back(ScrollArea{rect, n, s.axis});

    canvas.blit(*layer, static_cast<std::int32_t>(std::trunc(rect.x)), static_cast<std::int32_t>(std::trunc(rect.y)));
    layout_.layer_canvases.insert_or_assign(n, std::move(*layer));
    used_scrolls_.push_back(n);
    return next;
}

// Moves the scroll areas and accessibility nodes recorded inside a viewport
// drawn at `rect` (since the given counts) out into the parent's pixels; the
// areas are clipped to the viewport and dropped when nothing of them is left.
void Pass::lift_areas_and_nodes(std::size_t areas_before, std::size_t nodes_before, const Rect& rect) {
    std::vector<ScrollArea> areas(layout_.scroll_areas.begin() + static_cast<std::ptrdiff_t>(areas_before),
                                  layout_.scroll_areas.end());
    layout_.scroll_areas.resize(areas_before);
    for (ScrollArea& area : areas) {
        area.rect = rect_clip(translated(area.rect, rect.x, rect.y), rect);
        if (area.rect.w > 0.0f && area.rect.h > 0.0f) layout_.scroll_areas.push_back(area);
    }
    for (std::size_t i = nodes_before; i < layout_.access_nodes.size(); ++i) {
        AccessNode& node = layout_.access_nodes[i];
        node.rect = translated(node.rect, rect.x, rect.y);
        if (node.text_rect) node.text_rect = translated(*node.text_rect, rect.x, rect.y);
    }
}

LayoutId Pass::draw_layer(const Layer& l, Canvas& canvas, const Rect& rect, LayoutId n) {
    const float ch = l.child->measure(canvas, rect.w).second;
    const std::uint64_t key = layer_key(n, layer_depth_);
    std::optional<Canvas> kept;
    if (auto it = layout_.fade_layers.find(key); it != layout_.fade_layers.end()) {
        kept.emplace(std::move(it->second));
        layout_.fade_layers.erase(it);
    }
    Canvas layer = reuse_or_create(std::move(kept), canvas, pixel_extent(rect.w), pixel_extent(rect.h));
    if (l.own_viewport) {
        layer.set_viewport(SizeF{static_cast<float>(layer.width()), static_cast<float>(layer.height())});
    }
    layer.clear();

    const std::size_t regions_before = layout_.regions.size();
    const std::size_t areas_before = layout_.scroll_areas.size();
    const std::size_t nodes_before = layout_.access_nodes.size();
    ++layer_depth_;
    const LayoutId next = draw(*l.child, layer, Rect{0.0f, 0.0f, rect.w, std::max(ch, rect.h)}, n);
    --layer_depth_;

    std::vector<HitRegion> added(std::make_move_iterator(layout_.regions.begin() + static_cast<std::ptrdiff_t>(regions_before)),
                                 std::make_move_iterator(layout_.regions.end()));
    layout_.regions.resize(regions_before);
    for (HitRegion& region : added) {
        region.rect = translated(region.rect, rect.x, rect.y);
        if (region.text_rect) region.text_rect = translated(*region.text_rect, rect.x, rect.y);
        region.painted_rect = rect_clip(translated(region.painted_rect, rect.x, rect.y), rect);
        const Rect& r = region.rect;
        // Only the vertical extent is tested: a region beside the layer stays.
        if (r.y < rect.y + rect.h && r.y + r.h > rect.y) layout_.regions.push_back(std::move(region));
    }
    lift_areas_and_nodes(areas_before, nodes_before, rect);
    canvas.blit_with_fade(layer, static_cast<std::int32_t>(std::trunc(rect.x)),
                          static_cast<std::int32_t>(std::trunc(rect.y)), l.fade_bottom);
    layout_.fade_layers.insert_or_assign(key, std::move(layer));
    used_layers_.push_back(key);
    return next;
}

LayoutId Pass::draw_rich_text(const RichText& t, Canvas& canvas, const Rect& rect, LayoutId n) {
    t.paint(canvas, rect, PaintState{});
    const RichTextMetrics m = rich_text_metrics(t, canvas);
    const auto lines = wrap_lines(t.text, canvas, m.font_ptr(), m.size, rect.w);
    LayoutId count = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const RichLine& line = lines[k];
        for (const RichTextLink& link : t.links) {
            auto part = span_text(line, link.start, link.end);
            if (!part) continue;
            const float before =
                canvas.measure_text(std::string_view(line.text).substr(0, part->first), m.size, m.font_ptr());
            const float width = canvas.measure_text(part->second, m.size, m.font_ptr());
            HitRegion region;
            region.action = HitAction{HitAction::Press{false, link.message, std::nullopt, std::nullopt, std::nullopt}};
            region.rect = Rect{rect.x + before, rect.y + static_cast<float>(k) * m.line_height, width,
                               std::max(m.ascent, m.line_height)};
            region.painted_rect = region.rect;
            region.id = n + count;
            region.focusable = false;
            region.in_modal = in_modal();
            region.cursor = cursor_pointer;
            layout_.regions.push_back(std::move(region));
            ++count;
        }
    }
    return n + std::max<LayoutId>(count, 1);
}

// The field with the input method's text spliced in at the caret, the caret
// inside it where the input method puts it, and a line under it.
void Pass::paint_preedit(TextEdit& shown, Canvas& canvas, const Rect& rect, PaintState state) {
    const FrameLayout::Preedit& p = *layout_.preedit;
    const std::string_view value = shown.value;
    const std::size_t at = std::min(state.caret, value.size());
    const std::size_t cursor = std::min(p.cursor, p.text.size());
    // A revealed password may be composed into too: the scratch copy is
    // wiped like the field's own text, once the field no longer reads it.
    struct Wiped {
        std::string text;
        ~Wiped() { explicit_bzero(text.data(), text.size()); }
    } composed;
    composed.text.reserve(value.size() + p.text.size());
    composed.text.append(value.substr(0, at)).append(p.text).append(value.substr(at));
    shown.value = std::string_view(composed.text);
    state.caret = state.anchor = at + cursor;
    shown.paint(canvas, rect, state);
    if (shown.shows_multiline()) return;
    // The painter's geometry: logical lengths times the scale.
    const float fs = text_edit_font_size(canvas, shown.font_size);
    const Rect narrowed{rect.x, rect.y, std::max(rect.w - (shown.reveal ? canvas.px(28.0f) : 0.0f), canvas.px(40.0f)),
                        rect.h};
    const std::string_view text = shown.value;
    const SingleLineView view =
        single_line_view(canvas, narrowed, text, state.caret, false, static_cast<std::uint8_t>(shown.align), fs);
    const float from = rect.x + canvas.px(EDIT_INSET_X) + single_line_x(canvas, view, text, at, false, fs);
    const float width = canvas.measure_text(p.text, fs);
    const float baseline = rect.y + (canvas.px(fs) + rect.h) / 2.0f - canvas.px(2.0f);
    const float under = baseline + canvas.px(2.0f);
    canvas.draw_line(theme::palette_text_primary(), from, under, from + width, under, canvas.px(1.0f));
}

LayoutId Pass::draw_leaf(const Element& e, Canvas& canvas, const Rect& rect, LayoutId n) {
    const Traits traits = e.traits();
    PaintState state;
    state.focused = layout_.focused == n && traits.focusable;
    state.hovered = layout_.hovered == n;
    state.pressed = layout_.pressed == n;
    const auto caret_entry = layout_.carets.find(n);
    // No caret entry means the end of the text; the painter clamps it.
    state.caret = caret_entry != layout_.carets.end() ? caret_entry->second : std::numeric_limits<std::size_t>::max();
    const auto anchor_entry = layout_.anchors.find(n);
    state.anchor = anchor_entry != layout_.anchors.end() ? anchor_entry->second : state.caret;

    const auto edited = layout_.edited_texts.find(n);
    const auto* field = std::get_if<TextEdit>(&e.node);
    const bool composing = field != nullptr && layout_.preedit && layout_.preedit->widget == n && !field->masked() &&
                           state.focused;
    // Where this widget's text lands, for the accessibility tree; a text
    // drawn wider than the widget's rectangle is cut off or overflows.
    std::optional<Rect> text_ink;
    std::optional<Rect>* const outer_ink = canvas.state().text_ink;
    canvas.state().text_ink = &text_ink;
    if (field != nullptr && (composing || edited != layout_.edited_texts.end())) {
        TextEdit shown = *field;
        if (edited != layout_.edited_texts.end()) shown.value = edited->second;
        if (composing) paint_preedit(shown, canvas, rect, state);
        else shown.paint(canvas, rect, state);
    } else {
        e.paint(canvas, rect, state);
    }
    canvas.state().text_ink = outer_ink;

    if (traits.region) {
        HitRegion region;
        if (traits.tooltip != nullptr) region.tooltip = *traits.tooltip;
        region.text = e.text();
        region.action = e.hit_action();
        if (auto* slider = std::get_if<HitAction::Slider>(&region.action.value); slider && !slider->vertical) {
            slider->track_inset = knob_metric(canvas);
        }
        region.rect = rect;
        region.id = n;
        region.key = traits.key;
        region.painted_rect = painted_bounds(e, rect, canvas.px(1.0f));
        region.focusable = traits.focusable;
        region.in_modal = in_modal();
        region.cursor = traits.cursor;
        region.text_rect = text_ink;
        layout_.regions.push_back(std::move(region));
    } else if (traits.node) {
        std::optional<std::string> text;
        if (*traits.node == AccessNodeKind::Text) text = node_text(e);
        layout_.access_nodes.push_back(AccessNode{std::move(text), *traits.node, traits.node_value, rect, in_modal(), n, traits.live, text_ink});
    }
    return n + 1;
}

}  // namespace

LayoutId layout_and_draw(const Element& element, Canvas& canvas, const Rect& rect, FrameLayout& layout,
                         LayoutId first_id) {
    Pass pass(layout);
    const LayoutId next = pass.draw(element, canvas, rect, first_id);
    pass.sweep();
    return next;
}

}  // namespace zem
