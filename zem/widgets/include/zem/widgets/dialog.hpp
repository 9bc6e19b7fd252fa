#pragma once
// A panel centred over a dimmed backdrop, built from ordinary elements.

#include <optional>
#include <string>
#include <vector>

#include <zem/widgets/element.hpp>

namespace zem {

struct Dialog {
    std::vector<Element> actions;
    std::optional<std::string> title;
    std::optional<std::string> subtitle;
    // Sent when the backdrop is tapped; not allowed on a modal dialog.
    std::optional<Message> dismiss_on_scrim;
    // Sent by Escape while the dialog is open.
    std::optional<Message> on_escape;
    std::optional<Box<Element>> content;
    std::optional<Length> max_width;
    bool modal = false;

    // Makes the column the dialog's content, dropping an earlier one.
    Dialog& content_column(Column column) &;
    Dialog content_column(Column column) &&;

    // The backdrop and the centred panel as one element to stack over a page.
    // A modal dialog with `dismiss_on_scrim` is a misuse and stops the program.
    Element into_element() &&;
};

}  // namespace zem
