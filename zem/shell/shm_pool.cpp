#include <zem/shell/shm_pool.hpp>

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace zem {

struct ShmPool::Slot {
    wl_buffer* buffer = nullptr;
    size_t offset = 0;
    size_t length = 0;
    uint32_t width = 0, height = 0, stride = 0, format = 0;
    bool busy = false;
    bool orphan = false;  // the pool is gone; destroy on release
    BufferDamage damage;  // what this buffer missed of later frames
};

namespace {

// Buffers of pools already gone that the compositor still held: each goes
// when the compositor releases it, the rest with the connection.
std::mutex g_orphans_mutex;
std::vector<ShmPool::Slot*> g_orphans;

void on_release(void* data, wl_buffer* buffer) {
    auto* slot = static_cast<ShmPool::Slot*>(data);
    slot->busy = false;
    if (slot->orphan) {
        {
            std::lock_guard lock(g_orphans_mutex);
            std::erase(g_orphans, slot);
        }
        wl_buffer_destroy(buffer);
        delete slot;
    }
}

const wl_buffer_listener kBufferListener = {on_release};

std::string errno_text() { return std::strerror(errno); }

}  // namespace

std::expected<std::unique_ptr<ShmPool>, std::string> ShmPool::create(wl_shm* shm, size_t bytes) {
    std::unique_ptr<ShmPool> p(new ShmPool());
    p->fd_ = memfd_create("zem-shm", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (p->fd_ < 0) return std::unexpected("memfd_create: " + errno_text());
    if (bytes == 0) bytes = 4096;
    if (ftruncate(p->fd_, static_cast<off_t>(bytes)) != 0) return std::unexpected("ftruncate: " + errno_text());
    void* m = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, p->fd_, 0);
    if (m == MAP_FAILED) return std::unexpected("mmap: " + errno_text());
    p->map_ = static_cast<uint8_t*>(m);
    p->size_ = bytes;
    p->pool_ = wl_shm_create_pool(shm, p->fd_, static_cast<int32_t>(bytes));
    if (p->pool_ == nullptr) return std::unexpected("wl_shm.create_pool failed");
    return p;
}

ShmPool::~ShmPool() {
    for (Slot* s : slots_) {
        if (s->busy) {
            s->orphan = true;  // the compositor still reads it
            std::lock_guard lock(g_orphans_mutex);
            g_orphans.push_back(s);
        } else {
            wl_buffer_destroy(s->buffer);
            delete s;
        }
    }
    if (pool_) wl_shm_pool_destroy(pool_);
    if (map_) munmap(map_, size_);
    if (fd_ >= 0) close(fd_);
}

void ShmPool::drop_orphans() {
    std::vector<Slot*> left;
    {
        std::lock_guard lock(g_orphans_mutex);
        left.swap(g_orphans);
    }
    for (Slot* s : left) {
        wl_buffer_destroy(s->buffer);
        delete s;
    }
}

std::expected<void, std::string> ShmPool::grow(size_t extra) {
    size_t want = used_ + extra;
    if (want <= size_) return {};
    if (want > static_cast<size_t>(INT32_MAX)) return std::unexpected(std::string("pool size out of range"));
    if (ftruncate(fd_, static_cast<off_t>(want)) != 0) return std::unexpected("ftruncate: " + errno_text());
    void* m = mremap(map_, size_, want, MREMAP_MAYMOVE);
    if (m == MAP_FAILED) return std::unexpected("mremap: " + errno_text());
    map_ = static_cast<uint8_t*>(m);
    size_ = want;
    wl_shm_pool_resize(pool_, static_cast<int32_t>(want));
    return {};
}

std::expected<ShmPool::Buffer, std::string> ShmPool::take(uint32_t width, uint32_t height, uint32_t stride,
                                                          uint32_t format) {
    size_t length = static_cast<size_t>(stride) * height;
    Slot* chosen = nullptr;
    // Free buffers of another shape are of no further use: drop them. Their
    // memory is not reused (offsets only grow), which keeps this simple; a
    // shape change replaces the whole pool anyway (configure).
    for (auto it = slots_.begin(); it != slots_.end();) {
        Slot* s = *it;
        if (!s->busy && (s->width != width || s->height != height || s->stride != stride || s->format != format)) {
            wl_buffer_destroy(s->buffer);
            delete s;
            it = slots_.erase(it);
            continue;
        }
        if (!s->busy && chosen == nullptr) chosen = s;
        ++it;
    }
    if (chosen == nullptr) {
        if (auto g = grow(length); !g) return std::unexpected(g.error());
        auto* s = new Slot();
        s->offset = used_;
        s->length = length;
        s->width = width;
        s->height = height;
        s->stride = stride;
        s->format = format;
        s->buffer = wl_shm_pool_create_buffer(pool_, static_cast<int32_t>(s->offset), static_cast<int32_t>(width),
                                              static_cast<int32_t>(height), static_cast<int32_t>(stride), format);
        if (s->buffer == nullptr) {
            delete s;
            return std::unexpected(std::string("wl_shm_pool.create_buffer failed"));
        }
        wl_buffer_add_listener(s->buffer, &kBufferListener, s);
        used_ += length;
        slots_.push_back(s);
        chosen = s;
    }
    chosen->busy = true;
    return Buffer{chosen->buffer, std::span<uint8_t>(map_ + chosen->offset, chosen->length), chosen};
}

const std::vector<Rect>* ShmPool::plan_copy(const Buffer& buffer, const std::vector<Rect>& damage) {
    if (buffer.slot == nullptr) return nullptr;
    others_.clear();
    for (Slot* s : slots_)
        if (s != buffer.slot) others_.push_back(&s->damage);
    return plan_buffer_copy(buffer.slot->damage, others_, damage, copy_) ? &copy_ : nullptr;
}

}  // namespace zem
