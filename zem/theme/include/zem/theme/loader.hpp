#pragma once
// The steps of a theme load that work on the JSON document: the side tables
// and the substitution of references.

#include <map>
#include <string>
#include <expected>

#include <base/json.hpp>
#include <zem/theme/error.hpp>

namespace zem::theme {

namespace json = base::json;

// Colour name → colour text exactly as written.
using ColourTable = std::map<std::string, std::string, std::less<>>;
// Gradient or inset-stack name → its JSON value.
using TokenTable = std::map<std::string, json::Value, std::less<>>;

// Each returns the table, or the text of an InvalidColor.
[[nodiscard]] std::expected<ColourTable, std::string> read_colors_table(const json::Value& top);
[[nodiscard]] std::expected<TokenTable, std::string> read_gradients_table(const json::Value& top);
[[nodiscard]] std::expected<TokenTable, std::string> read_inset_stacks_table(const json::Value& top);

// Replaces every "@name" or "@name/AA" string inside value.
[[nodiscard]] std::expected<void, ThemeError> resolve_references(json::Value& value, const ColourTable& colours,
                                                   const TokenTable& tokens);

// Sorts every object's members by key in byte order; of duplicate keys the
// last one stays.
void normalize_objects(json::Value& value);

}  // namespace zem::theme
