#include <zem/input/keys.hpp>

#include <algorithm>

namespace zem::keys {

using std::chrono::milliseconds;

std::optional<RepeatTiming> repeat_timing(const std::optional<RepeatInfo>& info) {
    if (!info) return RepeatTiming{milliseconds(500), milliseconds(33)};
    // The protocol says a rate of 0 disables repeat; it is not "unknown".
    if (info->rate <= 0) return std::nullopt;
    milliseconds interval(std::max(1000 / info->rate, 1));
    milliseconds delay(info->delay > 0 ? info->delay : 500);
    return RepeatTiming{delay, interval};
}

milliseconds button_repeat_delay(const std::optional<RepeatInfo>& info) {
    if (!info || info->delay <= 0) return milliseconds(500);
    return milliseconds(info->delay);
}

bool never_repeats(std::uint32_t keysym) {
    return keysym == kIsoLeftTab || keysym == kTab || keysym == kEscape;
}

std::optional<LayoutId> focus_step(const std::vector<LayoutId>& ids, std::optional<LayoutId> focused,
                                   bool backward) {
    if (ids.empty()) return std::nullopt;
    auto it = focused ? std::find(ids.begin(), ids.end(), *focused) : ids.end();
    if (it == ids.end()) return backward ? ids.back() : ids.front();
    std::size_t i = std::size_t(it - ids.begin()), n = ids.size();
    return ids[backward ? (i + n - 1) % n : (i + 1) % n];
}

std::optional<std::size_t> list_highlight_step(const std::vector<ListItemSpan>& items,
                                               std::optional<LayoutId> hovered, bool down) {
    if (items.empty()) return std::nullopt;
    std::size_t n = items.size();
    auto it = hovered ? std::find_if(items.begin(), items.end(), [&](const ListItemSpan& s) { return s.id == *hovered; })
                      : items.end();
    if (it == items.end()) return down ? 0 : n - 1;
    std::size_t i = std::size_t(it - items.begin());
    return down ? std::min(i + 1, n - 1) : (i == 0 ? 0 : i - 1);
}

float scroll_into_view(float y, float h, float vh, float oy) {
    if (y < oy) return y;
    if (y + h > oy + vh) return std::max(y + h - vh, 0.0f);
    return oy;
}

}  // namespace zem::keys
