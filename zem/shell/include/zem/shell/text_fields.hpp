#pragma once
// Text fields as the shell edits them: the field behind a region, its
// current text (typed but not yet shown by the view, else the region's), and
// the operations on one named field, so that a context menu acts on its own
// field even after focus moved.

#include <zem/frame/hit_region.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/widgets/text_editing.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zem {

// The field whose first region has this id; null for another kind.
const HitAction::TextEdit* text_field(const SurfaceState& s, LayoutId id);
// The field's current text.
std::string_view field_text(const SurfaceState& s, LayoutId id);
// The field's text, caret and anchor as the edit model takes them.
std::optional<FieldEdit> load_field(const SurfaceState& s, LayoutId id);

// The text offset under a point of the field, measured on the surface's
// canvas; none before the first frame or for another kind.
std::optional<std::size_t> field_offset_at(AppData& d, SurfaceKey key, LayoutId id, float x, float y);

std::optional<std::string> selected_text_of(AppData& d, SurfaceKey key, LayoutId id);
// Removes the field's selection; the new text, or none when nothing was
// selected. Queues no message (the callers do).
std::optional<std::string> delete_selection_of(AppData& d, SurfaceKey key, LayoutId id);
// Inserts through the field's filter; queues one change message with the
// final text.
void insert_text_into(AppData& d, SurfaceKey key, LayoutId id, std::string_view s);
// Stores an edited field and, when its text changed, queues its change
// message.
void commit_field(AppData& d, SurfaceKey key, LayoutId id, const FieldEdit& f, bool changed);

// The input method follows the focused field (text_input.cpp).
void text_input_focus(AppData& d, SurfaceKey key, std::optional<LayoutId> field);
// The seat's text-input object, made once there is a manager and a seat, so
// that it is there when the compositor tells which surface has the keyboard.
void text_input_start(AppData& d);
// The data device on the first seat, once there is a manager and a seat.
void clipboard_start(AppData& d);
// Keyboard and menu copy hand `clipboard_text` to the compositor, with the
// serial of the event that asked (clipboard.cpp).
void offer_clipboard_text(AppData& d, std::uint32_t serial);
// Whether a selection is still being read.
bool clipboard_read_pending(const AppData& d);

}  // namespace zem
