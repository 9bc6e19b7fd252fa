#pragma once
// Key handling that needs no connection: which keys repeat and how fast,
// and where Tab moves the focus.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include <zem/frame/hit_region.hpp>
#include <zem/widgets/kind.hpp>

namespace zem::keys {

inline constexpr std::uint32_t kSpace = 0x20;
inline constexpr std::uint32_t kIsoLeftTab = 0xfe20;
inline constexpr std::uint32_t kBackSpace = 0xff08;
inline constexpr std::uint32_t kTab = 0xff09;
inline constexpr std::uint32_t kReturn = 0xff0d;
inline constexpr std::uint32_t kEscape = 0xff1b;
inline constexpr std::uint32_t kHome = 0xff50;
inline constexpr std::uint32_t kLeft = 0xff51;
inline constexpr std::uint32_t kUp = 0xff52;
inline constexpr std::uint32_t kRight = 0xff53;
inline constexpr std::uint32_t kDown = 0xff54;
inline constexpr std::uint32_t kEnd = 0xff57;
inline constexpr std::uint32_t kKpEnter = 0xff8d;
inline constexpr std::uint32_t kDelete = 0xffff;

// What the compositor said about key repeat: keys per second and the delay
// before the first repeat in milliseconds. A rate of 0 turns repeat off.
struct RepeatInfo {
    std::int32_t rate = 0;
    std::int32_t delay = 0;
};

struct RepeatTiming {
    std::chrono::milliseconds delay;
    std::chrono::milliseconds interval;
    friend bool operator==(const RepeatTiming&, const RepeatTiming&) = default;
};

// The repeat to run for a held key: none when the compositor turned repeat
// off; 500 ms / 33 ms when it never said.
std::optional<RepeatTiming> repeat_timing(const std::optional<RepeatInfo>& info);

// The delay before a held button repeats: the keyboard's delay, 500 ms when
// unknown, off or 0.
std::chrono::milliseconds button_repeat_delay(const std::optional<RepeatInfo>& info);

// Tab, Shift+Tab and Escape act once per press.
bool never_repeats(std::uint32_t keysym);

// The widget focus moves to from `focused` among `ids` (tab order), wrapping
// at both ends; none when nothing is focusable.
std::optional<LayoutId> focus_step(const std::vector<LayoutId>& ids, std::optional<LayoutId> focused,
                                   bool backward);

// Up and Down in a list: the index of the item to highlight after the one
// hovered (none hovered: the first going down, the last going up); no wrap.
std::optional<std::size_t> list_highlight_step(const std::vector<ListItemSpan>& items,
                                               std::optional<LayoutId> hovered, bool down);

// The scroll offset that shows an item at `y`, `h` high, in a viewport `vh`
// high scrolled to `oy`.
float scroll_into_view(float y, float h, float vh, float oy);

}  // namespace zem::keys
