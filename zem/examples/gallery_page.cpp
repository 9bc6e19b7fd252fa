#include "gallery_page.hpp"

#include <algorithm>
#include <memory>

namespace zem::gallery {
namespace {

constexpr RGBA kText{0.11f, 0.11f, 0.13f, 1};
constexpr RGBA kMuted{0.38f, 0.38f, 0.42f, 1};
constexpr RGBA kAccent{0.16f, 0.40f, 0.86f, 1};
constexpr RGBA kAccentHover{0.10f, 0.30f, 0.72f, 1};
constexpr RGBA kAccentPressed{0.06f, 0.20f, 0.52f, 1};
constexpr RGBA kSurface{1, 1, 1, 1};
constexpr RGBA kDivider{0.85f, 0.85f, 0.88f, 1};

class Page final : public SceneNode {
public:
    Page(bool on, float progress) : on_(on), progress_(progress) {}

    void layout_and_draw(FrameCanvas& c, FRect content, FrameLayout& layout) const override {
        float s = c.scale();
        float pad = 24 * s;
        float x = content.x + pad;
        float w = std::max(content.w - 2 * pad, 0.0f);
        float y = content.y + pad;

        // Heading and body text.
        c.draw_text("Gallery", x, y + 28 * s, 28, kText);
        y += 44 * s;
        c.draw_text("Every kind of element the toolkit draws.", x, y + 16 * s, 16, kMuted);
        y += 36 * s;

        // A card with three buttons.
        float card_h = 3 * 56 * s + 16 * s;
        c.fill_rounded_rect({x, y, w, card_h}, kSurface, 16 * s);
        float by = y + 8 * s;
        const char* labels[] = {"Primary", "Secondary", "Tertiary"};
        for (int i = 0; i < 3; ++i) {
            WidgetId id = static_cast<WidgetId>(i);
            FRect r{x + 16 * s, by, w - 32 * s, 48 * s};
            RGBA fill = kAccent;
            if (layout.pressed == id) fill = kAccentPressed;
            else if (layout.hovered == id) fill = kAccentHover;
            c.fill_rounded_rect(r, fill, 12 * s);
            float tw = c.measure_text(labels[i], 16);
            c.draw_text(labels[i], r.x + (r.w - tw) / 2, r.y + r.h / 2 + 6 * s, 16, {1, 1, 1, 1});
            HitRegion h;
            h.id = id;
            h.key = std::string("button.") + labels[i];
            h.rect = r;
            h.painted_rect = r;
            h.action = HitRegion::Press;
            h.message = Message(Pressed{labels[i]});
            layout.regions.push_back(std::move(h));
            by += 56 * s;
        }
        y += card_h + 24 * s;

        // Divider.
        c.fill_rounded_rect({x, y, w, 1 * s}, kDivider, 0);
        y += 24 * s;

        // A switch with its label.
        c.draw_text("Wi-Fi", x, y + 22 * s, 16, kText);
        FRect track{x + w - 52 * s, y + 4 * s, 52 * s, 32 * s};
        c.fill_rounded_rect(track, on_ ? kAccent : kDivider, 16 * s);
        float knob_x = on_ ? track.x + track.w - 28 * s : track.x + 4 * s;
        c.fill_rounded_rect({knob_x, track.y + 4 * s, 24 * s, 24 * s}, kSurface, 12 * s);
        HitRegion sw;
        sw.id = 3;
        sw.key = "switch.wifi";
        sw.rect = {x, y, w, 40 * s};
        sw.painted_rect = track;
        sw.action = HitRegion::Switch;
        layout.regions.push_back(std::move(sw));
        y += 64 * s;

        // Progress bar.
        c.draw_text("Copying files", x, y + 16 * s, 14, kMuted);
        y += 28 * s;
        c.fill_rounded_rect({x, y, w, 8 * s}, kDivider, 4 * s);
        c.fill_rounded_rect({x, y, w * std::clamp(progress_, 0.0f, 1.0f), 8 * s}, kAccent, 4 * s);
    }

private:
    bool on_;
    float progress_;
};

}  // namespace

Scene page(bool switch_on, float progress) { return std::make_shared<Page>(switch_on, progress); }

}  // namespace zem::gallery
