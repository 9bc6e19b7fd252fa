#pragma once
// Shared-memory buffers for software frames: one pool per surface, one
// memfd, buffers carved out of it. When every buffer of the right size is
// still held by the compositor the pool grows by another buffer instead of
// failing, so a slow compositor never costs a frame.

#include <zem/shell/buffer_damage.hpp>

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct wl_shm;
struct wl_shm_pool;
struct wl_buffer;

namespace zem {

class ShmPool {
public:
    struct Slot;

    // A pool with room for `bytes` to start with.
    [[nodiscard]] static std::expected<std::unique_ptr<ShmPool>, std::string> create(wl_shm* shm, size_t bytes);
    ~ShmPool();
    ShmPool(const ShmPool&) = delete;
    ShmPool& operator=(const ShmPool&) = delete;

    struct Buffer {
        wl_buffer* buffer = nullptr;
        std::span<uint8_t> bytes;
        Slot* slot = nullptr;
    };
    // A buffer not held by the compositor; marks it busy until the
    // compositor releases it (after the caller attaches and commits it).
    [[nodiscard]] std::expected<Buffer, std::string> take(uint32_t width, uint32_t height, uint32_t stride, uint32_t format);
    // The rectangles to copy into `buffer` for a frame with `damage` (empty:
    // whole), or nothing for the whole buffer; see plan_buffer_copy.
    // The list lives in the pool and holds until the next call.
    [[nodiscard]] const std::vector<Rect>* plan_copy(const Buffer& buffer, const std::vector<Rect>& damage);

    // Destroys the buffers of pools already gone that the compositor never
    // released; called before the connection closes, when no release can
    // come any more.
    static void drop_orphans();

private:
    ShmPool() = default;
    [[nodiscard]] std::expected<void, std::string> grow(size_t extra);

    wl_shm_pool* pool_ = nullptr;
    int fd_ = -1;
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
    size_t used_ = 0;
    std::vector<Slot*> slots_;
    // plan_copy's lists, kept so that a steady frame allocates nothing.
    std::vector<BufferDamage*> others_;
    std::vector<Rect> copy_;
};

}  // namespace zem
