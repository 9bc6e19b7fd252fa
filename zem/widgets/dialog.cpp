#include <zem/widgets/dialog.hpp>

#include <cstdio>
#include <cstdlib>

#include <zem/theme/active.hpp>

namespace zem {

Dialog& Dialog::content_column(Column column) & {
    content = Box<Element>(Element(std::move(column)));
    return *this;
}

Dialog Dialog::content_column(Column column) && {
    content_column(std::move(column));
    return std::move(*this);
}

Element Dialog::into_element() && {
    if (modal && dismiss_on_scrim) {
        std::fprintf(stderr, "dialog: dismiss_on_scrim is not valid when modal=true\n");
        std::fflush(stderr);
        std::abort();
    }
    const Palette palette = theme::palette();

    Column panel_column;
    panel_column.spacing = Length::px(12.0f);
    panel_column.padding = Length::px(0.0f);
    panel_column.center_x = true;
    panel_column.center_y = false;
    panel_column.hug = false;
    if (title) {
        Text t;
        t.text = *title;
        t.size = Length::px(22.0f);
        t.font_weight(700);
        t.color = palette.text_primary;
        t.line_height = 1.0f;
        // Wrapped, not cut: a confirmation's title names what it acts on
        // ("Erase data on …"), and a cut title hides exactly that.
        t.truncate = true;
        t.wrap = true;
        t.align = TextAlign::Start;
        panel_column.children.emplace_back(std::move(t));
    }
    if (subtitle) {
        Text t;
        t.text = *subtitle;
        t.size = Length::px(14.0f);
        t.color = palette.text_secondary;
        t.line_height = 1.0f;
        t.wrap = true;
        t.truncate = true;
        t.align = TextAlign::Start;
        panel_column.children.emplace_back(std::move(t));
    }
    if (content) panel_column.children.push_back(std::move(**content));
    if (!actions.empty()) {
        Row row;
        row.spacing = Length::px(8.0f);
        row.padding = Length::px(0.0f);
        row.shrink = true;
        row.align_end = false;
        row.align_top = false;
        row.stretch = false;
        row.children.emplace_back(Spacer{std::nullopt, std::nullopt, 1});
        for (Element& action : actions) row.children.push_back(std::move(action));
        panel_column.children.emplace_back(std::move(row));
    }

    Container panel{Element(std::move(panel_column))};
    Color surface = palette.surface;
    surface.a = 1.0f;
    panel.fill = Paint{surface};
    panel.radii = Radii::all(16.0f);
    panel.insets(Length::px(24.0f));

    // Presses on the panel must never reach the scrim below it.
    GestureArea panel_guard;
    panel_guard.child = Box<Element>(Element(std::move(panel)));
    panel_guard.capture = true;

    Column placement;
    placement.spacing = Length::px(8.0f);
    placement.padding = Length::px(16.0f);
    placement.max_width = max_width;
    placement.center_x = true;
    placement.center_y = true;
    placement.hug = false;
    placement.children.emplace_back(std::move(panel_guard));

    Container scrim{Element(Spacer{std::nullopt, std::nullopt, 1})};
    scrim.fill = Paint{Color{0.0f, 0.0f, 0.0f, 0.45f}};
    GestureArea scrim_area;
    scrim_area.on_tap = std::move(dismiss_on_scrim);
    scrim_area.on_escape = std::move(on_escape);
    scrim_area.child = Box<Element>(Element(std::move(scrim)));
    scrim_area.capture = true;

    Stack stack;
    stack.hug = false;
    stack.push(Element(std::move(scrim_area)), Align::Stretch, Align::Stretch, 0.0f);
    stack.push(Element(std::move(placement)), Align::Stretch, Align::Stretch, 0.0f);
    return Element(std::move(stack));
}

}  // namespace zem
