#pragma once
// The gesture recogniser of one surface: a press, the moves that follow and
// the release, read against the last frame's regions and scroll areas,
// become taps, scrolls, slider drags, edge swipes and pulls.
//
// It is a plain state machine: it talks to no compositor and reads no clock
// (the press time comes in), so every sequence can be replayed in a test.

#include <chrono>
#include <optional>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include <zem/frame/hit_region.hpp>

namespace zem {

using InputInstant = std::chrono::steady_clock::time_point;

// Held this long without moving, a press becomes a long press.
inline constexpr std::chrono::milliseconds kLongPress{500};

struct GestureConfig {
    float swipe_up = 0.6f;          // of the height, from the start point
    float swipe_down = 0.15f;
    float top_zone = 1.0f;          // swipe down only starts this high (of the height)
    float swipe_horizontal = 0.5f;  // of the width
    float pull = 0.25f;             // overscroll that refreshes, of the height
    float width_px = 0.0f;
    float height_px = 0.0f;
};

namespace motion {
struct Nothing {};
struct DragMove { float x = 0, y = 0; };
struct SliderMoved { std::optional<Message> message; };
struct Scrolled {};
struct Pull { float ratio = 0; };
struct EdgeSwipe {
    bool up = false, down = false, horizontal = false;
    float up_progress = 0, down_progress = 0, horizontal_progress = 0;
};
}  // namespace motion
using MotionOutcome = std::variant<motion::Nothing, motion::DragMove, motion::SliderMoved, motion::Scrolled,
                                   motion::Pull, motion::EdgeSwipe>;

namespace gesture {
struct DragEnd { float x = 0, y = 0; };
struct SwipeLeft {};
struct SwipeRight {};
struct SwipeUp {};
struct SwipeDown {};
struct PullRelease { bool refresh = false; };
struct HorizontalSwipeCancel {};
struct VerticalSwipeCancel {};
struct Tap { Message message; };
struct TapOutside {};
}  // namespace gesture
using GestureOutcome =
    std::variant<gesture::DragEnd, gesture::SwipeLeft, gesture::SwipeRight, gesture::SwipeUp, gesture::SwipeDown,
                 gesture::PullRelease, gesture::HorizontalSwipeCancel, gesture::VerticalSwipeCancel, gesture::Tap,
                 gesture::TapOutside>;

enum class SwipeDirection { Undecided, Vertical, Horizontal };

using ScrollOffsets = std::unordered_map<LayoutId, std::pair<float, float>>;

// Where along a slider's track the point lies, 0..1 (bottom to top for a
// vertical one).
float slider_ratio(const Rect& rect, bool vertical, float x, float y, float inset);

struct GestureRecognizer {
    std::optional<LayoutId> pressed;
    std::optional<LayoutId> slider_drag;
    std::optional<LayoutId> pressed_text_edit;
    std::vector<std::pair<LayoutId, ScrollAxis>> scroll_candidates;
    std::optional<InputInstant> long_press_start;
    std::optional<LayoutId> scroll_target;
    std::optional<ScrollAxis> scroll_axis;
    std::optional<Message> long_press_message;
    std::optional<Message> drag_message;
    bool tracking = false;
    std::pair<float, float> last_point{0, 0};
    bool long_press_armed = false;
    std::pair<float, float> press_origin{0, 0};
    float overscroll = 0;
    bool axis_locked = false;
    bool scrolled = false;
    bool horizontal_swipe = false;
    bool vertical_moved = false;
    bool drag_active = false;
    bool pointer_press = false;  // set by the pointer: it keeps long press armed over small moves
    SwipeDirection direction = SwipeDirection::Undecided;

    struct Hit {
        bool hit = false;
        LayoutId id = 0;
        std::optional<Message> slider_message;
    };

    // A press at (x, y) at `now`.
    Hit hit_test(const std::vector<HitRegion>& regions, const std::vector<ScrollArea>& areas, float x, float y,
                 InputInstant now);
    // A move of the pressed point; `forced` while any surface drags.
    MotionOutcome update(const std::vector<HitRegion>& regions, ScrollOffsets& offsets, const GestureConfig& c,
                         bool forced, float x, float y);
    // The release at (x, y).
    std::vector<GestureOutcome> finish(const std::vector<HitRegion>& regions, const GestureConfig& c, bool forced,
                                       float x, float y);
    // Forgets the gesture in progress (a cancelled touch).
    void reset();

    // Drops the long press waiting on this gesture.
    void disarm_long_press();
    // The long press is due at `now`.
    bool long_press_due(InputInstant now) const;
};

// Two clicks close in time and place: the second one within 400 ms and 6 px.
class ClickHistory {
public:
    // True when this click completes a double click (and forgets it).
    bool register_click(InputInstant now, float x, float y);

private:
    std::optional<std::pair<InputInstant, std::pair<float, float>>> last_;
};

}  // namespace zem
