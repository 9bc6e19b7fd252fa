#include "app/bench/wizard_harness.hpp"

#include "i18n/translate.hpp"

#include <zem/canvas/canvas.hpp>
#include <zem/shell/draw_frame.hpp>
#include <zem/shell/hooks.hpp>

#include <wayland-client.h>
#include <xdg-shell-client-protocol.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace bench {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// --- commits ------------------------------------------------------------------

namespace {

std::atomic<std::uint8_t> g_viewed_page{static_cast<std::uint8_t>(app::Page::Splash)};
std::atomic<std::uint32_t> g_width{0}, g_height{0};
std::mutex g_commits_mutex;
std::vector<Commit> g_commits;
std::function<void(const Commit&)> g_on_commit;

void committed() {
    const Commit c{Clock::now(), static_cast<app::Page>(g_viewed_page.load()), g_width.load(), g_height.load()};
    std::function<void(const Commit&)> f;
    {
        std::lock_guard lock(g_commits_mutex);
        g_commits.push_back(c);
        f = g_on_commit;
    }
    if (f) f(c);
}

} // namespace

void record_commits() { zem::set_main_frame_committed(&committed); }

std::vector<Commit> commits() {
    std::lock_guard lock(g_commits_mutex);
    return g_commits;
}

void on_commit(std::function<void(const Commit&)> f) {
    std::lock_guard lock(g_commits_mutex);
    g_on_commit = std::move(f);
}

std::vector<app::Msg> BenchWizard::poll() {
    std::vector<app::Msg> out = app_.poll();
    if (script_)
        for (auto& m : script_(app_)) out.push_back(std::move(m));
    return out;
}

void BenchWizard::resized(std::uint32_t w, std::uint32_t h) {
    g_width = w;
    g_height = h;
}

zem::Element BenchWizard::view() const {
    zem::Element e = app_.view();
    g_viewed_page.store(static_cast<std::uint8_t>(app_.page));
    return e;
}

bool prepare_wizard() {
    setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_THEMES, 0);
    auto theme = zem::theme::load_theme("default");
    if (!theme) {
        std::fprintf(stderr, "bench: the default theme: %s\n", theme.error().debug().c_str());
        return false;
    }
    zem::theme::set_active(std::move(*theme));
    zem::theme::set_dark_mode(false);
    i18n::set_locale("en");
    return true;
}

std::optional<std::pair<double, double>> locate(const app::InstallerApp& wizard, std::uint32_t w, std::uint32_t h,
                                                const std::function<bool(const app::Msg&)>& pick) {
    zem::Canvas canvas = zem::Canvas::new_software(w, h);
    std::vector<zem::HitRegion> regions;
    const zem::Element root = wizard.view();
    zem::render_offscreen(canvas, root, zem::page_background(), "", 0.0f, 1, &regions);
    for (const zem::HitRegion& r : regions) {
        const zem::Message* m = nullptr;
        if (auto* p = r.action.as<zem::HitAction::Press>(); p && p->on_press) m = &*p->on_press;
        else if (auto* l = r.action.as<zem::HitAction::ListItem>(); l && l->message) m = &*l->message;
        if (!m) continue;
        if (auto* msg = m->get<app::Msg>(); msg && pick(*msg)) return std::make_pair(r.rect.x + r.rect.w / 2, r.rect.y + r.rect.h / 2);
    }
    return std::nullopt;
}

// --- the bare client ----------------------------------------------------------

struct BareClient::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    xdg_wm_base* wm = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xsurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    struct Buffer {
        wl_buffer* buffer = nullptr;
        std::uint32_t* pixels = nullptr;
        bool busy = false;
    };
    Buffer buffers[2];
    void* map = nullptr;
    std::size_t map_bytes = 0;
    std::int32_t width = 0, height = 0;
    std::atomic<std::int32_t> pending_width{0}, pending_height{0};
    std::atomic<std::int32_t> drawn_width{0}, drawn_height{0};
    bool configured = false;
    std::uint32_t colour = 0xff2060a0u;
    std::atomic<bool> inside{false};
    mutable std::mutex mutex;
    std::vector<Clock::time_point> commits;
    std::thread thread;
    int stop_fd = -1;

    bool make_buffers() {
        const std::size_t one = std::size_t(width) * std::size_t(height) * 4;
        map_bytes = one * 2;
        int fd = memfd_create("bare-client", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(map_bytes)) != 0) return false;
        map = mmap(nullptr, map_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            map = nullptr;
            close(fd);
            return false;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, std::int32_t(map_bytes));
        for (int i = 0; i < 2; ++i) {
            buffers[i].buffer = wl_shm_pool_create_buffer(pool, std::int32_t(one) * i, width, height, width * 4,
                                                          WL_SHM_FORMAT_XRGB8888);
            buffers[i].pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(map) + one * std::size_t(i));
            wl_buffer_add_listener(buffers[i].buffer, &kBufferListener, &buffers[i]);
        }
        wl_shm_pool_destroy(pool);
        close(fd);
        return true;
    }

    // One whole frame: fill a free buffer, attach, damage, commit.
    void draw() {
        Buffer* b = !buffers[0].busy ? &buffers[0] : !buffers[1].busy ? &buffers[1] : nullptr;
        if (!b) return;
        colour ^= 0x00ffffffu;
        std::fill(b->pixels, b->pixels + std::size_t(width) * std::size_t(height), colour);
        wl_surface_attach(surface, b->buffer, 0, 0);
        wl_surface_damage_buffer(surface, 0, 0, width, height);
        wl_surface_commit(surface);
        b->busy = true;
        drawn_width = width;
        drawn_height = height;
        std::lock_guard lock(mutex);
        commits.push_back(Clock::now());
    }

    static void buffer_release(void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }
    static constexpr wl_buffer_listener kBufferListener = {.release = buffer_release};

    static void ping(void*, xdg_wm_base* wm, std::uint32_t serial) { xdg_wm_base_pong(wm, serial); }
    static constexpr xdg_wm_base_listener kWmListener = {.ping = ping};

    // Buffers of the size last configured; a new size replaces them and
    // draws again.
    void resize() {
        if (pending_width <= 0 || pending_height <= 0 || (pending_width == width && pending_height == height)) return;
        drop_buffers();
        width = pending_width;
        height = pending_height;
        if (make_buffers()) draw();
    }

    void drop_buffers() {
        for (auto& b : buffers) {
            if (b.buffer) wl_buffer_destroy(b.buffer);
            b = Buffer{};
        }
        if (map) munmap(map, map_bytes);
        map = nullptr;
    }

    static void surface_configure(void* data, xdg_surface* s, std::uint32_t serial) {
        xdg_surface_ack_configure(s, serial);
        auto* self = static_cast<Impl*>(data);
        self->configured = true;
        if (self->map) self->resize();
    }
    static constexpr xdg_surface_listener kSurfaceListener = {.configure = surface_configure};

    static void toplevel_configure(void* data, xdg_toplevel*, std::int32_t w, std::int32_t h, wl_array*) {
        auto* self = static_cast<Impl*>(data);
        if (w > 0 && h > 0) {
            self->pending_width = w;
            self->pending_height = h;
        }
    }
    static void toplevel_close(void*, xdg_toplevel*) {}
    // Bound at version 1: the later events never come.
    static constexpr xdg_toplevel_listener kToplevelListener = {.configure = toplevel_configure,
                                                                .close = toplevel_close,
                                                                .configure_bounds = nullptr,
                                                                .wm_capabilities = nullptr};

    static void enter(void* data, wl_pointer*, std::uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t) {
        static_cast<Impl*>(data)->inside = true;
    }
    static void leave(void* data, wl_pointer*, std::uint32_t, wl_surface*) { static_cast<Impl*>(data)->inside = false; }
    static void motion(void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {}
    static void button(void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t state) {
        if (state == WL_POINTER_BUTTON_STATE_RELEASED) static_cast<Impl*>(data)->draw();
    }
    static void axis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
    static void frame(void*, wl_pointer*) {}
    static void axis_source(void*, wl_pointer*, std::uint32_t) {}
    static void axis_stop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
    static void axis_discrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
    static constexpr wl_pointer_listener kPointerListener = {.enter = enter,
                                                             .leave = leave,
                                                             .motion = motion,
                                                             .button = button,
                                                             .axis = axis,
                                                             .frame = frame,
                                                             .axis_source = axis_source,
                                                             .axis_stop = axis_stop,
                                                             .axis_discrete = axis_discrete,
                                                             .axis_value120 = nullptr};  // seat bound at 5 at most

    static void capabilities(void* data, wl_seat* seat, std::uint32_t caps) {
        auto* self = static_cast<Impl*>(data);
        if ((caps & WL_SEAT_CAPABILITY_POINTER) && !self->pointer) {
            self->pointer = wl_seat_get_pointer(seat);
            wl_pointer_add_listener(self->pointer, &kPointerListener, self);
        }
    }
    static void seat_name(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener kSeatListener = {.capabilities = capabilities, .name = seat_name};

    static void global(void* data, wl_registry* r, std::uint32_t name, const char* interface, std::uint32_t version) {
        auto* self = static_cast<Impl*>(data);
        const std::string_view i = interface;
        if (i == wl_compositor_interface.name)
            self->compositor = static_cast<wl_compositor*>(wl_registry_bind(r, name, &wl_compositor_interface, 4));
        else if (i == wl_shm_interface.name)
            self->shm = static_cast<wl_shm*>(wl_registry_bind(r, name, &wl_shm_interface, 1));
        else if (i == xdg_wm_base_interface.name) {
            self->wm = static_cast<xdg_wm_base*>(wl_registry_bind(r, name, &xdg_wm_base_interface, 1));
            xdg_wm_base_add_listener(self->wm, &kWmListener, self);
        } else if (i == wl_seat_interface.name && !self->seat) {
            self->seat = static_cast<wl_seat*>(wl_registry_bind(r, name, &wl_seat_interface, std::min(version, 5u)));
            wl_seat_add_listener(self->seat, &kSeatListener, self);
        }
    }
    static void global_remove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener kRegistryListener = {.global = global, .global_remove = global_remove};

    void loop() {
        for (;;) {
            while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
            wl_display_flush(display);
            pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {stop_fd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                wl_display_cancel_read(display);
                return;
            }
            if (fds[1].revents) {
                wl_display_cancel_read(display);
                return;
            }
            if (fds[0].revents & POLLIN) {
                if (wl_display_read_events(display) != 0) return;
            } else {
                wl_display_cancel_read(display);
            }
            if (wl_display_dispatch_pending(display) < 0) return;
        }
    }

    ~Impl() {
        if (thread.joinable()) {
            std::uint64_t one = 1;
            (void)!write(stop_fd, &one, sizeof one);
            thread.join();
        }
        if (stop_fd >= 0) close(stop_fd);
        drop_buffers();
        if (toplevel) xdg_toplevel_destroy(toplevel);
        if (xsurface) xdg_surface_destroy(xsurface);
        if (surface) wl_surface_destroy(surface);
        if (pointer) wl_pointer_destroy(pointer);
        if (seat) wl_seat_destroy(seat);
        if (wm) xdg_wm_base_destroy(wm);
        if (shm) wl_shm_destroy(shm);
        if (compositor) wl_compositor_destroy(compositor);
        if (registry) wl_registry_destroy(registry);
        if (display) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }
};

std::expected<std::unique_ptr<BareClient>, std::string> BareClient::start(const std::string& name) {
    std::unique_ptr<BareClient> c(new BareClient());
    c->impl_ = std::make_unique<Impl>();
    Impl& s = *c->impl_;
    s.display = wl_display_connect(name.empty() ? nullptr : name.c_str());
    if (!s.display) return std::unexpected("cannot connect to " + name);
    s.registry = wl_display_get_registry(s.display);
    wl_registry_add_listener(s.registry, &Impl::kRegistryListener, &s);
    if (wl_display_roundtrip(s.display) < 0 || !s.compositor || !s.shm || !s.wm)
        return std::unexpected(std::string("the compositor lacks wl_compositor, wl_shm or xdg_wm_base"));
    s.surface = wl_compositor_create_surface(s.compositor);
    s.xsurface = xdg_wm_base_get_xdg_surface(s.wm, s.surface);
    xdg_surface_add_listener(s.xsurface, &Impl::kSurfaceListener, &s);
    s.toplevel = xdg_surface_get_toplevel(s.xsurface);
    xdg_toplevel_add_listener(s.toplevel, &Impl::kToplevelListener, &s);
    xdg_toplevel_set_app_id(s.toplevel, "net.tavix.BareBench");
    xdg_toplevel_set_fullscreen(s.toplevel, nullptr);
    wl_surface_commit(s.surface);
    while (!s.configured)
        if (wl_display_dispatch(s.display) < 0) return std::unexpected(std::string("connection lost before the configure"));
    // The first configure may leave the size to us (sway goes full screen
    // only once the window is mapped); the toolkit then takes 800 × 600.
    if (s.pending_width <= 0 || s.pending_height <= 0) {
        s.pending_width = 800;
        s.pending_height = 600;
    }
    s.resize();
    if (!s.map) return std::unexpected(std::string("shared memory: ") + std::strerror(errno));
    wl_display_flush(s.display);
    return c;
}

BareClient::~BareClient() = default;

std::vector<Clock::time_point> BareClient::commits() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->commits;
}

bool BareClient::pointer_inside() const { return impl_->inside.load(); }

std::pair<std::int32_t, std::int32_t> BareClient::drawn_size() const {
    return {impl_->drawn_width.load(), impl_->drawn_height.load()};
}

void BareClient::run_in_background() {
    impl_->stop_fd = eventfd(0, EFD_CLOEXEC);
    impl_->thread = std::thread([s = impl_.get()] { s->loop(); });
}

// --- children -------------------------------------------------------------------

std::string stamp(Clock::time_point t) {
    return std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

std::optional<Clock::time_point> parse_stamp(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long long ns = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str()) return std::nullopt;
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

std::optional<ChildRun> run_self(const std::vector<std::string>& args,
                                 const std::vector<std::pair<std::string, std::string>>& env,
                                 std::chrono::seconds limit, std::string& why) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        why = std::string("pipe: ") + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::string> argv_s{"/proc/self/exe"};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_s;
    for (char** e = environ; *e; ++e) env_s.emplace_back(*e);
    for (const auto& [k, v] : env) env_s.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipe_fds[1], 1);
    ChildRun run;
    pid_t pid = -1;
    run.started = Clock::now();
    const int rc = posix_spawn(&pid, "/proc/self/exe", &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(pipe_fds[1]);
    if (rc != 0) {
        close(pipe_fds[0]);
        why = std::string("spawn: ") + std::strerror(rc);
        return std::nullopt;
    }
    const auto deadline = Clock::now() + limit;
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{pipe_fds[0], POLLIN, 0};
        const int n = left > 0 ? ::poll(&p, 1, int(left)) : 0;
        if (n == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            close(pipe_fds[0]);
            why = "the child did not end in time; it wrote: " + run.out;
            return std::nullopt;
        }
        if (n < 0 && errno == EINTR) continue;
        const ssize_t got = read(pipe_fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        run.out.append(buf, std::size_t(got));
    }
    close(pipe_fds[0]);
    waitpid(pid, &run.status, 0);
    return run;
}

} // namespace bench
