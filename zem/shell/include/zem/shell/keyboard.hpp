#pragma once
// Raw key codes to keysyms and text, through an xkb keymap, its modifier
// state and the locale's compose table (dead keys).

#include <zem/input/input_types.hpp>

#include <cstdint>
#include <memory>

struct xkb_keymap;

namespace zem {

struct XkbKeyboard;

class KeyTranslator {
public:
    KeyTranslator();
    // A keymap in xkb's text form, as the compositor sends it; false keeps
    // the previous one.
    [[nodiscard]] bool load_text(const char* text);
    // A keymap from layout names ("us", "de", "fr" ...).
    [[nodiscard]] bool load_names(const char* layout, const char* variant = nullptr);
    bool ready() const;

    uint32_t keysym(uint32_t raw) const;
    void set_modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);
    bool active(const char* modifier) const;
    // The mask bit of a named modifier in this keymap.
    uint32_t mask(const char* modifier) const;
    void forget_modifiers();
    // One key event; text only for presses, after compose.
    KeyStroke translate(uint32_t raw, uint32_t time, bool pressed);

private:
    bool use_keymap(xkb_keymap* keymap);
    std::unique_ptr<XkbKeyboard, void (*)(XkbKeyboard*)> xkb_;
};

}  // namespace zem
