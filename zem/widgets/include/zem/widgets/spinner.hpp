#pragma once
// The busy ring: a faint track of chords and an arc of 108 degrees whose
// start turns once per unit of phase.

#include <optional>
#include <string>
#include <utility>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Spinner {
  Color color;          // the arc's colour
  float phase = 0;      // turns; its fractional part sets the arc's start
  float size = 0;       // 0 or less: responsive 32 px
  float stroke = 3.0F;  // line width

  // (s, s): the size (or responsive 32 held within 22.4..48) capped at `available`.
  static SizeF measure(const Spinner& spinner, const Canvas& canvas, float available);
  // The track in `accent` with alpha 0.2 (the theme's accent colour), the arc
  // in the spinner's own colour; nothing when the ring has no room.
  static void draw(const Spinner& spinner, Canvas& canvas, const Rect& rect, const Color& accent);

  std::pair<float, float> measure(Canvas& canvas, float available) const;
  void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
  Traits traits() const;
  HitAction hit_action() const;
  std::optional<std::string> access_text() const;
};

// The default Spinner: the active mode's accent colour, phase 0, responsive
// size, stroke width 3.
Spinner accent_ring_style();

}  // namespace zem
