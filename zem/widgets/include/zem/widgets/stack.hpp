#pragma once
// Children over one another, each aligned or placed on its own.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct StackChild;

struct Stack {
    std::vector<StackChild> children;
    bool hug = false;

    Stack& push(Element element, Align h, Align v, float margin) &;
    Stack push(Element element, Align h, Align v, float margin) &&;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    std::vector<ChildSlot> arrange(const Rect& rect, Canvas& canvas) const;
    // The same slots appended to `slots`, whose storage the caller keeps.
    void arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const;
};

}  // namespace zem
