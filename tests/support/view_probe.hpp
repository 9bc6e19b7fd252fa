#pragma once
// Reading a page's element tree the way a user reads the screen: its texts,
// and the message a control with a given label would send. Tests press
// controls with it, without a compositor or an input device.

#include "app/msg.hpp"
#include "app/toolkit.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace support {

// Calls `f` on every element of the tree (the root first), in tree order.
void walk(const zem::Element& root, const std::function<void(const zem::Element&)>& f);

// Every element of kind K in the tree, in tree order. The pointers point
// into the tree: a temporary tree lives only to the end of the expression.
template <class K>
std::vector<const K*> all(const zem::Element& root) {
    std::vector<const K*> out;
    walk(root, [&](const zem::Element& e) {
        if (auto* k = e.as<K>()) out.push_back(k);
    });
    return out;
}

// Every Text and every button label, in tree order.
std::vector<std::string> texts(const zem::Element& root);
bool shows(const zem::Element& root, std::string_view text);

// What pressing the control labelled `label` sends: the innermost Button
// or list line with that label, or the GestureArea whose subtree shows it. Nothing when
// no control has that label or the control is inert. A box that holds
// anything but an app::Msg fails the test.
std::optional<app::Msg> message_of(const zem::Element& root, std::string_view label);

// The text field with that placeholder; what typing `text` into it sends,
// and what Enter in it sends.
const zem::TextEdit* field(const zem::Element& root, std::string_view placeholder);
std::optional<app::Msg> typed_into(const zem::Element& root, std::string_view placeholder, const std::string& text);
std::optional<app::Msg> submitted_from(const zem::Element& root, std::string_view placeholder);

// Whether some element with that label exists at all (inert or not).
bool has_control(const zem::Element& root, std::string_view label);

// What the live buttons that show an icon instead of a label send, in tree
// order.
std::vector<app::Msg> icon_messages(const zem::Element& root);

} // namespace support
