#pragma once
// The frame every page is built in: background, header with back control and
// progress dots, title, buttons, cards and choice rows. Builders read the
// active theme and the current language when they run.

#include "app/msg.hpp"
#include "app/toolkit.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace app {

class InstallerApp;

inline constexpr zem::Color PAGE_GREY{0.9333f, 0.9333f, 0.9333f, 1.0f};

// The size of text and height of controls, following the window's height.
zem::Length control_font();
zem::Length control_height();

// A message for an element: the toolkit hands back exactly this box, which
// `update` opens as a Msg.
inline std::optional<zem::Message> send(Msg m) { return zem::Message(std::move(m)); }

// The callback of a text field: the whole new text, as typed.
template <class V>
zem::TextCallback text_to() {
    return zem::text_callback([](const std::string& t) { return std::optional<zem::Message>(Msg{V{t}}); });
}

zem::Element page_background(zem::Column content);
zem::Element page_header(Page page, std::uint8_t step, bool show_back, bool configure);
zem::Element progress_dots(std::size_t index, std::size_t count);
// `live`: the title (or the card's lines) tell a change the user did not
// make, such as an install that has finished; screen readers announce it.
zem::Element page_title(const std::string& title, const std::optional<std::string>& subtitle, bool live = false);
zem::Element primary_button(const std::string& label, std::optional<Msg> msg);
zem::Element info_card(const std::optional<std::string>& heading, const std::vector<std::string>& lines,
                       bool live = false);
zem::Element choice_row(const std::string& label, std::optional<std::span<const std::uint8_t>> svg, bool selected,
                        Msg msg);
// A line of text in the theme's danger colour, for failures shown on a page.
zem::Element error_text(const std::string& text);

// What a page not built in full shows: header, title, its errors and its
// forward control, in the frame above.
struct Scaffold {
    bool header = true;
    bool show_back = true;
    std::string title_key{};
    std::optional<std::string> subtitle_key{};
    std::vector<zem::Element> body{};
    std::optional<zem::Element> forward{};
};
zem::Element scaffold_page(const InstallerApp& app, Scaffold s);

} // namespace app
