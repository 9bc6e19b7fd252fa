#pragma once
// Reads a theme document (after its side tables are removed and references
// substituted) into the Raw records; an error's message is the reader's text.

#include <string>
#include <expected>

#include <base/json.hpp>
#include <zem/theme/schema/raw.hpp>

namespace zem::theme::schema {

namespace json = base::json;

// One value of a mode's "slots" object.
[[nodiscard]] json::Result<RawSlot> read_slot(const json::Value& v);

// The whole document.
[[nodiscard]] json::Result<RawThemeDocument> read_document(const json::Value& v);

}  // namespace zem::theme::schema
