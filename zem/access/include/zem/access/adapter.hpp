#pragma once
// The adapter between the loop and the bus side: the loop hands it each new
// tree and the window's size and focus; the bus side reads the latest of
// them and sends requests back through the loop's action channel.
//
// The loop thread calls update/set_window_bounds/update_focus; the bus
// thread calls activate/deactivate/request/published. One mutex guards what
// they share, and is held only to swap pointers and copy small values.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include <zem/access/actions.hpp>
#include <zem/access/tree.hpp>

namespace zem::access {

class Adapter {
public:
    using Sink = std::function<bool(ActionRequest)>;

    explicit Adapter(Sink sink);

    // Bus side.
    // An assistive technology listens: the tree starts as the initial one,
    // and the loop is asked for a real one even if nothing else happens.
    void activate();
    void deactivate();
    // Hands a request to the loop; dropped when the loop is gone.
    void request(ActionRequest r);

    struct Published {
        std::shared_ptr<const TreeUpdate> tree;
        std::uint32_t width = 0, height = 0;
        bool window_focused = false;
        std::uint64_t generation = 0;
    };
    Published published() const;
    // Called (on the loop thread) after each change the bus side must see.
    void set_change_listener(std::function<void()> listener);

    // Loop side.
    bool active() const { return active_.load(); }
    // True once after activation, until the loop built a tree.
    bool take_refresh() { return refresh_.exchange(false); }
    void update(const std::vector<A11ySurface>& surfaces, std::uint8_t focus_surface, std::string_view app_id);
    void set_window_bounds(std::uint32_t width, std::uint32_t height);
    void update_focus(bool focused);

private:
    void changed();

    Sink sink_;
    std::mutex sink_mutex_;
    std::atomic<bool> active_{false};
    std::atomic<bool> refresh_{false};
    mutable std::mutex mutex_;
    Published published_;
    std::function<void()> listener_;
};

}  // namespace zem::access
