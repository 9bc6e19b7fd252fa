#include "support/scripted_compositor.hpp"

#include "support/process.hpp"

#include <wayland-server.h>
#include <text-input-unstable-v3-server-protocol.h>
#include <xdg-shell-server-protocol.h>
#include <xdg-session-management-v1-server-protocol.h>
#include <cursor-shape-v1-server-protocol.h>
#include <xkbcommon/xkbcommon.h>
#include <sys/mman.h>

#include <condition_variable>
#include <map>
#include <deque>
#include <queue>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace zem::test {

struct ScriptedCompositor::State {
    ScriptedOptions opts;
    wl_display* display = nullptr;
    int wake_fd = -1;
    wl_event_source* wake_source = nullptr;
    mutable std::mutex mutex;
    std::vector<std::string> log;
    std::vector<CommittedFrame> committed;
    std::queue<std::function<void()>> calls;
    std::condition_variable done_cv;
    uint64_t calls_done = 0, calls_posted = 0;

    struct Object {
        std::string iface;
        wl_resource* surface = nullptr;     // xdg_surface, xdg_toplevel, xdg_popup: their wl_surface
        wl_resource* xdg_surface = nullptr; // wl_surface: its xdg_surface
        wl_resource* role = nullptr;        // wl_surface: its xdg_toplevel or xdg_popup
        wl_resource* buffer = nullptr;      // wl_surface: pending buffer
        std::vector<wl_resource*> frames;   // wl_surface: pending frame callbacks
        bool configured = false;
    };
    std::map<wl_resource*, Object> objects;
    uint32_t serial = 1;
    int frames_seen = 0;
    wl_resource* first_toplevel = nullptr;
    std::deque<int> received;  // write ends of wl_data_offer.receive, oldest first
    wl_resource* first_session = nullptr;
    std::vector<std::string> binds;
    std::vector<wl_resource*> seats, pointers, keyboards, touches;

    std::condition_variable log_cv;
    wl_resource* wm_base = nullptr;  // the client's xdg_wm_base, for pings
    uint32_t ping_serial = 1000000;  // apart from the configure serials tests check

    void add_log(std::string line) {
        {
            std::lock_guard lock(mutex);
            log.push_back(std::move(line));
        }
        log_cv.notify_all();
    }
};

namespace {

using State = ScriptedCompositor::State;

int dispatch(const void* impl, void* target, uint32_t opcode, const wl_message* msg, wl_argument* args);

void on_destroy(wl_resource* r) {
    auto* st = static_cast<State*>(wl_resource_get_user_data(r));
    st->objects.erase(r);
    for (auto& [res, obj] : st->objects) {
        if (obj.surface == r) obj.surface = nullptr;
        if (obj.xdg_surface == r) obj.xdg_surface = nullptr;
        if (obj.role == r) obj.role = nullptr;
        if (obj.buffer == r) obj.buffer = nullptr;
        std::erase(obj.frames, r);
    }
    if (st->first_toplevel == r) st->first_toplevel = nullptr;
    if (st->first_session == r) st->first_session = nullptr;
    for (auto* list : {&st->seats, &st->pointers, &st->keyboards, &st->touches}) std::erase(*list, r);
    if (st->wm_base == r) st->wm_base = nullptr;
}

wl_resource* make(State* st, wl_client* client, const wl_interface* iface, uint32_t version, uint32_t id) {
    wl_resource* r = wl_resource_create(client, iface, static_cast<int>(version), id);
    wl_resource_set_dispatcher(r, dispatch, st, st, on_destroy);
    st->objects[r].iface = iface->name;
    return r;
}

std::string describe(const wl_message* msg, const wl_argument* args) {
    std::string out = msg->name;
    out += "(";
    int i = 0;
    bool first = true;
    for (const char* p = msg->signature; *p; ++p) {
        char c = *p;
        if (c == '?' || (c >= '0' && c <= '9')) continue;
        if (!first) out += ",";
        first = false;
        switch (c) {
            case 'i': out += std::to_string(args[i].i); break;
            case 'u': out += std::to_string(args[i].u); break;
            case 'f': out += std::to_string(wl_fixed_to_double(args[i].f)); break;
            case 's': out += args[i].s ? args[i].s : "nil"; break;
            case 'o':
                out += args[i].o ? wl_resource_get_class(reinterpret_cast<wl_resource*>(args[i].o)) : "nil";
                break;
            case 'n': out += "new"; break;
            case 'h': out += "fd"; break;
            case 'a': out += "array"; break;
        }
        ++i;
    }
    return out + ")";
}

void send_toplevel_configure(State* st, wl_resource* toplevel, int32_t w, int32_t h) {
    auto& obj = st->objects[toplevel];
    wl_array states;
    wl_array_init(&states);
    xdg_toplevel_send_configure(toplevel, w, h, &states);
    wl_array_release(&states);
    wl_resource* xs = st->objects[obj.surface].xdg_surface;
    if (xs) xdg_surface_send_configure(xs, st->serial++);
}

void surface_commit(State* st, wl_resource* surface) {
    auto& obj = st->objects[surface];
    if (obj.role && !st->objects[obj.role].configured) {
        st->objects[obj.role].configured = true;
        auto& role = st->objects[obj.role];
        if (role.iface == "xdg_toplevel") {
            send_toplevel_configure(st, obj.role, st->opts.configure_width, st->opts.configure_height);
        } else if (role.iface == "xdg_popup") {
            xdg_popup_send_configure(obj.role, 0, 0, 100, 50);
            xdg_surface_send_configure(obj.xdg_surface, st->serial++);
        }
    }
    if (obj.buffer) {
        wl_resource* b = obj.buffer;
        obj.buffer = nullptr;
        if (st->opts.keep_frames)
            if (wl_shm_buffer* shm = wl_shm_buffer_get(b)) {
                CommittedFrame f;
                f.width = uint32_t(wl_shm_buffer_get_width(shm));
                f.height = uint32_t(wl_shm_buffer_get_height(shm));
                f.format = wl_shm_buffer_get_format(shm);
                const size_t stride = size_t(wl_shm_buffer_get_stride(shm)), row = size_t(f.width) * 4;
                f.bytes.resize(row * f.height);
                wl_shm_buffer_begin_access(shm);
                if (const auto* px = static_cast<const uint8_t*>(wl_shm_buffer_get_data(shm)))
                    for (uint32_t y = 0; y < f.height; ++y) std::memcpy(&f.bytes[y * row], px + y * stride, row);
                wl_shm_buffer_end_access(shm);
                std::lock_guard lock(st->mutex);
                st->committed.push_back(std::move(f));
            }
        if (st->opts.release_buffers) wl_buffer_send_release(b);
        ++st->frames_seen;
        if (st->opts.close_after_frames > 0 && st->frames_seen == st->opts.close_after_frames && st->first_toplevel)
            xdg_toplevel_send_close(st->first_toplevel);
    }
    if (st->opts.frame_done) {
        for (wl_resource* cb : obj.frames) {
            wl_callback_send_done(cb, 0);
            wl_resource_destroy(cb);
        }
        obj.frames.clear();
    }
}

int dispatch(const void*, void* target, uint32_t opcode, const wl_message* msg, wl_argument* args) {
    auto* r = static_cast<wl_resource*>(target);
    auto* st = static_cast<State*>(wl_resource_get_user_data(r));
    std::string iface = wl_resource_get_class(r);
    std::string line = iface + "." + describe(msg, args);
    if (iface == "wl_surface" && std::string(msg->name) == "attach") {
        auto* buf = reinterpret_cast<wl_resource*>(args[0].o);
        if (buf)
            if (wl_shm_buffer* shm = wl_shm_buffer_get(buf))
            {
                line += " format=" + std::to_string(wl_shm_buffer_get_format(shm)) +
                        " size=" + std::to_string(wl_shm_buffer_get_width(shm)) + "x" +
                        std::to_string(wl_shm_buffer_get_height(shm));
                // The top-left pixel's alpha byte (last in both formats' memory order).
                wl_shm_buffer_begin_access(shm);
                const auto* px = static_cast<const uint8_t*>(wl_shm_buffer_get_data(shm));
                if (px) line += " alpha=" + std::to_string(px[3]);
                wl_shm_buffer_end_access(shm);
            }
    }
    st->add_log(line);

    // Objects the request creates.
    int i = 0;
    std::vector<wl_resource*> created;
    for (const char* p = msg->signature; *p; ++p) {
        char c = *p;
        if (c == '?' || (c >= '0' && c <= '9')) continue;
        if (c == 'n') created.push_back(make(st, wl_resource_get_client(r), msg->types[i],
                                             wl_resource_get_version(r), args[i].n));
        ++i;
    }
    std::string name = msg->name;
    (void)opcode;

    if (iface == "wl_surface") {
        auto& obj = st->objects[r];
        if (name == "attach") obj.buffer = reinterpret_cast<wl_resource*>(args[0].o);
        else if (name == "frame") obj.frames.push_back(created.at(0));
        else if (name == "commit") surface_commit(st, r);
    } else if (iface == "xdg_wm_base" && name == "get_xdg_surface") {
        auto* surface = reinterpret_cast<wl_resource*>(args[1].o);
        st->objects[created.at(0)].surface = surface;
        st->objects[surface].xdg_surface = created.at(0);
    } else if (iface == "xdg_surface" && (name == "get_toplevel" || name == "get_popup")) {
        wl_resource* surface = st->objects[r].surface;
        st->objects[created.at(0)].surface = surface;
        st->objects[surface].role = created.at(0);
        if (name == "get_toplevel" && st->first_toplevel == nullptr) st->first_toplevel = created.at(0);
    } else if (iface == "xdg_session_manager_v1" && name == "get_session" && st->first_session == nullptr) {
        st->first_session = created.at(0);
    } else if (iface == "wl_seat") {
        if (name == "get_pointer") st->pointers.push_back(created.at(0));
        else if (name == "get_keyboard") st->keyboards.push_back(created.at(0));
        else if (name == "get_touch") st->touches.push_back(created.at(0));
    }
    if (iface == "wl_data_offer" && name == "receive") {
        std::lock_guard lock(st->mutex);
        st->received.push_back(args[1].h);
    }
    if (name == "release") wl_resource_destroy(r);
    // Destructors: every "destroy" request of these interfaces is one.
    if (name == "destroy" || (iface == "wl_buffer" && name == "destroy")) wl_resource_destroy(r);
    return 0;
}

void bind_global(wl_client* client, void* data, uint32_t version, uint32_t id) {
    auto* pair = static_cast<std::pair<State*, const wl_interface*>*>(data);
    {
        std::lock_guard lock(pair->first->mutex);
        pair->first->binds.push_back(std::string(pair->second->name) + "," + std::to_string(version));
    }
    wl_resource* r = make(pair->first, client, pair->second, version, id);
    if (pair->second == &wl_seat_interface) {
        pair->first->seats.push_back(r);
        wl_seat_send_capabilities(r, pair->first->opts.seat_capabilities);
    }
    if (pair->second == &xdg_wm_base_interface && pair->first->wm_base == nullptr) pair->first->wm_base = r;
}

int on_wake(int fd, uint32_t, void* data) {
    auto* st = static_cast<State*>(data);
    uint64_t v;
    (void)!read(fd, &v, sizeof v);
    while (true) {
        std::function<void()> fn;
        {
            std::lock_guard lock(st->mutex);
            if (st->calls.empty()) break;
            fn = std::move(st->calls.front());
            st->calls.pop();
        }
        fn();
        wl_display_flush_clients(st->display);
        {
            std::lock_guard lock(st->mutex);
            ++st->calls_done;
        }
        st->done_cv.notify_all();
    }
    return 0;
}

}  // namespace

std::expected<std::unique_ptr<ScriptedCompositor>, std::string> ScriptedCompositor::start(ScriptedOptions opts) {
    // The client in this process draws into shared memory, as the scripts
    // expect, unless a test chose otherwise.
    setenv("ZEM_FORCE_SOFTWARE", "1", 0);
    std::unique_ptr<ScriptedCompositor> c(new ScriptedCompositor());
    c->state_ = std::make_unique<State>();
    State* st = c->state_.get();
    st->opts = opts;
    st->display = wl_display_create();
    if (!st->display) return std::unexpected("wl_display_create failed");
    c->dir_ = make_temp_dir("zem-scripted");
    c->socket_ = c->dir_ + "/wayland-scripted";
    // wl_display_add_socket wants a name inside XDG_RUNTIME_DIR; an fd works anywhere.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", c->socket_.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0)
        return std::unexpected("cannot listen on " + c->socket_);
    if (wl_display_add_socket_fd(st->display, fd) != 0) return std::unexpected("wl_display_add_socket_fd failed");

    static std::vector<std::unique_ptr<std::pair<State*, const wl_interface*>>> keep;
    auto global = [&](const wl_interface* iface, uint32_t version) {
        keep.push_back(std::make_unique<std::pair<State*, const wl_interface*>>(st, iface));
        wl_global_create(st->display, iface, static_cast<int>(version), keep.back().get(), bind_global);
    };
    if (opts.compositor_version) global(&wl_compositor_interface, opts.compositor_version);
    if (opts.shm) {
        wl_display_init_shm(st->display);
        if (opts.shm_ab24) wl_display_add_shm_format(st->display, WL_SHM_FORMAT_ABGR8888);
    }
    if (opts.text_input_version) global(&zwp_text_input_manager_v3_interface, opts.text_input_version);
    if (opts.data_device_manager_version) global(&wl_data_device_manager_interface, opts.data_device_manager_version);
    if (opts.wm_base_version) global(&xdg_wm_base_interface, opts.wm_base_version);
    if (opts.seat) global(&wl_seat_interface, 5);
    if (opts.cursor_shape) global(&wp_cursor_shape_manager_v1_interface, 1);
    if (opts.output) global(&wl_output_interface, 3);
    if (opts.session_manager) global(&xdg_session_manager_v1_interface, 1);

    st->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    st->wake_source =
        wl_event_loop_add_fd(wl_display_get_event_loop(st->display), st->wake_fd, WL_EVENT_READABLE, on_wake, st);
    wl_display* d = st->display;
    c->thread_ = std::thread([d] { wl_display_run(d); });
    return c;
}

ScriptedCompositor::~ScriptedCompositor() {
    if (state_ && state_->display) {
        call([this] { wl_display_terminate(state_->display); });
        if (thread_.joinable()) thread_.join();
        wl_display_destroy_clients(state_->display);
        if (state_->wake_source) wl_event_source_remove(state_->wake_source);
        wl_display_destroy(state_->display);
        close(state_->wake_fd);
    }
    remove_tree(dir_);
}

std::vector<CommittedFrame> ScriptedCompositor::frames() const {
    std::lock_guard lock(state_->mutex);
    return state_->committed;
}

std::vector<std::string> ScriptedCompositor::log() const {
    std::lock_guard lock(state_->mutex);
    return state_->log;
}

std::vector<std::string> ScriptedCompositor::matching(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& l : log())
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

namespace {

// The newest text-input object and the surface of the first toplevel.
std::pair<wl_resource*, wl_resource*> text_input_target(State* st) {
    wl_resource* ti = nullptr;
    for (auto& [r, obj] : st->objects)
        if (obj.iface == "zwp_text_input_v3" && (ti == nullptr || wl_resource_get_id(r) > wl_resource_get_id(ti))) ti = r;
    wl_resource* surface = st->first_toplevel ? st->objects[st->first_toplevel].surface : nullptr;
    return {ti, surface};
}

}  // namespace

void ScriptedCompositor::text_input_enter() {
    call([this] {
        auto [ti, surface] = text_input_target(state_.get());
        if (ti && surface) zwp_text_input_v3_send_enter(ti, surface);
    });
}

void ScriptedCompositor::text_input_preedit(const std::string& text, int32_t begin, int32_t end) {
    call([this, text, begin, end] {
        if (auto ti = text_input_target(state_.get()).first) zwp_text_input_v3_send_preedit_string(ti, text.c_str(), begin, end);
    });
}

void ScriptedCompositor::text_input_commit_string(const std::string& text) {
    call([this, text] {
        if (auto ti = text_input_target(state_.get()).first) zwp_text_input_v3_send_commit_string(ti, text.c_str());
    });
}

void ScriptedCompositor::text_input_delete(uint32_t before, uint32_t after) {
    call([this, before, after] {
        if (auto ti = text_input_target(state_.get()).first) zwp_text_input_v3_send_delete_surrounding_text(ti, before, after);
    });
}

void ScriptedCompositor::text_input_done(uint32_t serial) {
    call([this, serial] {
        if (auto ti = text_input_target(state_.get()).first) zwp_text_input_v3_send_done(ti, serial);
    });
}

namespace {

wl_resource* newest(State* st, const std::string& iface) {
    wl_resource* out = nullptr;
    for (auto& [r, obj] : st->objects)
        if (obj.iface == iface && (out == nullptr || wl_resource_get_id(r) > wl_resource_get_id(out))) out = r;
    return out;
}

}  // namespace

int ScriptedCompositor::request_send(const std::string& mime) {
    int out = -1;
    call([this, mime, &out] {
        wl_resource* src = newest(state_.get(), "wl_data_source");
        int p[2];
        if (src == nullptr || pipe2(p, O_CLOEXEC) != 0) return;
        wl_data_source_send_send(src, mime.c_str(), p[1]);
        close(p[1]);  // the event carries its own copy
        out = p[0];
    });
    return out;
}

void ScriptedCompositor::new_selection(const std::vector<std::string>& mimes) {
    call([this, mimes] {
        State* st = state_.get();
        wl_resource* device = newest(st, "wl_data_device");
        if (device == nullptr) return;
        wl_resource* offer = wl_resource_create(wl_resource_get_client(device), &wl_data_offer_interface,
                                                wl_resource_get_version(device), 0);
        wl_resource_set_dispatcher(offer, dispatch, st, st, on_destroy);
        st->objects[offer].iface = "wl_data_offer";
        wl_data_device_send_data_offer(device, offer);
        for (const auto& m : mimes) wl_data_offer_send_offer(offer, m.c_str());
        wl_data_device_send_selection(device, offer);
    });
}

uint32_t ScriptedCompositor::drag_enter(const std::vector<std::string>& mimes) {
    uint32_t serial = 0;
    call([this, mimes, &serial] {
        State* st = state_.get();
        wl_resource* device = newest(st, "wl_data_device");
        wl_resource* surface = newest(st, "wl_surface");
        if (device == nullptr || surface == nullptr) return;
        wl_resource* offer = wl_resource_create(wl_resource_get_client(device), &wl_data_offer_interface,
                                                wl_resource_get_version(device), 0);
        wl_resource_set_dispatcher(offer, dispatch, st, st, on_destroy);
        st->objects[offer].iface = "wl_data_offer";
        wl_data_device_send_data_offer(device, offer);
        for (const auto& m : mimes) wl_data_offer_send_offer(offer, m.c_str());
        serial = st->serial++;
        wl_data_device_send_enter(device, serial, surface, wl_fixed_from_int(10), wl_fixed_from_int(10), offer);
    });
    return serial;
}

void ScriptedCompositor::drag_drop() {
    call([this] {
        if (wl_resource* device = newest(state_.get(), "wl_data_device")) wl_data_device_send_drop(device);
    });
}

int ScriptedCompositor::take_received(std::chrono::milliseconds wait) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->received.empty()) {
                int fd = state_->received.front();
                state_->received.pop_front();
                return fd;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool ScriptedCompositor::wait_for(const std::string& prefix, size_t count, std::chrono::milliseconds limit) const {
    auto seen = [&] {
        size_t n = 0;
        for (const auto& l : state_->log)
            if (l.rfind(prefix, 0) == 0) ++n;
        return n >= count;
    };
    std::unique_lock lock(state_->mutex);
    return state_->log_cv.wait_for(lock, limit, seen);
}

bool ScriptedCompositor::roundtrip(std::chrono::milliseconds limit) {
    uint32_t serial = 0;
    call([this, &serial] {
        if (!state_->wm_base) return;
        serial = state_->ping_serial++;
        xdg_wm_base_send_ping(state_->wm_base, serial);
    });
    return serial != 0 && wait_for("xdg_wm_base.pong(" + std::to_string(serial) + ")", 1, limit);
}

void ScriptedCompositor::call(std::function<void()> fn) {
    uint64_t ticket;
    {
        std::lock_guard lock(state_->mutex);
        state_->calls.push(std::move(fn));
        ticket = ++state_->calls_posted;
    }
    uint64_t one = 1;
    (void)!write(state_->wake_fd, &one, sizeof one);
    std::unique_lock lock(state_->mutex);
    state_->done_cv.wait_for(lock, std::chrono::seconds(5), [&] { return state_->calls_done >= ticket; });
}

void ScriptedCompositor::post_error_on_toplevel(uint32_t code, const std::string& message) {
    call([this, code, message] {
        if (state_->first_toplevel) wl_resource_post_error(state_->first_toplevel, code, "%s", message.c_str());
    });
}

void ScriptedCompositor::close_toplevel() {
    call([this] {
        if (state_->first_toplevel) xdg_toplevel_send_close(state_->first_toplevel);
    });
}

void ScriptedCompositor::configure_toplevel(int32_t w, int32_t h) {
    call([this, w, h] {
        if (state_->first_toplevel) send_toplevel_configure(state_.get(), state_->first_toplevel, w, h);
    });
}

std::vector<std::string> ScriptedCompositor::binds() const {
    std::lock_guard lock(state_->mutex);
    return state_->binds;
}

void ScriptedCompositor::send_session_created(const std::string& id) {
    call([this, id] {
        if (state_->first_session) xdg_session_v1_send_created(state_->first_session, id.c_str());
    });
}

void ScriptedCompositor::send_session_replaced() {
    call([this] {
        if (state_->first_session) xdg_session_v1_send_replaced(state_->first_session);
    });
}

}  // namespace zem::test

namespace zem::test {

namespace {

wl_resource* toplevel_surface(State* st) {
    if (!st->first_toplevel) return nullptr;
    return st->objects[st->first_toplevel].surface;
}

uint32_t now_ms() {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

}  // namespace

void ScriptedCompositor::set_capabilities(uint32_t caps) {
    call([this, caps] {
        for (wl_resource* s : state_->seats) wl_seat_send_capabilities(s, caps);
    });
}

void ScriptedCompositor::pointer_enter(double x, double y) {
    call([this, x, y] {
        wl_resource* surface = toplevel_surface(state_.get());
        if (!surface) return;
        for (wl_resource* p : state_->pointers) {
            wl_pointer_send_enter(p, state_->serial++, surface, wl_fixed_from_double(x), wl_fixed_from_double(y));
            if (wl_resource_get_version(p) >= 5) wl_pointer_send_frame(p);
        }
    });
}

void ScriptedCompositor::pointer_motion(double x, double y) {
    call([this, x, y] {
        for (wl_resource* p : state_->pointers) {
            wl_pointer_send_motion(p, now_ms(), wl_fixed_from_double(x), wl_fixed_from_double(y));
            if (wl_resource_get_version(p) >= 5) wl_pointer_send_frame(p);
        }
    });
}

void ScriptedCompositor::pointer_button(uint32_t button, bool pressed) {
    call([this, button, pressed] {
        for (wl_resource* p : state_->pointers) {
            wl_pointer_send_button(p, state_->serial++, now_ms(), button,
                                   pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
            if (wl_resource_get_version(p) >= 5) wl_pointer_send_frame(p);
        }
    });
}

void ScriptedCompositor::keyboard_enter() {
    call([this] {
        wl_resource* surface = toplevel_surface(state_.get());
        if (!surface) return;
        xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_rule_names names{"evdev", "pc105", "us", nullptr, nullptr};
        xkb_keymap* km = ctx ? xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
        char* text = km ? xkb_keymap_get_as_string(km, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
        for (wl_resource* k : state_->keyboards) {
            if (text) {
                size_t size = strlen(text) + 1;
                int fd = memfd_create("keymap", MFD_CLOEXEC);
                if (fd >= 0 && write(fd, text, size) == ssize_t(size))
                    wl_keyboard_send_keymap(k, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
                if (fd >= 0) close(fd);
            }
            wl_array keys;
            wl_array_init(&keys);
            wl_keyboard_send_enter(k, state_->serial++, surface, &keys);
            wl_array_release(&keys);
        }
        free(text);
        xkb_keymap_unref(km);
        xkb_context_unref(ctx);
    });
}

void ScriptedCompositor::key(uint32_t code, bool pressed) {
    call([this, code, pressed] {
        for (wl_resource* k : state_->keyboards)
            wl_keyboard_send_key(k, state_->serial++, now_ms(), code,
                                 pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    });
}

void ScriptedCompositor::repeat_info(int32_t rate, int32_t delay) {
    call([this, rate, delay] {
        for (wl_resource* k : state_->keyboards)
            if (wl_resource_get_version(k) >= 4) wl_keyboard_send_repeat_info(k, rate, delay);
    });
}

void ScriptedCompositor::touch_down(int32_t id, double x, double y) {
    call([this, id, x, y] {
        wl_resource* surface = toplevel_surface(state_.get());
        if (!surface) return;
        for (wl_resource* t : state_->touches) {
            wl_touch_send_down(t, state_->serial++, now_ms(), surface, id, wl_fixed_from_double(x),
                               wl_fixed_from_double(y));
            wl_touch_send_frame(t);
        }
    });
}

void ScriptedCompositor::touch_motion(int32_t id, double x, double y) {
    call([this, id, x, y] {
        for (wl_resource* t : state_->touches) {
            wl_touch_send_motion(t, now_ms(), id, wl_fixed_from_double(x), wl_fixed_from_double(y));
            wl_touch_send_frame(t);
        }
    });
}

void ScriptedCompositor::touch_up(int32_t id) {
    call([this, id] {
        for (wl_resource* t : state_->touches) {
            wl_touch_send_up(t, state_->serial++, now_ms(), id);
            wl_touch_send_frame(t);
        }
    });
}

void ScriptedCompositor::touch_cancel() {
    call([this] {
        for (wl_resource* t : state_->touches) wl_touch_send_cancel(t);
    });
}

bool ScriptedCompositor::has_devices(uint32_t caps) {
    bool all = false;
    call([&] {
        all = (!(caps & 1) || !state_->pointers.empty()) && (!(caps & 2) || !state_->keyboards.empty()) &&
              (!(caps & 4) || !state_->touches.empty());
    });
    return all;
}

}  // namespace zem::test
