// The clipboard and dropped text. Copying hands the compositor a source that
// serves the text as it was when the user copied; a new selection is read
// into `clipboard_text`. Every transfer runs on the loop without blocking it:
// a paste target that never reads, or a source that never finishes, costs
// one descriptor until its time-out, never a frozen window.
#include <zem/shell/text_fields.hpp>

#include <base/utf8.hpp>

#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/epoll.h>
#include <unistd.h>
#include <vector>

namespace zem {

namespace {

constexpr std::size_t kReadLimit = 16777216;
constexpr auto kSendTimeout = std::chrono::seconds(10);  // without progress
constexpr auto kReadTimeout = std::chrono::seconds(5);   // without data

// What we offer, in this order, and what we take, best first.
constexpr std::array<const char*, 3> kOffered = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"};
constexpr std::array<const char*, 4> kDropPreference = {"text/uri-list", "text/plain;charset=utf-8", "text/plain",
                                                        "UTF8_STRING"};

}  // namespace

struct AppData::Clipboard {
    AppData* d = nullptr;
    wl_data_device* device = nullptr;
    wl_data_source* source = nullptr;
    WipingString served;  // what the user copied; may come from a password field

    // Offers announced by the compositor and the types each carries.
    std::map<wl_data_offer*, std::vector<std::string>> offers;
    wl_data_offer* selection = nullptr;
    wl_data_offer* drag = nullptr;
    std::optional<std::string> drag_mime;
    std::uint32_t drag_serial = 0;

    // One transfer in flight on the loop: a send of ours or a read.
    struct Transfer {
        int fd = -1;
        event_loop::SourceId source = 0;
        event_loop::TimerId timer = 0;
        event_loop::Instant last_progress;
        std::string data;        // to send, or read so far
        std::size_t offset = 0;  // sent so far
        std::uint64_t generation = 0;
        bool discard = false;  // a drop: read, then thrown away
    };
    std::map<int, Transfer> sends;
    std::optional<Transfer> read;  // the current selection's read, at most one
    std::vector<Transfer> drops;
    std::uint64_t generation = 0;

    void end_transfer(Transfer& t) {
        if (d->reactor != nullptr) {
            if (t.source != 0) d->reactor->remove_source(t.source);
            if (t.timer != 0) d->reactor->remove_timer(t.timer);
        }
        if (t.fd >= 0) close(t.fd);
        t.fd = -1;
        t.source = t.timer = 0;
    }
    ~Clipboard() {
        for (auto& [fd, t] : sends) end_transfer(t);
        if (read) end_transfer(*read);
        for (auto& t : drops) end_transfer(t);
        for (auto& [offer, mimes] : offers) wl_data_offer_destroy(offer);
        if (source != nullptr) wl_data_source_destroy(source);
        if (device != nullptr) {
            if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(device)) >= WL_DATA_DEVICE_RELEASE_SINCE_VERSION)
                wl_data_device_release(device);
            else
                wl_data_device_destroy(device);
        }
    }
};

void AppData::ClipboardDeleter::operator()(Clipboard* c) const { delete c; }

namespace {

using Clip = AppData::Clipboard;
using Transfer = Clip::Transfer;

Clip& clip_of(void* p) { return *static_cast<AppData*>(p)->clipboard; }

// --- sending our selection -------------------------------------------------

void finish_send(Clip& c, int fd) {
    auto it = c.sends.find(fd);
    if (it == c.sends.end()) return;
    c.end_transfer(it->second);
    c.sends.erase(it);
}

// Writes what the pipe takes; true when the transfer is over.
bool pump_send(Transfer& t) {
    while (t.offset < t.data.size()) {
        ssize_t n = write(t.fd, t.data.data() + t.offset, std::min<std::size_t>(t.data.size() - t.offset, 65536));
        if (n > 0) {
            t.offset += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        return true;  // EPIPE and every other error: the reader is gone
    }
    return true;
}

void source_target(void*, wl_data_source*, const char*) {}
void source_send(void* p, wl_data_source* src, const char*, int32_t fd) {
    Clip& c = clip_of(p);
    if (src != c.source || c.d->reactor == nullptr) {
        close(fd);
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    Transfer t;
    t.fd = fd;
    t.data = c.served.str();
    t.last_progress = c.d->reactor->now();
    if (pump_send(t)) {
        close(fd);
        return;
    }
    auto& stored = c.sends[fd] = std::move(t);
    Clip* cp = &c;
    auto id = c.d->reactor->add_fd(fd, EPOLLOUT, [cp, fd](uint32_t) -> event_loop::Status {
        auto it = cp->sends.find(fd);
        if (it == cp->sends.end()) return {};
        std::size_t before = it->second.offset;
        if (pump_send(it->second)) finish_send(*cp, fd);
        else if (it->second.offset != before) it->second.last_progress = cp->d->reactor->now();
        return {};
    });
    if (!id) {
        finish_send(c, fd);
        return;
    }
    stored.source = *id;
    stored.timer = c.d->reactor->add_timer(stored.last_progress + kSendTimeout,
                                           [cp, fd](event_loop::Instant now) -> event_loop::TimerNext {
                                               auto it = cp->sends.find(fd);
                                               if (it == cp->sends.end()) return std::nullopt;
                                               auto due = it->second.last_progress + kSendTimeout;
                                               if (now < due) return due;
                                               it->second.timer = 0;  // this timer ends with the transfer
                                               finish_send(*cp, fd);
                                               return std::nullopt;
                                           });
}
void source_cancelled(void* p, wl_data_source* src) {
    Clip& c = clip_of(p);
    if (src != c.source) return;
    wl_data_source_destroy(src);
    c.source = nullptr;
}
void source_ignored(void*, wl_data_source*) {}
void source_action(void*, wl_data_source*, uint32_t) {}
const wl_data_source_listener kSourceListener = {source_target,  source_send,    source_cancelled,
                                                 source_ignored, source_ignored, source_action};

// --- reading a selection or a drop ------------------------------------------

// Asks the offer for `mime` through a fresh pipe; our read end, or -1.
int receive(wl_data_offer* offer, const char* mime) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return -1;
    // Only our end polls; the writer gets an ordinary blocking descriptor.
    fcntl(p[0], F_SETFL, fcntl(p[0], F_GETFL) | O_NONBLOCK);
    wl_data_offer_receive(offer, mime, p[1]);
    // Our copy of the write end must go now, or the read never sees its end.
    close(p[1]);
    return p[0];
}

const char* pick(const std::vector<std::string>& have, const char* const* want, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (std::find(have.begin(), have.end(), want[i]) != have.end()) return want[i];
    return nullptr;
}

// A read finished: the selection's text replaces the clipboard's only when
// it is whole, valid UTF-8 and of the current selection.
void finish_read(Clip& c, bool ok) {
    if (!c.read) return;
    Transfer t = std::move(*c.read);
    c.read.reset();
    c.end_transfer(t);
    if (ok && t.generation == c.generation && t.data.size() <= kReadLimit && base::utf8::is_valid(t.data))
        c.d->clipboard_text = std::move(t.data);
}

// Reads what is there; true when the transfer is over, `ok` false on error.
bool pump_read(Transfer& t, bool& ok) {
    char buf[65536];
    ssize_t n = ::read(t.fd, buf, sizeof buf);
    if (n > 0) {
        if (t.data.size() + static_cast<std::size_t>(n) > kReadLimit) {
            ok = false;
            return true;
        }
        t.data.append(buf, static_cast<std::size_t>(n));
        return false;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
    ok = n == 0;
    return true;
}

template <class Find, class Done>
bool watch_read(Clip& c, Transfer& t, Find find, Done done) {
    if (c.d->reactor == nullptr) return false;
    auto id = c.d->reactor->add_fd(t.fd, EPOLLIN, [&c, find, done](uint32_t) -> event_loop::Status {
        Transfer* tr = find();
        if (tr == nullptr) return {};
        bool ok = true;
        if (pump_read(*tr, ok)) done(ok);
        else tr->last_progress = c.d->reactor->now();
        return {};
    });
    if (!id) return false;
    t.source = *id;
    t.last_progress = c.d->reactor->now();
    t.timer = c.d->reactor->add_timer(t.last_progress + kReadTimeout,
                                      [&c, find, done](event_loop::Instant now) -> event_loop::TimerNext {
                                          Transfer* tr = find();
                                          if (tr == nullptr) return std::nullopt;
                                          auto due = tr->last_progress + kReadTimeout;
                                          if (now < due) return due;
                                          tr->timer = 0;
                                          done(false);
                                          return std::nullopt;
                                      });
    return true;
}

void start_selection_read(Clip& c, wl_data_offer* offer) {
    // A newer selection abandons the read of an older one.
    if (c.read) {
        c.end_transfer(*c.read);
        c.read.reset();
    }
    ++c.generation;
    auto it = c.offers.find(offer);
    if (it == c.offers.end()) return;
    const char* mime = pick(it->second, kOffered.data(), kOffered.size());
    if (mime == nullptr) return;
    int fd = receive(offer, mime);
    if (fd < 0) return;
    c.read = Transfer{};
    c.read->fd = fd;
    c.read->generation = c.generation;
    Clip* cp = &c;
    auto find = [cp]() -> Transfer* { return cp->read ? &*cp->read : nullptr; };
    auto done = [cp](bool ok) { finish_read(*cp, ok); };
    if (!watch_read(c, *c.read, find, done)) finish_read(c, false);
}

void forget_offer(Clip& c, wl_data_offer* offer) {
    if (offer == nullptr) return;
    c.offers.erase(offer);
    wl_data_offer_destroy(offer);
}

void offer_offer(void* p, wl_data_offer* offer, const char* mime) {
    Clip& c = clip_of(p);
    if (auto it = c.offers.find(offer); it != c.offers.end()) it->second.emplace_back(mime);
}
void offer_source_actions(void*, wl_data_offer*, uint32_t) {}
void offer_action(void*, wl_data_offer*, uint32_t) {}
const wl_data_offer_listener kOfferListener = {offer_offer, offer_source_actions, offer_action};

void device_data_offer(void* p, wl_data_device*, wl_data_offer* offer) {
    Clip& c = clip_of(p);
    c.offers[offer];
    wl_data_offer_add_listener(offer, &kOfferListener, p);
}
void device_enter(void* p, wl_data_device*, uint32_t serial, wl_surface*, wl_fixed_t, wl_fixed_t,
                  wl_data_offer* offer) {
    Clip& c = clip_of(p);
    if (c.drag != offer) forget_offer(c, c.drag);
    c.drag = offer;
    c.drag_mime.reset();
    if (offer == nullptr) return;
    auto it = c.offers.find(offer);
    const char* mime = it == c.offers.end() ? nullptr : pick(it->second, kDropPreference.data(), kDropPreference.size());
    // The protocol pairs `accept` with the serial of this enter.
    c.drag_serial = serial;
    wl_data_offer_accept(offer, serial, mime);
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(offer)) >= WL_DATA_OFFER_SET_ACTIONS_SINCE_VERSION)
        wl_data_offer_set_actions(offer, WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY, WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY);
    if (mime != nullptr) c.drag_mime = mime;
}
void device_leave(void* p, wl_data_device*) {
    Clip& c = clip_of(p);
    forget_offer(c, c.drag);
    c.drag = nullptr;
    c.drag_mime.reset();
}
void device_motion(void*, wl_data_device*, uint32_t, wl_fixed_t, wl_fixed_t) {}
void device_drop(void* p, wl_data_device*) {
    Clip& c = clip_of(p);
    wl_data_offer* offer = c.drag;
    if (offer == nullptr || !c.drag_mime) return;
    int fd = receive(offer, c.drag_mime->c_str());
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(offer)) >= WL_DATA_OFFER_FINISH_SINCE_VERSION)
        wl_data_offer_finish(offer);
    c.drag = nullptr;
    c.drag_mime.reset();
    forget_offer(c, offer);
    if (fd < 0) return;
    // Dropped text is read to its end (the source expects a reader) and then
    // discarded: no application operation takes it.
    Transfer t;
    t.fd = fd;
    t.discard = true;
    c.drops.push_back(std::move(t));
    Clip* cp = &c;
    auto find = [cp, fd]() -> Transfer* {
        for (auto& tr : cp->drops)
            if (tr.fd == fd) return &tr;
        return nullptr;
    };
    auto done = [cp, fd](bool) {
        auto it = std::find_if(cp->drops.begin(), cp->drops.end(), [fd](const Transfer& tr) { return tr.fd == fd; });
        if (it == cp->drops.end()) return;
        cp->end_transfer(*it);
        cp->drops.erase(it);
    };
    if (!watch_read(c, c.drops.back(), find, done)) done(false);
}
void device_selection(void* p, wl_data_device*, wl_data_offer* offer) {
    Clip& c = clip_of(p);
    if (c.selection != nullptr && c.selection != offer) forget_offer(c, c.selection);
    c.selection = offer;
    // No selection keeps the text we have: in-app paste still works.
    if (offer == nullptr) {
        if (c.read) {
            c.end_transfer(*c.read);
            c.read.reset();
        }
        ++c.generation;
        return;
    }
    start_selection_read(c, offer);
}
const wl_data_device_listener kDeviceListener = {device_data_offer, device_enter, device_leave,
                                                 device_motion,     device_drop,  device_selection};

}  // namespace

void clipboard_start(AppData& d) {
    if (d.clipboard || d.data_device_manager == nullptr || d.seats.empty()) return;
    std::unique_ptr<AppData::Clipboard, AppData::ClipboardDeleter> c(new AppData::Clipboard);
    c->d = &d;
    c->device = wl_data_device_manager_get_data_device(d.data_device_manager, d.seats.front().seat);
    wl_data_device_add_listener(c->device, &kDeviceListener, &d);
    d.clipboard = std::move(c);
}

void offer_clipboard_text(AppData& d, std::uint32_t serial) {
    clipboard_start(d);
    if (!d.clipboard) return;  // in-app paste still has `clipboard_text`
    Clip& c = *d.clipboard;
    wl_data_source* src = wl_data_device_manager_create_data_source(d.data_device_manager);
    wl_data_source_add_listener(src, &kSourceListener, &d);
    for (const char* mime : kOffered) wl_data_source_offer(src, mime);
    c.served = std::string_view(d.clipboard_text);
    wl_data_device_set_selection(c.device, src, serial);
    if (c.source != nullptr) wl_data_source_destroy(c.source);
    c.source = src;
}

bool clipboard_read_pending(const AppData& d) { return d.clipboard && d.clipboard->read.has_value(); }

}  // namespace zem
