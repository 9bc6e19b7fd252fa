#include "support/view_probe.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace support {

namespace {

std::optional<app::Msg> unbox(const std::optional<zem::Message>& m) {
    if (!m) return std::nullopt;
    const app::Msg* msg = m->get<app::Msg>();
    if (msg == nullptr) {
        ADD_FAILURE() << "a control holds a message of type " << m->type().name() << ", not app::Msg";
        return std::nullopt;
    }
    return *msg;
}

// The innermost match wins: search children before the element itself.
bool find(const zem::Element& e, std::string_view label, std::optional<zem::Message>& out) {
    bool inner = false;
    auto child_find = [&](const zem::Element& c) { inner = inner || find(c, label, out); };
    if (auto* c = e.as<zem::Container>()) child_find(*c->child);
    else if (auto* col = e.as<zem::Column>()) {
        for (const auto& ch : col->children) child_find(ch);
    } else if (auto* row = e.as<zem::Row>()) {
        for (const auto& ch : row->children) child_find(ch);
    } else if (auto* st = e.as<zem::Stack>()) {
        for (const auto& ch : st->children) child_find(ch.element);
    } else if (auto* g = e.as<zem::GestureArea>()) child_find(*g->child);
    else if (auto* x = e.as<zem::Expanded>()) child_find(*x->child);
    else if (auto* s = e.as<zem::Scroll>()) child_find(*s->child);
    else if (auto* l = e.as<zem::Layer>()) child_find(*l->child);
    if (inner) return true;
    if (auto* b = e.as<zem::Button>()) {
        if (b->label() && *b->label() == label) {
            out = b->on_press;
            return true;
        }
    }
    if (auto* li = e.as<zem::ListItem>()) {
        if (li->title == label) {
            out = li->on_tap;
            return true;
        }
    }
    if (auto* g = e.as<zem::GestureArea>()) {
        if (shows(*g->child, label)) {
            out = g->on_tap;
            return true;
        }
    }
    return false;
}

} // namespace

void walk(const zem::Element& e, const std::function<void(const zem::Element&)>& f) {
    f(e);
    if (auto* c = e.as<zem::Container>()) walk(*c->child, f);
    else if (auto* col = e.as<zem::Column>()) {
        for (const auto& ch : col->children) walk(ch, f);
    } else if (auto* row = e.as<zem::Row>()) {
        for (const auto& ch : row->children) walk(ch, f);
    } else if (auto* st = e.as<zem::Stack>()) {
        for (const auto& ch : st->children) walk(ch.element, f);
    } else if (auto* g = e.as<zem::GestureArea>()) walk(*g->child, f);
    else if (auto* x = e.as<zem::Expanded>()) walk(*x->child, f);
    else if (auto* s = e.as<zem::Scroll>()) walk(*s->child, f);
    else if (auto* l = e.as<zem::Layer>()) walk(*l->child, f);
}

std::vector<std::string> texts(const zem::Element& root) {
    std::vector<std::string> out;
    walk(root, [&](const zem::Element& e) {
        if (auto* t = e.as<zem::Text>()) out.push_back(t->text);
        else if (auto* b = e.as<zem::Button>(); b && b->label()) out.push_back(*b->label());
        else if (auto* li = e.as<zem::ListItem>()) out.push_back(li->title);
    });
    return out;
}

bool shows(const zem::Element& root, std::string_view text) {
    for (const auto& t : texts(root))
        if (t == text) return true;
    return false;
}

std::optional<app::Msg> message_of(const zem::Element& root, std::string_view label) {
    std::optional<zem::Message> m;
    if (!find(root, label, m)) return std::nullopt;
    return unbox(m);
}

const zem::TextEdit* field(const zem::Element& root, std::string_view placeholder) {
    const zem::TextEdit* found = nullptr;
    walk(root, [&](const zem::Element& e) {
        if (auto* t = e.as<zem::TextEdit>(); t && !found && t->placeholder == placeholder) found = t;
    });
    return found;
}

std::optional<app::Msg> typed_into(const zem::Element& root, std::string_view placeholder, const std::string& text) {
    const zem::TextEdit* f = field(root, placeholder);
    if (!f || !f->on_change) return std::nullopt;
    return unbox((*f->on_change)(text));
}

std::optional<app::Msg> submitted_from(const zem::Element& root, std::string_view placeholder) {
    const zem::TextEdit* f = field(root, placeholder);
    if (!f) return std::nullopt;
    return unbox(f->on_submit);
}

bool has_control(const zem::Element& root, std::string_view label) {
    std::optional<zem::Message> m;
    return find(root, label, m);
}

std::vector<app::Msg> icon_messages(const zem::Element& root) {
    std::vector<app::Msg> out;
    walk(root, [&](const zem::Element& e) {
        if (auto* b = e.as<zem::Button>(); b && b->icon())
            if (auto m = unbox(b->on_press)) out.push_back(std::move(*m));
    });
    return out;
}

} // namespace support
