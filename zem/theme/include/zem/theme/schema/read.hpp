#pragma once
// Reads a theme document (after its side tables are removed and references
// substituted) into the Raw records.

#include <string>
#include <expected>

#include <zem/json/json.hpp>
#include <zem/theme/schema/raw.hpp>

namespace zem::theme::schema {

// One value of a mode's "slots" object.
[[nodiscard]] std::expected<RawSlot, std::string> read_slot(const json::Value& v);

// The whole document.
[[nodiscard]] std::expected<RawThemeDocument, std::string> read_document(const json::Value& v);

}  // namespace zem::theme::schema
