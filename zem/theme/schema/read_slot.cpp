#include <zem/theme/schema/read.hpp>
#include <zem/theme/schema/reader.hpp>

#include <algorithm>

namespace zem::theme::schema {

namespace {

template <class T>
std::unexpected<json::Error> fail(const Read<T>& r) {
    return std::unexpected(r.error());
}

// Unwraps a Read into `target`, or returns its error from the enclosing reader.
#define ZEM_READ(target, expr)              \
    do {                                    \
        auto zem_r_ = (expr);               \
        if (!zem_r_) return fail(zem_r_);   \
        target = std::move(*zem_r_);        \
    } while (0)

constexpr std::string_view space_names[] = {"srgb", "linear-rgb", "oklab"};
constexpr std::string_view blend_names[] = {"normal", "plus-lighter", "overlay", "multiply", "screen"};
constexpr std::string_view style_names[] = {"normal", "italic"};
constexpr std::string_view transform_names[] = {"none", "uppercase", "lowercase", "capitalize"};
constexpr std::string_view decoration_names[] = {"none", "underline", "strikethrough"};
constexpr std::string_view slot_tags[] = {"color", "linear", "radial", "shadows", "surface", "typography"};
constexpr std::string_view paint_tags[] = {"solid", "linear", "radial"};
constexpr std::string_view tag_key[] = {"type"};

Read<GradientSpace> read_space(const Value& v) {
    auto i = read_keyword(v, space_names, true);
    if (!i) return fail(i);
    return static_cast<GradientSpace>(*i);
}

Read<BlendMode> read_blend(const Value& v) {
    auto i = read_keyword(v, blend_names, true);
    if (!i) return fail(i);
    return static_cast<BlendMode>(*i);
}

// ---- metadata ----

constexpr std::string_view meta_names[] = {"semantic", "fluent", "usage", "note"};
const json::Shape meta_shape = record_shape("struct RawMetadata", "struct RawMetadata with 4 elements", meta_names, false);

Read<RawMetadata> read_meta(const Value& v) {
    auto f = Fields::open(v, meta_shape);
    if (!f) return fail(f);
    RawMetadata m;
    ZEM_READ(m.semantic, f->get_optional(0, read_string));
    ZEM_READ(m.fluent, f->get_optional(1, read_string));
    ZEM_READ(m.usage, f->get_optional(2, read_string));
    ZEM_READ(m.note, f->get_optional(3, read_string));
    return m;
}

// ---- stops and shadows ----

constexpr std::string_view stop_names[] = {"pos", "color"};
constexpr std::string_view stop_keys[] = {"pos", "position", "color"};

Read<GradientStop> read_stop(const Value& v) {
    const Value* pos = nullptr;
    const Value* color = nullptr;
    if (v.is_object()) {
        for (const json::Member& m : v.object) {
            if (m.key == "pos" || m.key == "position") {
                if (pos) return std::unexpected(error(std::string("duplicate field `pos`")));
                pos = &m.value;
            } else if (m.key == "color") {
                color = &m.value;
            } else {
                return std::unexpected(field_error(m.key, stop_keys));
            }
        }
        if (!pos) return std::unexpected(missing_error("pos"));
        if (!color) return std::unexpected(missing_error("color"));
    } else if (v.is_array()) {
        static const json::Shape shape = record_shape("struct RawColorStop", "struct RawColorStop with 2 elements", stop_names);
        auto f = Fields::open(v, shape);
        if (!f) return fail(f);
        ZEM_READ(pos, f->required(0));
        ZEM_READ(color, f->required(1));
    } else {
        return std::unexpected(type_error(v, "struct RawColorStop"));
    }
    auto p = read_f32(*pos);
    if (!p) return fail(p);
    auto c = deserialize_colour(*color);
    if (!c) return fail(c);
    return GradientStop{c->r, c->g, c->b, c->a, *p};
}

constexpr std::string_view shadow_names[] = {"offset", "blur", "spread", "color", "blend"};
const json::Shape shadow_shape = record_shape("struct RawShadow", "struct RawShadow with 5 elements", shadow_names);

Read<Shadow> read_shadow(const Value& v) {
    auto f = Fields::open(v, shadow_shape);
    if (!f) return fail(f);
    Shadow s;
    std::array<float, 2> offset{};
    ZEM_READ(offset, f->get(0, read_pair));
    ZEM_READ(s.blur, f->get(1, read_f32));
    ZEM_READ(s.spread, f->get_or(2, 0.0f, read_f32));
    ZEM_READ(s.color, f->get(3, deserialize_colour));
    ZEM_READ(s.blend, f->get_or(4, BlendMode::Normal, read_blend));
    s.offset_x = offset[0];
    s.offset_y = offset[1];
    return s;
}

Read<std::vector<Shadow>> read_shadow_list(const Value& v) { return read_list(v, read_shadow); }
Read<std::vector<GradientStop>> read_stops(const Value& v) { return read_list(v, read_stop); }

// ---- gradients (shared by slots and paints) ----

// Field order of a gradient: linear (angle_deg, space, stops), radial (center,
// radius, space, stops); slots add meta after them.
Read<LinearGradient> read_linear(const Fields& f) {
    LinearGradient g;
    ZEM_READ(g.angle_deg, f.get(0, read_f32));
    ZEM_READ(g.space, f.get_or(1, GradientSpace::LinearRgb, read_space));
    ZEM_READ(g.stops, f.get(2, read_stops));
    return g;
}

Read<RadialGradient> read_radial(const Fields& f) {
    RadialGradient g;
    std::array<float, 2> center{};
    ZEM_READ(center, f.get(0, read_pair));
    ZEM_READ(g.radius, f.get(1, read_f32));
    ZEM_READ(g.space, f.get_or(2, GradientSpace::LinearRgb, read_space));
    ZEM_READ(g.stops, f.get(3, read_stops));
    g.center_x = center[0];
    g.center_y = center[1];
    return g;
}

// ---- paints ----

constexpr std::string_view solid_names[] = {"color"};
constexpr std::string_view linear_paint_names[] = {"angle_deg", "space", "stops"};
constexpr std::string_view radial_paint_names[] = {"center", "radius", "space", "stops"};
const json::Shape paint_shapes[] = {
    record_shape("struct variant RawPaint::Solid", "struct variant RawPaint::Solid with 1 element", solid_names, true, tag_key, 1),
    record_shape("struct variant RawPaint::Linear", "struct variant RawPaint::Linear with 3 elements", linear_paint_names, true,
     tag_key, 1),
    record_shape("struct variant RawPaint::Radial", "struct variant RawPaint::Radial with 4 elements", radial_paint_names, true,
     tag_key, 1),
};

// The tag of an internally tagged record: the "type" member, or the first
// element of the array form.
Read<const Value*> tag_of(const Value& v, std::string_view expected) {
    if (v.is_object()) {
        const Value* t = v.find("type");
        if (!t) return std::unexpected(missing_error("type"));
        return t;
    }
    if (v.is_array()) {
        if (v.array.empty()) return std::unexpected(length_error(0, expected));
        return &v.array.front();
    }
    return std::unexpected(type_error(v, expected));
}

Read<Paint> read_paint(const Value& v) {
    const Value* tag = nullptr;
    ZEM_READ(tag, tag_of(v, "internally tagged enum RawPaint"));
    std::size_t kind = 0;
    if (tag->is_string()) {
        ZEM_READ(kind, read_keyword(*tag, paint_tags, false));
    } else if (tag->is_number() && tag->number_kind == json::NumberKind::Unsigned) {
        if (tag->u > 2) return std::unexpected(value_error(*tag, "variant index 0 <= i < 3"));
        kind = static_cast<std::size_t>(tag->u);
    } else {
        return std::unexpected(type_error(*tag, "variant identifier"));
    }
    auto f = Fields::open(v, paint_shapes[kind]);
    if (!f) return fail(f);
    switch (kind) {
        case 0: {
            auto c = f->get(0, deserialize_colour);
            if (!c) return fail(c);
            return Paint(*c);
        }
        case 1: {
            auto g = read_linear(*f);
            if (!g) return fail(g);
            return Paint(std::move(*g));
        }
        default: {
            auto g = read_radial(*f);
            if (!g) return fail(g);
            return Paint(std::move(*g));
        }
    }
}

// ---- surface and typography bodies ----

Read<ShadowsRef> read_shadows_ref(const Value& v) {
    if (v.is_string()) return ShadowsRef{v.string};
    if (v.is_array()) {
        auto list = read_shadow_list(v);
        if (list) return ShadowsRef{std::move(*list)};
    }
    return std::unexpected(error(std::string("data did not match any variant of untagged enum RawShadowsRef")));
}

constexpr std::string_view font_ref_names[] = {"ref"};
const json::Shape font_ref_shape = record_shape("struct RawFontRef", "struct RawFontRef with 1 element", font_ref_names);

Read<std::string> read_font_ref(const Value& v) {
    auto f = Fields::open(v, font_ref_shape);
    if (!f) return fail(f);
    return f->get(0, read_string);
}

Read<RawLineHeight> read_line_height(const Value& v) {
    if (v.is_object()) {
        if (const Value* px = v.find("px")) {
            if (auto n = read_f32(*px)) return RawLineHeight{RawLineHeight::Kind::Px, *n};
        }
        if (const Value* mul = v.find("mul")) {
            if (auto n = read_f32(*mul)) return RawLineHeight{RawLineHeight::Kind::Multiplier, *n};
        }
    }
    return std::unexpected(error(std::string("data did not match any variant of untagged enum RawLineHeight")));
}

constexpr std::string_view surface_names[] = {"fill", "shadows", "inset_shadows"};
const json::Shape surface_shape = record_shape("a map", "a map", surface_names, false);

Read<RawSurfaceBody> read_surface_body(const Value& v) {
    auto f = Fields::open(v, surface_shape);
    if (!f) return fail(f);
    RawSurfaceBody body;
    ZEM_READ(body.fill, f->get(0, read_paint));
    std::optional<ShadowsRef> shadows;
    ZEM_READ(shadows, f->get_optional(1, read_shadows_ref));
    if (shadows) body.shadows = std::move(*shadows);
    ZEM_READ(body.inset_shadows, f->get_or(2, std::vector<Shadow>{}, read_shadow_list));
    return body;
}

constexpr std::string_view typography_names[] = {"family", "weight", "style", "size", "line_height",
                                                  "letter_spacing", "transform", "decoration", "color"};
const json::Shape typography_shape = record_shape("a map", "a map", typography_names, false);

Read<Typography> read_typography_body(const Value& v) {
    auto f = Fields::open(v, typography_shape);
    if (!f) return fail(f);
    Typography t;
    ZEM_READ(t.family, f->get(0, read_font_ref));
    ZEM_READ(t.weight, f->get(1, read_u16));
    std::size_t k = 0;
    ZEM_READ(k, f->get_or(2, std::size_t{0}, [](const Value& x) { return read_keyword(x, style_names, true); }));
    t.style = static_cast<FontStyle>(k);
    ZEM_READ(t.size, f->get(3, read_f32));
    ZEM_READ(t.line_height, f->get(4, read_line_height));
    ZEM_READ(t.letter_spacing, f->get_or(5, 0.0f, read_f32));
    ZEM_READ(k, f->get_or(6, std::size_t{0}, [](const Value& x) { return read_keyword(x, transform_names, true); }));
    t.transform = static_cast<TextTransform>(k);
    ZEM_READ(k, f->get_or(7, std::size_t{0}, [](const Value& x) { return read_keyword(x, decoration_names, true); }));
    t.decoration = static_cast<TextDecoration>(k);
    ZEM_READ(t.color, f->get_optional(8, read_string));
    return t;
}

// ---- slots ----

constexpr std::string_view color_slot_names[] = {"value", "meta"};
constexpr std::string_view linear_slot_names[] = {"angle_deg", "space", "stops", "meta"};
constexpr std::string_view radial_slot_names[] = {"center", "radius", "space", "stops", "meta"};
constexpr std::string_view shadows_slot_names[] = {"shadows", "meta"};
const json::Shape slot_shapes[] = {
    record_shape("struct variant RawSlot::Color", "struct variant RawSlot::Color with 2 elements", color_slot_names, false,
     tag_key, 1),
    record_shape("struct variant RawSlot::Linear", "struct variant RawSlot::Linear with 4 elements", linear_slot_names, false,
     tag_key, 1),
    record_shape("struct variant RawSlot::Radial", "struct variant RawSlot::Radial with 5 elements", radial_slot_names, false,
     tag_key, 1),
    record_shape("struct variant RawSlot::Shadows", "struct variant RawSlot::Shadows with 2 elements", shadows_slot_names, false,
     tag_key, 1),
};

Read<RawMetadata> meta_of(const Fields& f, std::size_t i) { return f.get_or(i, RawMetadata{}, read_meta); }

}  // namespace

Read<RawSlot> read_slot(const Value& v) {
    const Value* tag = nullptr;
    ZEM_READ(tag, tag_of(v, "internally tagged enum RawSlot"));
    std::size_t kind = 0;
    std::string word;
    ZEM_READ(word, read_string(*tag));
    {
        auto it = std::find(std::begin(slot_tags), std::end(slot_tags), std::string_view(word));
        if (it == std::end(slot_tags)) return std::unexpected(variant_error(word, slot_tags));
        kind = static_cast<std::size_t>(it - std::begin(slot_tags));
    }

    RawSlot slot;
    if (kind >= 4) {
        // Surface and typography bodies share the slot object with "type" and
        // "meta"; they have no array form.
        if (!v.is_object()) return std::unexpected(type_error(v, "a map"));
        if (const Value* meta = v.find("meta")) ZEM_READ(slot.meta, read_meta(*meta));
        if (kind == 4) {
            RawSurfaceBody body;
            ZEM_READ(body, read_surface_body(v));
            slot.value = std::move(body);
        } else {
            Typography t;
            ZEM_READ(t, read_typography_body(v));
            slot.value = std::move(t);
        }
        return slot;
    }

    auto f = Fields::open(v, slot_shapes[kind]);
    if (!f) return fail(f);
    switch (kind) {
        case 0: {
            Color c;
            ZEM_READ(c, f->get(0, deserialize_colour));
            ZEM_READ(slot.meta, meta_of(*f, 1));
            slot.value = c;
            break;
        }
        case 1: {
            LinearGradient g;
            ZEM_READ(g, read_linear(*f));
            ZEM_READ(slot.meta, meta_of(*f, 3));
            slot.value = std::move(g);
            break;
        }
        case 2: {
            RadialGradient g;
            ZEM_READ(g, read_radial(*f));
            ZEM_READ(slot.meta, meta_of(*f, 4));
            slot.value = std::move(g);
            break;
        }
        default: {
            std::vector<Shadow> list;
            ZEM_READ(list, f->get(0, read_shadow_list));
            ZEM_READ(slot.meta, meta_of(*f, 1));
            slot.value = std::move(list);
            break;
        }
    }
    return slot;
}

// ---- document ----

namespace {

constexpr std::string_view fit_names[] = {"cover", "contain", "stretch", "center", "tile"};

constexpr std::string_view meta_doc_names[] = {"id", "name"};
const json::Shape theme_meta_shape = record_shape("struct RawThemeMeta", "struct RawThemeMeta with 2 elements", meta_doc_names);

Read<RawThemeMeta> read_theme_meta(const Value& v) {
    auto f = Fields::open(v, theme_meta_shape);
    if (!f) return fail(f);
    RawThemeMeta m;
    ZEM_READ(m.id, f->get(0, read_string));
    ZEM_READ(m.name, f->get(1, read_string));
    return m;
}

constexpr std::string_view wallpaper_names[] = {"path", "fit"};
const json::Shape wallpaper_shape = record_shape("struct RawWallpaper", "struct RawWallpaper with 2 elements", wallpaper_names);

Read<RawWallpaper> read_wallpaper(const Value& v) {
    auto f = Fields::open(v, wallpaper_shape);
    if (!f) return fail(f);
    RawWallpaper w;
    ZEM_READ(w.path, f->get(0, read_string));
    std::size_t fit = 0;
    ZEM_READ(fit, f->get_or(1, std::size_t{0}, [](const Value& x) { return read_keyword(x, fit_names, false); }));
    w.fit = static_cast<RawFit>(fit);
    return w;
}

constexpr std::string_view launcher_names[] = {"background", "border_radius"};
const json::Shape launcher_shape = record_shape("struct RawLauncher", "struct RawLauncher with 2 elements", launcher_names);

Read<RawLauncher> read_launcher(const Value& v) {
    auto f = Fields::open(v, launcher_shape);
    if (!f) return fail(f);
    RawLauncher l;
    ZEM_READ(l.background, f->get(0, read_string));
    ZEM_READ(l.border_radius, f->get(1, read_f32));
    return l;
}

constexpr std::string_view controls_names[] = {"bar_bg",         "icon",       "hover_bg",  "pressed_bg",
                                               "close_hover_bg", "close_icon", "focus_ring"};
const json::Shape controls_shape = record_shape("struct RawWindowControls", "struct RawWindowControls with 7 elements",
                                 controls_names);

Read<RawWindowControls> read_window_controls(const Value& v) {
    auto f = Fields::open(v, controls_shape);
    if (!f) return fail(f);
    RawWindowControls c;
    std::optional<std::string>* targets[] = {&c.bar_bg,         &c.icon,       &c.hover_bg, &c.pressed_bg,
                                             &c.close_hover_bg, &c.close_icon, &c.focus_ring};
    for (std::size_t i = 0; i < 7; ++i) ZEM_READ(*targets[i], f->get_optional(i, read_string));
    return c;
}

Read<std::map<std::string, RawSlot>> read_slot_table(const Value& v) {
    if (!v.is_object()) return std::unexpected(type_error(v, "a map"));
    std::map<std::string, RawSlot> out;
    for (const json::Member& m : v.object) {
        auto s = read_slot(m.value);
        if (!s) return fail(s);
        out.insert_or_assign(m.key, std::move(*s));
    }
    return out;
}

constexpr std::string_view mode_names[] = {"wallpaper", "lockscreen", "launcher", "window_controls", "slots"};
const json::Shape mode_shape = record_shape("struct RawMode", "struct RawMode with 5 elements", mode_names);

Read<RawMode> read_mode(const Value& v) {
    auto f = Fields::open(v, mode_shape);
    if (!f) return fail(f);
    RawMode m;
    ZEM_READ(m.wallpaper, f->get_optional(0, read_wallpaper));
    ZEM_READ(m.lockscreen, f->get_optional(1, read_wallpaper));
    ZEM_READ(m.launcher, f->get_optional(2, read_launcher));
    ZEM_READ(m.window_controls, f->get_optional(3, read_window_controls));
    ZEM_READ(m.slots, f->get_or(4, std::map<std::string, RawSlot>{}, read_slot_table));
    return m;
}

constexpr std::string_view modes_names[] = {"light", "dark"};
const json::Shape modes_shape = record_shape("struct RawModes", "struct RawModes with 2 elements", modes_names);

Read<RawModes> read_modes(const Value& v) {
    auto f = Fields::open(v, modes_shape);
    if (!f) return fail(f);
    RawModes m;
    ZEM_READ(m.light, f->get(0, read_mode));
    ZEM_READ(m.dark, f->get(1, read_mode));
    return m;
}

constexpr std::string_view source_names[] = {"weight", "style", "path"};
const json::Shape source_shape = record_shape("struct RawFontSource", "struct RawFontSource with 3 elements", source_names);

Read<RawFontSource> read_font_source(const Value& v) {
    auto f = Fields::open(v, source_shape);
    if (!f) return fail(f);
    RawFontSource s;
    ZEM_READ(s.weight, f->get(0, read_u16));
    std::size_t style = 0;
    ZEM_READ(style, f->get_or(1, std::size_t{0}, [](const Value& x) { return read_keyword(x, style_names, false); }));
    s.style = static_cast<FontStyle>(style);
    ZEM_READ(s.path, f->get(2, read_string));
    return s;
}

constexpr std::string_view family_names[] = {"name", "fallbacks", "sources"};
const json::Shape family_shape = record_shape("struct RawFontFamily", "struct RawFontFamily with 3 elements", family_names);

Read<RawFontFamily> read_font_family(const Value& v) {
    auto f = Fields::open(v, family_shape);
    if (!f) return fail(f);
    RawFontFamily fam;
    ZEM_READ(fam.name, f->get(0, read_string));
    ZEM_READ(fam.fallbacks, f->get_or(1, std::vector<std::string>{}, read_strings));
    ZEM_READ(fam.sources, f->get_or(2, std::vector<RawFontSource>{},
                                        [](const Value& x) { return read_list(x, read_font_source); }));
    return fam;
}

Read<std::map<std::string, RawFontFamily>> read_fonts(const Value& v) {
    if (!v.is_object()) return std::unexpected(type_error(v, "a map"));
    std::map<std::string, RawFontFamily> out;
    for (const json::Member& m : v.object) {
        auto fam = read_font_family(m.value);
        if (!fam) return fail(fam);
        out.insert_or_assign(m.key, std::move(*fam));
    }
    return out;
}

constexpr std::string_view document_names[] = {"theme", "fonts", "modes"};
const json::Shape document_shape = record_shape("struct RawThemeDocument", "struct RawThemeDocument with 3 elements",
                                 document_names);

}  // namespace

Read<RawThemeDocument> read_document(const Value& v) {
    auto f = Fields::open(v, document_shape);
    if (!f) return fail(f);
    RawThemeDocument doc;
    ZEM_READ(doc.theme, f->get(0, read_theme_meta));
    ZEM_READ(doc.fonts, f->get_or(1, std::map<std::string, RawFontFamily>{}, read_fonts));
    ZEM_READ(doc.modes, f->get(2, read_modes));
    return doc;
}

}  // namespace zem::theme::schema
