// The codec of "session.json": the strict reader and the compact writer.

#include <zem/shell/session_file.hpp>

#include <base/json.hpp>
#include <base/utf8.hpp>

#include <set>

namespace zem {

namespace {

namespace json = base::json;

constexpr std::string_view kFields[] = {"version", "session_id", "clean_exit", "pid"};

// The typed reader checks only the names it knows; a repeated unknown key is
// just as much a sign of a damaged file.
std::optional<json::Error> repeated_key(const json::Value& v) {
    if (!v.is_object()) return std::nullopt;
    std::set<std::string_view> seen;
    for (const json::Member& m : v.object)
        if (!seen.insert(m.key).second) return json::duplicate_field(m.key, m.key_end);
    return std::nullopt;
}

}  // namespace

std::expected<SessionFile, std::string> parse_session_file(std::string_view bytes) {
    auto value = json::parse(bytes);
    if (!value) return std::unexpected(value.error().text());
    if (auto dup = repeated_key(*value)) return std::unexpected(dup->text());
    auto rec = json::Record::open(*value, "struct SessionFile", kFields);
    if (!rec) return std::unexpected(rec.error().text());
    SessionFile f;
    auto version = rec->get(0, json::get_u32);
    if (!version) return std::unexpected(version.error().text());
    auto id = rec->get_optional(1, json::get_string);
    if (!id) return std::unexpected(id.error().text());
    auto clean = rec->get(2, json::get_bool);
    if (!clean) return std::unexpected(clean.error().text());
    auto pid = rec->get(3, json::get_u32);
    if (!pid) return std::unexpected(pid.error().text());
    f.version = *version;
    f.session_id = std::move(*id);
    f.clean_exit = *clean;
    f.pid = *pid;
    return f;
}

std::expected<std::string, std::string> encode_session_file(const SessionFile& file) {
    // The reader refuses what is not UTF-8; writing it would only make a
    // file that the next start calls damaged.
    if (file.session_id && !base::utf8::is_valid(*file.session_id))
        return std::unexpected(std::string("session_id is not valid UTF-8"));
    std::string out;
    json::Writer w(out);
    w.begin_object();
    w.key("version").number(file.version);
    w.key("session_id");
    if (file.session_id) w.string(*file.session_id);
    else w.null();
    w.key("clean_exit").boolean(file.clean_exit);
    w.key("pid").number(file.pid);
    w.end_object();
    return out;
}

}  // namespace zem
