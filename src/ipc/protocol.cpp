#include "ipc/protocol.hpp"

#include <base/utf8.hpp>

#include <base/json.hpp>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace ipc {

namespace json = base::json;

namespace {

template <class... F>
struct overloaded : F... {
    using F::operator()...;
};
// Spelled out for compilers without deduction for aggregates (clang 16,
// which builds the fuzz targets).
template <class... F>
overloaded(F...) -> overloaded<F...>;

constexpr std::string_view kPhases[] = {"Partition", "Format", "Copy", "Bootloader", "Finalize"};
constexpr std::string_view kModes[] = {"WholeDisk", "Partition", "FreeSpace"};
constexpr std::string_view kOps[] = {"Wipe", "Delete", "Resize", "Create"};
constexpr std::string_view kCommands[] = {"install",      "cancel_install", "disk_ops",
                                          "apply_locale", "stage_account",  "finish_configure"};
constexpr std::string_view kEvents[] = {"progress", "done", "failed"};

constexpr std::string_view kPlanFields[] = {"disk", "mode", "locale", "account", "encrypt", "test"};
constexpr std::string_view kAccountFields[] = {"username", "hostname", "password"};
constexpr std::string_view kWipeFields[] = {"disk"};
constexpr std::string_view kDeleteFields[] = {"disk", "numbers"};
constexpr std::string_view kResizeFields[] = {"disk", "part", "number", "current_bytes", "new_bytes", "fs"};
constexpr std::string_view kCreateFields[] = {"disk", "start_byte", "size_bytes"};
constexpr std::string_view kInstallFields[] = {"plan"};
constexpr std::string_view kDiskOpsFields[] = {"ops"};
constexpr std::string_view kLocaleFields[] = {"locale"};
constexpr std::string_view kStageFields[] = {"username", "hostname", "password", "encrypt"};
constexpr std::string_view kProgressFields[] = {"phase", "fraction"};
constexpr std::string_view kFailedFields[] = {"message"};

}  // namespace

std::string_view phase_name(InstallPhase p) { return kPhases[static_cast<std::size_t>(p)]; }

std::string debug_string(const TargetMode& m) {
    return std::visit(overloaded{
                          [](const TargetMode::WholeDisk&) { return std::string("WholeDisk"); },
                          [](const TargetMode::Partition& p) {
                              return "Partition(" + std::to_string(p.number) + ")";
                          },
                          [](const TargetMode::FreeSpace& f) {
                              return "FreeSpace(" + std::to_string(f.start) + ", " +
                                     std::to_string(f.size) + ")";
                          },
                      },
                      m.kind);
}

// ---------------------------------------------------------------------------
// Encoding
// ---------------------------------------------------------------------------

namespace {

// Builds one message; the first value that cannot travel as UTF-8 decides
// the error, and the text is then discarded.
class Encoder {
public:
    Encoder() : w_(out_) { out_.reserve(128); }

    json::Writer& w() { return w_; }

    void path(const std::filesystem::path& p) {
        const std::string& s = p.native();
        if (!base::utf8::is_valid(s) && error_.empty()) error_ = "path contains invalid UTF-8 characters";
        w_.string(s);
    }
    void text(std::string_view s) {
        if (!base::utf8::is_valid(s) && error_.empty()) error_ = "text contains invalid UTF-8 characters";
        w_.string(s);
    }

    void account(const AccountSetup& a) {
        w_.begin_object();
        w_.key("username");
        text(a.username);
        w_.key("hostname");
        text(a.hostname);
        w_.key("password");
        text(a.password);
        w_.end_object();
    }

    void mode(const TargetMode& m) {
        std::visit(overloaded{
                       [&](const TargetMode::WholeDisk&) { w_.string("WholeDisk"); },
                       [&](const TargetMode::Partition& p) {
                           w_.begin_object().key("Partition").number(p.number).end_object();
                       },
                       [&](const TargetMode::FreeSpace& f) {
                           w_.begin_object().key("FreeSpace").begin_array();
                           w_.number(f.start).number(f.size);
                           w_.end_array().end_object();
                       },
                   },
                   m.kind);
    }

    void plan(const InstallPlan& p) {
        w_.begin_object();
        w_.key("disk");
        path(p.disk);
        w_.key("mode");
        mode(p.mode);
        w_.key("locale");
        text(p.locale);
        w_.key("account");
        if (p.account)
            account(*p.account);
        else
            w_.null();
        w_.key("encrypt").boolean(p.encrypt);
        w_.key("test").boolean(p.test);
        w_.end_object();
    }

    void op(const RemoteDiskOp& o) {
        w_.begin_object();
        std::visit(overloaded{
                       [&](const RemoteDiskOp::Wipe& k) {
                           w_.key("Wipe").begin_object().key("disk");
                           path(k.disk);
                           w_.end_object();
                       },
                       [&](const RemoteDiskOp::Delete& k) {
                           w_.key("Delete").begin_object().key("disk");
                           path(k.disk);
                           w_.key("numbers").begin_array();
                           for (std::uint32_t n : k.numbers) w_.number(n);
                           w_.end_array().end_object();
                       },
                       [&](const RemoteDiskOp::Resize& k) {
                           w_.key("Resize").begin_object().key("disk");
                           path(k.disk);
                           w_.key("part");
                           path(k.part);
                           w_.key("number").number(k.number);
                           w_.key("current_bytes").number(k.current_bytes);
                           w_.key("new_bytes").number(k.new_bytes);
                           w_.key("fs");
                           if (k.fs)
                               text(*k.fs);
                           else
                               w_.null();
                           w_.end_object();
                       },
                       [&](const RemoteDiskOp::Create& k) {
                           w_.key("Create").begin_object().key("disk");
                           path(k.disk);
                           w_.key("start_byte").number(k.start_byte);
                           w_.key("size_bytes").number(k.size_bytes);
                           w_.end_object();
                       },
                   },
                   o.kind);
        w_.end_object();
    }

    std::expected<std::string, std::string> finish() {
        if (!error_.empty()) return std::unexpected(error_);
        return std::move(out_);
    }

private:
    std::string out_;
    json::Writer w_;
    std::string error_;
};

}  // namespace

std::expected<std::string, std::string> encode(const Request& r) {
    Encoder e;
    auto& w = e.w();
    w.begin_object().key("cmd").string(kCommands[r.kind.index()]);
    std::visit(overloaded{
                   [&](const Request::Install& k) {
                       w.key("plan");
                       e.plan(k.plan);
                   },
                   [&](const Request::CancelInstall&) {},
                   [&](const Request::DiskOps& k) {
                       w.key("ops").begin_array();
                       for (const RemoteDiskOp& o : k.ops) e.op(o);
                       w.end_array();
                   },
                   [&](const Request::ApplyLocale& k) {
                       w.key("locale");
                       e.text(k.locale);
                   },
                   [&](const Request::StageAccount& k) {
                       w.key("username");
                       e.text(k.username);
                       w.key("hostname");
                       e.text(k.hostname);
                       w.key("password");
                       e.text(k.password);
                       w.key("encrypt").boolean(k.encrypt);
                   },
                   [&](const Request::FinishConfigure&) {},
               },
               r.kind);
    w.end_object();
    return e.finish();
}

std::expected<std::string, std::string> encode(const Event& ev) {
    Encoder e;
    auto& w = e.w();
    w.begin_object().key("event").string(kEvents[ev.kind.index()]);
    std::visit(overloaded{
                   [&](const Event::Progress& k) {
                       w.key("phase").string(phase_name(k.phase));
                       w.key("fraction").number_f32(k.fraction);
                   },
                   [&](const Event::Done&) {},
                   [&](const Event::Failed& k) {
                       w.key("message");
                       e.text(k.message);
                   },
               },
               ev.kind);
    w.end_object();
    return e.finish();
}

namespace {

std::expected<void, std::string> write_all(int fd, std::string_view bytes) {
    bool socket = true;
    while (!bytes.empty()) {
        ssize_t n = socket ? ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)
                           : ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            if (socket && errno == ENOTSOCK) {
                socket = false;
                continue;
            }
            return std::unexpected(std::string("write to daemon: ") + std::strerror(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

template <class M>
std::expected<void, std::string> write_message(int fd, const M& m) {
    auto text = encode(m);
    if (!text) return std::unexpected("encode request: " + text.error());
    text->push_back('\n');
    return write_all(fd, *text);
}

}  // namespace

std::expected<void, std::string> write_line(int fd, const Request& r) { return write_message(fd, r); }
std::expected<void, std::string> write_line(int fd, const Event& e) { return write_message(fd, e); }

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

namespace {

template <class T>
using R = json::Result<T>;

#define TRY(var, expr)                                   \
    auto var##_r = (expr);                               \
    if (!var##_r) return std::unexpected(var##_r.error()); \
    auto var = std::move(*var##_r)

R<std::filesystem::path> get_path(const json::Value& v) {
    if (!v.is_string()) return std::unexpected(json::invalid_type(v, "path string"));
    return std::filesystem::path(v.string);
}

json::Error unit_given(const json::Value& v, std::string_view expected) {
    return {"invalid type: unit variant, expected " + std::string(expected), v.end};
}

// Data given to a kind that carries none must be null.
std::optional<json::Error> no_data(const json::Variant& var) {
    if (var.data && !var.data->is_null()) return json::invalid_type(*var.data, "unit");
    return std::nullopt;
}

R<InstallPhase> get_phase(const json::Value& v) {
    TRY(var, json::external_variant(v, kPhases, true));
    if (auto e = no_data(var)) return std::unexpected(*e);
    return static_cast<InstallPhase>(var.index);
}

R<TargetMode> get_mode(const json::Value& v) {
    TRY(var, json::external_variant(v, kModes, true));
    switch (var.index) {
    case 0:
        if (auto e = no_data(var)) return std::unexpected(*e);
        return TargetMode::WholeDisk{};
    case 1: {
        if (!var.data) return std::unexpected(unit_given(v, "newtype variant"));
        TRY(n, json::get_u32(*var.data));
        return TargetMode::Partition{n};
    }
    default: {
        if (!var.data) return std::unexpected(unit_given(v, "tuple variant"));
        const json::Value& d = *var.data;
        constexpr std::string_view desc = "tuple variant TargetMode::FreeSpace";
        if (!d.is_array()) return std::unexpected(json::invalid_type(d, desc));
        if (d.array.size() != 2)
            return std::unexpected(
                json::invalid_length(d.array.size(), json::with_elements(desc, 2), d.end));
        TRY(start, json::get_u64(d.array[0]));
        TRY(size, json::get_u64(d.array[1]));
        return TargetMode::FreeSpace{start, size};
    }
    }
}

R<AccountSetup> get_account(const json::Value& v) {
    TRY(rec, json::Record::open(v, "struct AccountSetup", kAccountFields));
    TRY(username, rec.get(0, json::get_string));
    TRY(hostname, rec.get(1, json::get_string));
    TRY(password, rec.get(2, json::get_string));
    return AccountSetup{std::move(username), std::move(hostname), std::move(password)};
}

R<InstallPlan> get_plan(const json::Value& v) {
    TRY(rec, json::Record::open(v, "struct InstallPlan", kPlanFields));
    InstallPlan p;
    TRY(disk, rec.get(0, get_path));
    TRY(mode, rec.get(1, get_mode));
    TRY(locale, rec.get(2, json::get_string));
    TRY(account, rec.get_optional(3, get_account));
    TRY(encrypt, rec.get(4, json::get_bool));
    TRY(test, rec.get(5, json::get_bool));
    p.disk = std::move(disk);
    p.mode = mode;
    p.locale = std::move(locale);
    p.account = std::move(account);
    p.encrypt = encrypt;
    p.test = test;
    return p;
}

R<RemoteDiskOp> get_op(const json::Value& v) {
    TRY(var, json::external_variant(v, kOps, true));
    if (!var.data) return std::unexpected(unit_given(v, "struct variant"));
    const json::Value& d = *var.data;
    switch (var.index) {
    case 0: {
        TRY(rec, json::Record::open(d, "struct variant RemoteDiskOp::Wipe", kWipeFields));
        TRY(disk, rec.get(0, get_path));
        return RemoteDiskOp::Wipe{std::move(disk)};
    }
    case 1: {
        TRY(rec, json::Record::open(d, "struct variant RemoteDiskOp::Delete", kDeleteFields));
        TRY(disk, rec.get(0, get_path));
        TRY(numbers, rec.get(1, [](const json::Value& x) { return json::get_list(x, json::get_u32); }));
        return RemoteDiskOp::Delete{std::move(disk), std::move(numbers)};
    }
    case 2: {
        TRY(rec, json::Record::open(d, "struct variant RemoteDiskOp::Resize", kResizeFields));
        RemoteDiskOp::Resize k;
        TRY(disk, rec.get(0, get_path));
        TRY(part, rec.get(1, get_path));
        TRY(number, rec.get(2, json::get_u32));
        TRY(current, rec.get(3, json::get_u64));
        TRY(wanted, rec.get(4, json::get_u64));
        TRY(fs, rec.get_optional(5, json::get_string));
        k.disk = std::move(disk);
        k.part = std::move(part);
        k.number = number;
        k.current_bytes = current;
        k.new_bytes = wanted;
        k.fs = std::move(fs);
        return k;
    }
    default: {
        TRY(rec, json::Record::open(d, "struct variant RemoteDiskOp::Create", kCreateFields));
        TRY(disk, rec.get(0, get_path));
        TRY(start, rec.get(1, json::get_u64));
        TRY(size, rec.get(2, json::get_u64));
        return RemoteDiskOp::Create{std::move(disk), start, size};
    }
    }
}

// An internally tagged union: an object holding the tag key among the
// kind's own keys, or an array whose first element is the tag followed by
// the kind's field values.
R<std::size_t> get_tag(const json::Value& v, std::string_view tag_key,
                       std::span<const std::string_view> names, std::string_view description) {
    const json::Value* tag = nullptr;
    if (v.is_object()) {
        for (const json::Member& m : v.object) {
            if (m.key != tag_key) continue;
            if (tag) return std::unexpected(json::duplicate_field(tag_key, m.key_end));
            tag = &m.value;
        }
        if (!tag) return std::unexpected(json::missing_field(tag_key, v.end));
    } else if (v.is_array()) {
        if (v.array.empty())
            return std::unexpected(json::invalid_length(0, description, v.end));
        tag = &v.array.front();
    } else {
        return std::unexpected(json::invalid_type(v, description));
    }
    return json::variant_index(*tag, names, false);
}

R<json::Record> fields_of(const json::Value& v, std::string_view description,
                          std::span<const std::string_view> fields, std::string_view tag_key) {
    return json::Record::open_inner(v, description, fields, tag_key, 1);
}

R<Request> get_request(const json::Value& v) {
    TRY(index, get_tag(v, "cmd", kCommands, "internally tagged enum Request"));
    switch (index) {
    case 0: {
        TRY(rec, fields_of(v, "struct variant Request::Install", kInstallFields, "cmd"));
        TRY(plan, rec.get(0, get_plan));
        return Request::Install{std::move(plan)};
    }
    case 1: return Request::CancelInstall{};
    case 2: {
        TRY(rec, fields_of(v, "struct variant Request::DiskOps", kDiskOpsFields, "cmd"));
        TRY(ops, rec.get(0, [](const json::Value& x) { return json::get_list(x, get_op); }));
        return Request::DiskOps{std::move(ops)};
    }
    case 3: {
        TRY(rec, fields_of(v, "struct variant Request::ApplyLocale", kLocaleFields, "cmd"));
        TRY(locale, rec.get(0, json::get_string));
        return Request::ApplyLocale{std::move(locale)};
    }
    case 4: {
        TRY(rec, fields_of(v, "struct variant Request::StageAccount", kStageFields, "cmd"));
        TRY(username, rec.get(0, json::get_string));
        TRY(hostname, rec.get(1, json::get_string));
        TRY(password, rec.get(2, json::get_string));
        TRY(encrypt, rec.get(3, json::get_bool));
        return Request::StageAccount{std::move(username), std::move(hostname), std::move(password),
                                     encrypt};
    }
    default: return Request::FinishConfigure{};
    }
}

R<Event> get_event(const json::Value& v) {
    TRY(index, get_tag(v, "event", kEvents, "internally tagged enum Event"));
    switch (index) {
    case 0: {
        TRY(rec, fields_of(v, "struct variant Event::Progress", kProgressFields, "event"));
        TRY(phase, rec.get(0, get_phase));
        TRY(fraction, rec.get(1, json::get_f32));
        return Event::Progress{phase, fraction};
    }
    case 1: return Event::Done{};
    default: {
        TRY(rec, fields_of(v, "struct variant Event::Failed", kFailedFields, "event"));
        TRY(message, rec.get(0, json::get_string));
        return Event::Failed{std::move(message)};
    }
    }
}

#undef TRY

template <class T, class F>
std::expected<T, std::string> deserialize_with(std::string_view text, F decode) {
    auto v = json::parse(text);
    if (!v) return std::unexpected(v.error().text());
    auto r = decode(*v);
    if (!r) return std::unexpected(r.error().text());
    return std::move(*r);
}

}  // namespace

std::expected<Request, std::string> Request::deserialize(std::string_view text) {
    return deserialize_with<Request>(text, get_request);
}

std::expected<Event, std::string> Event::deserialize(std::string_view text) {
    return deserialize_with<Event>(text, get_event);
}

// ---------------------------------------------------------------------------
// Framing
// ---------------------------------------------------------------------------

LineReader::LineReader(int fd, std::size_t max_line) : fd_(fd), max_line_(max_line) {}

LineReader::Result LineReader::next() {
    std::size_t scanned = pos_;
    while (true) {
        std::size_t nl = buffer_.find('\n', scanned);
        if (nl != std::string::npos) {
            if (nl - pos_ > max_line_) return {Status::TooLong, {}, {}};
            std::string line = buffer_.substr(pos_, nl - pos_);
            pos_ = nl + 1;
            if (!base::utf8::is_valid(line)) return {Status::Failed, {}, std::string(INVALID_UTF8)};
            return {Status::Line, std::move(line), {}};
        }
        if (buffer_.size() - pos_ > max_line_) return {Status::TooLong, {}, {}};
        if (eof_) {
            if (pos_ == buffer_.size()) return {Status::End, {}, {}};
            std::string line = buffer_.substr(pos_);
            pos_ = buffer_.size();
            if (!base::utf8::is_valid(line)) return {Status::Failed, {}, std::string(INVALID_UTF8)};
            return {Status::Line, std::move(line), {}};
        }
        // Drop what was handed out before reading more.
        buffer_.erase(0, pos_);
        pos_ = 0;
        scanned = buffer_.size();
        char chunk[READ_BUFFER_SIZE];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {Status::Failed, {}, std::strerror(errno)};
        }
        if (n == 0)
            eof_ = true;
        else
            buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

RequestRead read_request(int fd) {
    LineReader reader(fd, MAX_REQUEST_LINE);
    LineReader::Result line = reader.next();
    RequestRead out;
    switch (line.status) {
    case LineReader::Status::Failed:
        out.status = RequestRead::Status::ReadFailed;
        out.error = line.error;
        return out;
    case LineReader::Status::TooLong:
        out.status = RequestRead::Status::BadRequest;
        out.error = "bad request: request line longer than " + std::to_string(MAX_REQUEST_LINE) + " bytes";
        return out;
    case LineReader::Status::End:
    case LineReader::Status::Line: break;
    }
    auto r = Request::deserialize(base::utf8::trim(line.line));
    if (!r) {
        out.status = RequestRead::Status::BadRequest;
        out.error = "bad request: " + r.error();
        return out;
    }
    out.status = RequestRead::Status::Ok;
    out.request = std::move(*r);
    return out;
}

std::expected<std::optional<Event>, std::string> EventReader::next() {
    while (true) {
        LineReader::Result line = lines_.next();
        switch (line.status) {
        case LineReader::Status::End: return std::nullopt;
        case LineReader::Status::Failed: return std::unexpected("read from daemon: " + line.error);
        case LineReader::Status::TooLong:  // no limit on this side
        case LineReader::Status::Line: break;
        }
        std::string_view text = line.line;
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (base::utf8::trim(text).empty()) continue;
        auto e = Event::deserialize(text);
        if (!e) return std::unexpected("bad event from daemon: " + e.error());
        return std::optional<Event>(std::move(*e));
    }
}

}  // namespace ipc
