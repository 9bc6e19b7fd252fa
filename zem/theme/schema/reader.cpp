#include <zem/theme/schema/reader.hpp>

#include <algorithm>

namespace zem::theme::schema {

std::string describe_value(const Value& v) {
    if (v.is_null()) return "unit value";
    return json::describe(v);
}

std::string one_of(std::span<const std::string_view> names) {
    auto tick = [](std::string_view n) { return "`" + std::string(n) + "`"; };
    if (names.size() == 1) return tick(names[0]);
    if (names.size() == 2) return tick(names[0]) + " or " + tick(names[1]);
    std::string out = "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += ", ";
        out += tick(names[i]);
    }
    return out;
}

std::string type_error(const Value& v, std::string_view expected) {
    return "invalid type: " + describe_value(v) + ", expected " + std::string(expected);
}

std::string value_error(const Value& v, std::string_view expected) {
    return "invalid value: " + describe_value(v) + ", expected " + std::string(expected);
}

std::string length_error(std::size_t n, std::string_view expected) {
    return "invalid length " + std::to_string(n) + ", expected " + std::string(expected);
}

std::string missing_error(std::string_view name) { return "missing field `" + std::string(name) + "`"; }

std::string field_error(std::string_view name, std::span<const std::string_view> expected) {
    std::string m = "unknown field `" + std::string(name) + "`, ";
    if (expected.empty()) return m + "there are no fields";
    return m + "expected " + one_of(expected);
}

std::string variant_error(std::string_view name, std::span<const std::string_view> expected) {
    std::string m = "unknown variant `" + std::string(name) + "`, ";
    if (expected.empty()) return m + "there are no variants";
    return m + "expected " + one_of(expected);
}

Read<Fields> Fields::open(const Value& v, const Shape& shape) {
    Fields f;
    f.shape_ = &shape;
    f.values_.assign(shape.names.size(), nullptr);
    if (v.is_object()) {
        for (const json::Member& m : v.object) {
            auto it = std::find(shape.names.begin(), shape.names.end(), m.key);
            if (it != shape.names.end()) {
                f.values_[static_cast<std::size_t>(it - shape.names.begin())] = &m.value;
                continue;
            }
            if (std::find(shape.skip.begin(), shape.skip.end(), m.key) != shape.skip.end()) continue;
            if (shape.deny_unknown) return std::unexpected(field_error(m.key, shape.names));
        }
        return f;
    }
    if (v.is_array()) {
        f.from_array_ = true;
        const std::size_t n = v.array.size() > shape.array_offset ? v.array.size() - shape.array_offset : 0;
        if (n > shape.names.size()) return std::unexpected(length_error(n, "fewer elements in array"));
        f.available_ = n;
        for (std::size_t i = 0; i < n; ++i) f.values_[i] = &v.array[shape.array_offset + i];
        return f;
    }
    return std::unexpected(type_error(v, shape.type));
}

Read<const Value*> Fields::required(std::size_t i) const {
    if (values_[i]) return values_[i];
    if (from_array_) return std::unexpected(length_error(available_, shape_->array));
    return std::unexpected(missing_error(shape_->names[i]));
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
    return parse_colour(v.string);
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
        if (v.object.size() != 1) return std::unexpected("invalid value: map, expected map with a single key");
        auto index = index_of(v.object.front().key);
        if (!index) return index;
        const Value& unit = v.object.front().value;
        if (unit.is_null() || (empty_object_unit && unit.is_object() && unit.object.empty())) return index;
        return std::unexpected(type_error(unit, "unit variant"));
    }
    return std::unexpected(type_error(v, "string or map"));
}

}  // namespace zem::theme::schema
