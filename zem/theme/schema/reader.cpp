#include <zem/theme/schema/reader.hpp>

#include <algorithm>

namespace zem::theme::schema {

std::string describe_value(const Value& v) {
    if (v.is_null()) return "unit value";
    return json::describe(v);
}

json::Error error(std::string message) { return {std::move(message), {}}; }

json::Error type_error(const Value& v, std::string_view expected) {
    return error("invalid type: " + describe_value(v) + ", expected " + std::string(expected));
}

json::Error value_error(const Value& v, std::string_view expected) {
    return error("invalid value: " + describe_value(v) + ", expected " + std::string(expected));
}

json::Error length_error(std::size_t n, std::string_view expected) { return json::invalid_length(n, expected, {}); }

json::Error missing_error(std::string_view name) { return json::missing_field(name, {}); }

json::Error field_error(std::string_view name, std::span<const std::string_view> expected) {
    return json::unknown_field(name, expected, {});
}

json::Error variant_error(std::string_view name, std::span<const std::string_view> expected) {
    std::string m = "unknown variant `" + std::string(name) + "`, ";
    if (expected.empty()) return error(m + "there are no variants");
    return error(m + "expected " + one_of(expected));
}

Read<std::string> read_string(const Value& v) {
    if (!v.is_string()) return std::unexpected(type_error(v, "a string"));
    return v.string;
}

Read<float> read_f32(const Value& v) {
    if (!v.is_number()) return std::unexpected(type_error(v, "f32"));
    return static_cast<float>(v.f);
}

Read<std::uint16_t> read_u16(const Value& v) {
    if (!v.is_number() || v.number_kind == json::NumberKind::Float) return std::unexpected(type_error(v, "u16"));
    if (v.number_kind == json::NumberKind::Signed || v.u > 0xffff) return std::unexpected(value_error(v, "u16"));
    return static_cast<std::uint16_t>(v.u);
}

Read<std::vector<std::string>> read_strings(const Value& v) { return read_list(v, read_string); }

Read<Color> deserialize_colour(const Value& v) {
    if (!v.is_string()) return std::unexpected(type_error(v, "a string"));
    auto colour = parse_colour(v.string);
    if (!colour) return std::unexpected(error(colour.error()));
    return *colour;
}

Read<std::array<float, 2>> read_pair(const Value& v) {
    static constexpr std::string_view expected = "an array of length 2";
    if (!v.is_array()) return std::unexpected(type_error(v, expected));
    if (v.array.size() != 2) return std::unexpected(length_error(v.array.size(), expected));
    std::array<float, 2> out{};
    for (std::size_t i = 0; i < 2; ++i) {
        auto n = read_f32(v.array[i]);
        if (!n) return std::unexpected(n.error());
        out[i] = *n;
    }
    return out;
}

Read<std::size_t> read_keyword(const Value& v, std::span<const std::string_view> names, bool empty_object_unit) {
    auto index_of = [&](const std::string& word) -> Read<std::size_t> {
        auto it = std::find(names.begin(), names.end(), word);
        if (it == names.end()) return std::unexpected(variant_error(word, names));
        return static_cast<std::size_t>(it - names.begin());
    };
    if (v.is_string()) return index_of(v.string);
    if (v.is_object()) {
        if (v.object.size() != 1) return std::unexpected(error("invalid value: map, expected map with a single key"));
        auto index = index_of(v.object.front().key);
        if (!index) return index;
        const Value& unit = v.object.front().value;
        if (unit.is_null() || (empty_object_unit && unit.is_object() && unit.object.empty())) return index;
        return std::unexpected(type_error(unit, "unit variant"));
    }
    return std::unexpected(type_error(v, "string or map"));
}

}  // namespace zem::theme::schema
