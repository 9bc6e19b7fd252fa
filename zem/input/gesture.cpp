#include <zem/input/gesture.hpp>
#include <zem/input/regions.hpp>

#include <algorithm>
#include <cmath>

namespace zem {

namespace {

// A move must exceed this before it counts as a scroll or a swipe.
constexpr float kSlop = 8.0f;
// A touch that moves this far is no longer a long press.
constexpr float kTouchLongPressSlop = 6.0f;

float distance(std::pair<float, float> a, float x, float y) { return std::hypot(x - a.first, y - a.second); }

}  // namespace

float slider_ratio(const Rect& rect, bool vertical, float x, float y, float inset) {
    float r;
    if (vertical) {
        r = 1.0f - (y - rect.y) / std::max(rect.h, 1.0f);
    } else {
        float half = inset / 2.0f;
        float start = rect.x + half, end = rect.x + rect.w - half;
        r = (x - start) / std::max(end - start, 1.0f);
    }
    return std::clamp(r, 0.0f, 1.0f);
}

void GestureRecognizer::disarm_long_press() {
    long_press_armed = false;
    long_press_start.reset();
    long_press_message.reset();
    drag_message.reset();
    pressed_text_edit.reset();
}

bool GestureRecognizer::long_press_due(InputInstant now) const {
    return long_press_start && now - *long_press_start >= kLongPress;
}

GestureRecognizer::Hit GestureRecognizer::hit_test(const std::vector<HitRegion>& regions,
                                                   const std::vector<ScrollArea>& areas, float x, float y,
                                                   InputInstant now) {
    Hit out;
    const HitRegion* under = region_under(regions, x, y);
    const HitRegion* region = under ? region_with_id(regions, under->id) : nullptr;
    if (under) {
        out.hit = true;
        out.id = under->id;
    }
    long_press_message.reset();
    drag_message.reset();
    if (region)
        if (const auto* p = region->action.as<HitAction::Press>()) {
            long_press_message = p->on_long_press;
            drag_message = p->on_drag;
        }
    tracking = true;
    last_point = {x, y};
    scroll_candidates.clear();
    for (const ScrollArea& a : areas_under(areas, x, y)) scroll_candidates.emplace_back(a.id, a.axis);
    if (scroll_candidates.empty()) {
        scroll_target.reset();
        scroll_axis.reset();
    } else {
        scroll_target = scroll_candidates.front().first;
        scroll_axis = scroll_candidates.front().second;
    }
    overscroll = 0;
    axis_locked = scrolled = horizontal_swipe = vertical_moved = drag_active = pointer_press = false;
    direction = SwipeDirection::Undecided;
    pressed = out.hit ? std::optional<LayoutId>(out.id) : std::nullopt;

    bool text_edit = region && region->action.as<HitAction::TextEdit>();
    if (out.hit && (text_edit || long_press_message || drag_message)) {
        long_press_start = now;
        long_press_armed = true;
    } else {
        long_press_start.reset();
        long_press_armed = false;
    }
    press_origin = {x, y};
    pressed_text_edit = text_edit ? std::optional<LayoutId>(out.id) : std::nullopt;
    if (region)
        if (const auto* s = region->action.as<HitAction::Slider>()) {
            slider_drag = out.id;
            float v = slider_ratio(region->rect, s->vertical, x, y, s->track_inset);
            if (s->on_change) out.slider_message = (*s->on_change)(v);
        }
    return out;
}

MotionOutcome GestureRecognizer::update(const std::vector<HitRegion>& regions, ScrollOffsets& offsets,
                                        const GestureConfig& c, bool forced, float x, float y) {
    if (drag_active || forced) return motion::DragMove{x, y};
    if (!pointer_press && long_press_armed && distance(press_origin, x, y) > kTouchLongPressSlop)
        disarm_long_press();

    if (slider_drag) {
        const HitRegion* r = region_with_id(regions, *slider_drag);
        if (!r) return motion::Nothing{};
        const auto* s = r->action.as<HitAction::Slider>();
        if (s && s->on_change)
            return motion::SliderMoved{(*s->on_change)(slider_ratio(r->rect, s->vertical, x, y, s->track_inset))};
        return motion::SliderMoved{};
    }

    if (!scroll_axis) {
        // No scroll area under the press: an edge swipe.
        if (!tracking) return motion::Nothing{};
        float dx = x - last_point.first;
        float up = last_point.second - y;
        if (direction == SwipeDirection::Undecided && std::max(std::fabs(dx), std::fabs(up)) > kSlop)
            direction = std::fabs(up) < std::fabs(dx) ? SwipeDirection::Horizontal : SwipeDirection::Vertical;
        motion::EdgeSwipe e;
        bool any = false;
        if (direction != SwipeDirection::Horizontal && c.height_px > 0) {
            if (up > 0) {
                e.up = any = true;
                e.up_progress = std::max(up / (c.swipe_up * c.height_px), 0.0f);
                if (up > kSlop) vertical_moved = true;
            } else if (last_point.second <= c.top_zone * c.height_px) {
                e.down = any = true;
                e.down_progress = std::max(-up / (c.swipe_down * c.height_px), 0.0f);
                if (std::fabs(up) > kSlop) vertical_moved = true;
            }
        }
        if (direction == SwipeDirection::Horizontal && c.width_px > 0) {
            horizontal_swipe = true;
            e.horizontal = any = true;
            float divisor = c.swipe_horizontal * c.width_px;
            e.horizontal_progress = divisor > 0 ? dx / divisor : 0.0f;
        }
        if (!any) return motion::Nothing{};
        return e;
    }

    if (!tracking) return motion::Nothing{};
    float dx = x - last_point.first, dy = y - last_point.second;
    if (!axis_locked) {
        if (std::fabs(dx) <= kSlop && std::fabs(dy) <= kSlop) return motion::Nothing{};
        bool sideways = std::fabs(dx) > std::fabs(dy);
        auto suits = [&](ScrollAxis a) {
            return sideways ? (a == ScrollAxis::Horizontal || a == ScrollAxis::Both) : a != ScrollAxis::Horizontal;
        };
        auto pick = std::find_if(scroll_candidates.begin(), scroll_candidates.end(),
                                 [&](const auto& cand) { return suits(cand.second); });
        if (pick == scroll_candidates.end()) pick = scroll_candidates.begin();
        if (pick != scroll_candidates.end()) {
            scroll_target = pick->first;
            scroll_axis = pick->second;
        }
        axis_locked = true;
    }
    ScrollAxis axis = *scroll_axis;
    auto& off = offsets[scroll_target.value_or(0)];
    if (axis == ScrollAxis::Horizontal || axis == ScrollAxis::Both) off.first = std::max(off.first - dx, 0.0f);
    if (axis == ScrollAxis::Vertical || axis == ScrollAxis::Both) {
        // Dragging down at the top pulls; dragging back up first undoes the pull.
        if (dy >= 0) {
            float taken = std::min(dy, off.second);
            off.second -= taken;
            overscroll += dy - taken;
        } else {
            float taken = std::min(-dy, overscroll);
            overscroll -= taken;
            off.second += -dy - taken;
        }
    }
    float step = axis == ScrollAxis::Both ? std::hypot(dx, dy)
                 : axis == ScrollAxis::Horizontal ? std::fabs(dx)
                                                  : std::fabs(dy);
    if (step > kSlop) scrolled = true;
    last_point = {x, y};
    tracking = true;
    if (axis == ScrollAxis::Horizontal) return motion::Scrolled{};
    if (overscroll > 0 && scrolled) return motion::Pull{c.height_px > 0 ? overscroll / c.height_px : 0.0f};
    return motion::Scrolled{};
}

std::vector<GestureOutcome> GestureRecognizer::finish(const std::vector<HitRegion>& regions, const GestureConfig& c,
                                                      bool forced, float x, float y) {
    auto was_pressed = pressed;
    auto was_slider = slider_drag;
    bool was_drag = drag_active, was_horizontal = horizontal_swipe, was_vertical = vertical_moved;
    pressed.reset();
    slider_drag.reset();
    disarm_long_press();
    horizontal_swipe = vertical_moved = drag_active = pointer_press = false;

    std::vector<GestureOutcome> out;
    if (was_drag || forced) {
        tracking = false;
        out.emplace_back(std::in_place_type<gesture::DragEnd>, x, y);
        return out;
    }
    if (was_slider) {
        scrolled = true;
        tracking = false;
        if (const HitRegion* r = region_with_id(regions, *was_slider))
            if (const auto* s = r->action.as<HitAction::Slider>(); s && s->on_release)
                if (auto m = (*s->on_release)(slider_ratio(r->rect, s->vertical, x, y, s->track_inset)))
                    out.push_back(gesture::Tap{std::move(*m)});
        return out;
    }
    auto old_axis = scroll_axis;
    scroll_axis.reset();
    if (old_axis && scrolled) {
        tracking = false;
        float old = overscroll;
        overscroll = 0;
        if (old > 0) out.emplace_back(std::in_place_type<gesture::PullRelease>, old >= c.pull * c.height_px);
        return out;
    }
    scrolled = false;

    bool tap = false;
    if (was_horizontal) {
        if (tracking) {
            float dx = x - last_point.first;
            if (c.width_px > 0 && std::fabs(dx) >= c.swipe_horizontal * c.width_px) {
                tracking = false;
                if (x < last_point.first) out.emplace_back(std::in_place_type<gesture::SwipeLeft>);
                else out.emplace_back(std::in_place_type<gesture::SwipeRight>);
                return out;
            }
            out.emplace_back(std::in_place_type<gesture::HorizontalSwipeCancel>);
        }
        if (was_pressed && !was_vertical) {
            tracking = false;
            return out;
        }
    } else if (was_pressed && !was_vertical) {
        tracking = false;
        tap = true;
    }
    if (!tap) {
        if (tracking) {
            tracking = false;
            float up = last_point.second - y;
            if (c.height_px > 0 && up >= c.swipe_up * c.height_px) {
                out.emplace_back(std::in_place_type<gesture::SwipeUp>);
                return out;
            }
            if (c.height_px > 0 && last_point.second <= c.top_zone * c.height_px &&
                y - last_point.second >= c.swipe_down * c.height_px) {
                out.emplace_back(std::in_place_type<gesture::SwipeDown>);
                return out;
            }
            out.emplace_back(std::in_place_type<gesture::VerticalSwipeCancel>);
        }
        if (was_horizontal || was_vertical) return out;
    }

    const HitRegion* under = region_under(regions, x, y);
    if (!under) {
        if (!was_pressed) out.emplace_back(std::in_place_type<gesture::TapOutside>);
        return out;
    }
    if (!was_pressed || *was_pressed != under->id) return out;
    const HitRegion* r = region_with_id(regions, *was_pressed);
    if (!r) return out;
    if (const auto* s = r->action.as<HitAction::Slider>()) {
        if (s->on_change)
            if (auto m = (*s->on_change)(slider_ratio(r->rect, s->vertical, x, y, s->track_inset)))
                out.push_back(gesture::Tap{std::move(*m)});
        return out;
    }
    if (const auto* p = r->action.as<HitAction::Press>(); p && p->auto_repeat) return out;
    if (auto m = hit_message(r->action)) out.push_back(gesture::Tap{std::move(*m)});
    return out;
}

void GestureRecognizer::reset() { *this = GestureRecognizer{}; }

bool ClickHistory::register_click(InputInstant now, float x, float y) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    if (last_ && duration_cast<milliseconds>(now - last_->first).count() <= 400 &&
        distance(last_->second, x, y) <= 6.0f) {
        last_.reset();
        return true;
    }
    last_ = {now, {x, y}};
    return false;
}

}  // namespace zem
