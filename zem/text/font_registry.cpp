#include <zem/text/font_registry.hpp>

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <fmt/format.h>

namespace zem {

namespace {

// The face of `family` nearest in weight, in `style` only or in any style.
std::optional<FontFace> nearest(const auto& faces, std::string_view family, std::uint16_t weight,
                                const FontStyle* style) {
  const FontFace* best = nullptr;
  int best_diff = std::numeric_limits<int>::max();
  for (const auto& [key, face] : faces) {
    const auto& [fam, w, st] = key;
    if (fam != family) continue;
    if (style != nullptr && st != *style) continue;
    int diff = std::abs(static_cast<int>(w) - static_cast<int>(weight));
    if (diff < best_diff) {
      best_diff = diff;
      best = &face;
    }
  }
  if (best == nullptr) return std::nullopt;
  return *best;
}

}  // namespace

std::string_view font_style_text(FontStyle style) {
  return style == FontStyle::Normal ? "Normal" : "Italic";
}

FontRegistry FontRegistry::build(const std::vector<FontFamilySources>& families) {
  FontRegistry registry;
  for (const FontFamilySources& family : families) {
    if (!family.fallbacks.empty()) registry.set_fallbacks(family.key, family.fallbacks);
    for (const FontFileSource& src : family.sources) {
      auto data = read_font_file(src.path);
      if (!data) {
        std::fprintf(stderr, "[zem] skipping font %s (weight %u, %s): %s\n", src.path.c_str(),
                     static_cast<unsigned>(src.weight), font_style_text(src.style).data(),
                     data.error().c_str());
        continue;
      }
      auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(*data));
      // The face keeps its own bytes, so theme fonts shape and rasterise like any other.
      auto face = load_font_face(bytes, 0);
      if (!face) {
        std::fprintf(stderr, "[zem] skipping font %s (weight %u, %s): parse error: %s\n",
                     src.path.c_str(), static_cast<unsigned>(src.weight),
                     font_style_text(src.style).data(), face.error().c_str());
        continue;
      }
      registry.insert(family.key, src.weight, src.style, std::move(*face));
    }
  }
  return registry;
}

void FontRegistry::insert(std::string family, std::uint16_t weight, FontStyle style,
                          FontFace face) {
  faces_.insert_or_assign(Key{std::move(family), weight, style}, std::move(face));
}

void FontRegistry::set_fallbacks(std::string family, std::vector<std::string> fallbacks) {
  fallbacks_.insert_or_assign(std::move(family), std::move(fallbacks));
}

std::optional<FontFace> FontRegistry::lookup(std::string_view family, std::uint16_t weight,
                                             FontStyle style) const {
  return lookup_depth(family, weight, style, 0);
}

std::optional<FontFace> FontRegistry::lookup_depth(std::string_view family, std::uint16_t weight,
                                                   FontStyle style, int depth) const {
  // Fallback lists may name each other; a chain longer than the number of
  // families must be a cycle.
  if (depth > static_cast<int>(fallbacks_.size()) + 1) return std::nullopt;
  if (auto it = faces_.find(std::make_tuple(std::string(family), weight, style));
      it != faces_.end()) {
    return it->second;
  }
  if (auto f = nearest(faces_, family, weight, &style)) return f;
  if (auto f = nearest(faces_, family, weight, nullptr)) return f;
  if (auto it = fallbacks_.find(family); it != fallbacks_.end()) {
    for (const std::string& fb : it->second) {
      if (auto f = lookup_depth(fb, weight, style, depth + 1)) return f;
    }
  }
  return std::nullopt;
}

}  // namespace zem
