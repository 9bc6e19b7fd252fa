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
// A theme reader's result: its error's message is what the loader reports
// (the document is already parsed, so positions are not shown).
template <class T>
using Read = json::Result<T>;

// "unit value", "boolean `true`", "integer `5`", "floating point `1.5`",
// "string \"x\"", "sequence", "map".
std::string describe_value(const Value& v);
using json::one_of;

json::Error type_error(const Value& v, std::string_view expected);
json::Error value_error(const Value& v, std::string_view expected);
json::Error length_error(std::size_t n, std::string_view expected);
json::Error missing_error(std::string_view name);
json::Error field_error(std::string_view name, std::span<const std::string_view> expected);
json::Error variant_error(std::string_view name, std::span<const std::string_view> expected);
json::Error error(std::string message);

using Fields = json::Record;

// A theme record: unknown keys fail, an array form may be short (the missing
// fields fail when read), and null is a "unit value".
constexpr json::Shape record_shape(std::string_view type, std::string_view array,
                                   std::span<const std::string_view> names, bool deny_unknown = true,
                                   std::span<const std::string_view> skip = {}, std::size_t array_offset = 0) {
    return json::Shape{type, array, names, deny_unknown, skip, array_offset, false, "unit value"};
}

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

// json::get_list with the theme's name for null.
template <class F>
auto read_list(const Value& v, F&& decode) {
    using List = decltype(json::get_list(v, decode));
    if (!v.is_array()) return List(std::unexpected(type_error(v, "a sequence")));
    return json::get_list(v, decode);
}

}  // namespace zem::theme::schema
