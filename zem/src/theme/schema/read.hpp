#pragma once
// Reads a theme document (after its side tables are removed and references
// substituted) into the Raw records.

#include <string>
#include <expected>

#include <base/json.hpp>
#include <zem/theme/schema/raw.hpp>

namespace zem::theme::schema {

namespace json = base::json;

// One value of a mode's "slots" object.
std::expected<RawSlot, std::string> read_slot(const json::Value& v);

// The whole document.
std::expected<RawThemeDocument, std::string> read_document(const json::Value& v);

}  // namespace zem::theme::schema
