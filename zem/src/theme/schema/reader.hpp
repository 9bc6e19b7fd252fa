#pragma once
// Building blocks of the theme document reader: value descriptions, the
// reader's messages, and records given as objects or as arrays.
//
// The reader runs on a document whose objects have unique keys (the loader
// keeps the last of duplicate keys), and its errors carry no position: they
// describe the already parsed document.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <base/json.hpp>
#include <zem/theme/color.hpp>

namespace zem::theme::schema {

namespace json = base::json;

using json::Value;
template <class T>
using Read = std::expected<T, std::string>;

// "unit value", "boolean `true`", "integer `5`", "floating point `1.5`",
// "string \"x\"", "sequence", "map".
std::string describe_value(const Value& v);
// "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string one_of(std::span<const std::string_view> names);

std::string type_error(const Value& v, std::string_view expected);
std::string value_error(const Value& v, std::string_view expected);
std::string length_error(std::size_t n, std::string_view expected);
std::string missing_error(std::string_view name);
std::string field_error(std::string_view name, std::span<const std::string_view> expected);
std::string variant_error(std::string_view name, std::span<const std::string_view> expected);

// The fields of one record.
class Fields {
public:
    struct Shape {
        std::string_view type;   // "struct RawShadow": what a wrong JSON type expected
        std::string_view array;  // "struct RawShadow with 5 elements"
        std::span<const std::string_view> names;
        bool deny_unknown = true;        // unknown keys fail (else they are ignored)
        std::span<const std::string_view> skip = {};  // keys that belong to an enclosing record
        std::size_t array_offset = 0;    // leading array elements that are not fields (a tag)
    };

    static Read<Fields> open(const Value& v, const Shape& shape);

    // Present and not null (null counts as absent only where optional_or_null
    // is used).
    const Value* get(std::size_t i) const { return values_[i]; }
    // The value, or the missing-field (object) or short-array error.
    Read<const Value*> required(std::size_t i) const;

    template <class F>
    auto req(std::size_t i, F&& decode) const -> decltype(decode(std::declval<const Value&>())) {
        auto v = required(i);
        if (!v) return std::unexpected(v.error());
        return decode(**v);
    }
    // Absent: the default; present (null included) decoded.
    template <class T, class F>
    Read<T> or_default(std::size_t i, T fallback, F&& decode) const {
        if (!values_[i]) return fallback;
        return decode(*values_[i]);
    }
    // Absent or null: none.
    template <class F>
    auto or_null(std::size_t i, F&& decode) const
        -> Read<std::optional<typename decltype(decode(std::declval<const Value&>()))::value_type>> {
        const Value* v = values_[i];
        if (!v || v->is_null()) return std::nullopt;
        auto r = decode(*v);
        if (!r) return std::unexpected(r.error());
        return std::optional(std::move(*r));
    }

private:
    std::vector<const Value*> values_;
    bool from_array_ = false;
    std::size_t available_ = 0;  // array elements after the offset
    const Shape* shape_ = nullptr;
};

Read<std::string> read_string(const Value& v);
Read<float> read_f32(const Value& v);
Read<std::uint16_t> read_u16(const Value& v);
Read<std::vector<std::string>> read_strings(const Value& v);
// A colour text parsed into a Color; its parser's message on failure.
Read<Color> deserialize_colour(const Value& v);
// Two numbers (an offset or a centre).
Read<std::array<float, 2>> read_pair(const Value& v);

// A keyword: the string itself, or an object whose only key is the keyword and
// whose value is null (or, where empty_object_unit, an empty object).
Read<std::size_t> read_keyword(const Value& v, std::span<const std::string_view> names, bool empty_object_unit);

template <class F>
auto read_list(const Value& v, F&& decode)
    -> Read<std::vector<typename decltype(decode(std::declval<const Value&>()))::value_type>> {
    using T = typename decltype(decode(std::declval<const Value&>()))::value_type;
    if (!v.is_array()) return std::unexpected(type_error(v, "a sequence"));
    std::vector<T> out;
    out.reserve(v.array.size());
    for (const Value& e : v.array) {
        auto r = decode(e);
        if (!r) return std::unexpected(r.error());
        out.push_back(std::move(*r));
    }
    return out;
}

}  // namespace zem::theme::schema
