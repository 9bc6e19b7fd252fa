#pragma once
// The gallery page: a heading, text, buttons, a switch, a divider and a
// progress bar in a column that follows the surface size, in the colours of
// the active theme.

#include <zem/widgets/element.hpp>

#include <string>

namespace zem::gallery {

// Messages of the gallery page.
struct Pressed {
    std::string which;
    std::string text = {};
    float value = 0.0f;
};

Element page(bool switch_on, float progress);

// The page with one of every interactive kind, for accessibility clients
// and input tests; its list is longer than any screen it is shown on.
struct GalleryState {
    bool switch_on = true;
    bool remember = false;
    bool dark = false;
    float progress = 0.0f;
    float volume = 0.5f;
    float level = 0.25f;
    std::string name;
    std::string password;
};

Element every_kind_page(const GalleryState& state);

// Two text fields, "first" and "second", one under the other, and a button
// ("Done", which does nothing) to take the focus away from them: what
// clipboard, input-method and typing tests drive from outside.
struct FieldsState {
    std::string first;
    std::string second;
};

Element fields_page(const FieldsState& state);

}  // namespace zem::gallery
