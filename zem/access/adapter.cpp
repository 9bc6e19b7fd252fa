#include <zem/access/adapter.hpp>

namespace zem::access {

Adapter::Adapter(Sink sink) : sink_(std::move(sink)) {
    published_.tree = std::make_shared<const TreeUpdate>(initial_tree());
}

void Adapter::activate() {
    {
        std::lock_guard lock(mutex_);
        published_.tree = std::make_shared<const TreeUpdate>(initial_tree());
        ++published_.generation;
    }
    refresh_ = true;
    active_ = true;
    request(ActionRequest{A11yAction::Refresh, window_node_id, {}, {}});
}

void Adapter::deactivate() { active_ = false; }

void Adapter::request(ActionRequest r) {
    std::lock_guard lock(sink_mutex_);
    if (sink_) (void)sink_(std::move(r));
}

Adapter::Published Adapter::published() const {
    std::lock_guard lock(mutex_);
    return published_;
}

void Adapter::set_change_listener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void Adapter::changed() {
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        ++published_.generation;
        listener = listener_;
    }
    if (listener) listener();
}

void Adapter::update(const std::vector<A11ySurface>& surfaces, std::uint8_t focus_surface, std::string_view app_id) {
    if (!active()) return;
    auto tree = std::make_shared<const TreeUpdate>(build_accessibility_tree(surfaces, focus_surface, app_id));
    {
        std::lock_guard lock(mutex_);
        published_.tree = std::move(tree);
    }
    changed();
}

void Adapter::set_window_bounds(std::uint32_t width, std::uint32_t height) {
    {
        std::lock_guard lock(mutex_);
        published_.width = width;
        published_.height = height;
    }
    changed();
}

void Adapter::update_focus(bool focused) {
    {
        std::lock_guard lock(mutex_);
        published_.window_focused = focused;
    }
    changed();
}

}  // namespace zem::access
