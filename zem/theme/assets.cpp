#include <zem/theme/assets.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <zem/theme/active.hpp>

namespace zem::theme {

namespace {

bool regular_file(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);  // follows symbolic links
}

std::string with_extension(std::string_view stem, std::string_view extension) {
    std::string name(stem);
    name += '.';
    name += extension;
    return name;
}

struct IconCache {
    std::mutex lock;
    std::map<std::pair<std::string, std::uint32_t>, PicturePtr> entries;
    bool poisoned = false;
};

IconCache& icon_cache() {
    static IconCache cache;
    return cache;
}

std::optional<std::vector<std::uint8_t>> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// Un-premultiplies one channel.
std::uint8_t straight(std::uint32_t premultiplied, std::uint32_t alpha) {
    if (alpha == 0) return 0;
    std::uint32_t v = (premultiplied * 255 + alpha / 2) / alpha;
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(v, 255));
}

}  // namespace

std::optional<std::filesystem::path> branding_asset(std::string_view stem, std::string_view extension) {
    ActiveTheme a = active();
    if (!a.theme->dir) return std::nullopt;
    const std::filesystem::path branding = *a.theme->dir / "branding";
    const std::string file = with_extension(stem, extension);
    const char* current = a.dark ? "dark" : "light";
    const char* other = a.dark ? "light" : "dark";
    for (const auto& candidate : {branding / current / file, branding / other / file, branding / file}) {
        if (regular_file(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> logo_path() { return branding_asset("logo/logo", "svg"); }
std::optional<std::filesystem::path> logo_square_path() { return branding_asset("logo/square", "svg"); }

std::optional<std::filesystem::path> icon_path(std::string_view name) {
    ActiveTheme a = active();
    if (!a.theme->dir) return std::nullopt;
    const std::string file = with_extension(name, "svg");
    const std::filesystem::path catalogue = *a.theme->dir / "icons" / "catalogue";
    for (const char* style : {"filled", "line"}) {
        std::filesystem::path candidate = catalogue / style / file;
        if (regular_file(candidate)) return candidate;
    }
    return std::nullopt;
}

PicturePtr icon(std::string_view name, std::uint32_t size) {
    // The active-theme lock is taken and released inside icon_path, before the
    // cache lock: the two are never held in the opposite order.
    auto path = icon_path(name);
    if (!path) return nullptr;
    std::pair<std::string, std::uint32_t> key{path->string(), size};

    IconCache& cache = icon_cache();
    {
        std::lock_guard guard(cache.lock);
        if (!cache.poisoned) {
            auto it = cache.entries.find(key);
            if (it != cache.entries.end()) return it->second;
        }
    }

    // Read and render without the lock; two threads may render the same icon
    // and the later insertion wins.
    auto bytes = read_file(*path);
    if (!bytes) return nullptr;
    PicturePtr picture = rasterize_svg(*bytes, size);
    if (!picture) return nullptr;

    std::lock_guard guard(cache.lock);
    if (!cache.poisoned) {
        try {
            cache.entries.insert_or_assign(std::move(key), picture);
        } catch (...) {
            cache.poisoned = true;
        }
    }
    return picture;
}

void clear_icon_cache() {
    IconCache& cache = icon_cache();
    std::lock_guard guard(cache.lock);
    if (!cache.poisoned) cache.entries.clear();
}

PicturePtr rasterize_svg(std::span<const std::uint8_t> bytes, std::uint32_t size) {
    if (size == 0 || bytes.empty()) return nullptr;

    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_data(bytes.data(), bytes.size(), &error);
    if (!handle) {
        if (error) g_error_free(error);
        return nullptr;
    }
    struct HandleGuard {
        RsvgHandle* h;
        ~HandleGuard() { g_object_unref(h); }
    } handle_guard{handle};
    rsvg_handle_set_dpi(handle, 96.0);

    // The document's own size; a document without one takes its viewBox, and
    // one with neither is size × size.
    double w = 0.0, h = 0.0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &w, &h)) {
        gboolean has_w = FALSE, has_h = FALSE, has_viewbox = FALSE;
        RsvgLength lw, lh;
        RsvgRectangle viewbox{};
        rsvg_handle_get_intrinsic_dimensions(handle, &has_w, &lw, &has_h, &lh, &has_viewbox, &viewbox);
        if (has_viewbox) {
            w = viewbox.width;
            h = viewbox.height;
        } else {
            w = size;
            h = size;
        }
    }
    const double s = std::max(w, h);
    if (!(s > 0.0) || !std::isfinite(s)) return nullptr;
    const double scale = static_cast<double>(size) / s;

    const double pw = std::max(1.0, std::ceil(w * scale));
    const double ph = std::max(1.0, std::ceil(h * scale));
    if (!(pw * ph * 4.0 <= static_cast<double>(max_raster_bytes))) return nullptr;
    const int iw = static_cast<int>(pw);
    const int ih = static_cast<int>(ph);

    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iw, ih);
    if (cairo_surface_status(target) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(target);
        return nullptr;
    }
    cairo_t* cr = cairo_create(target);
    cairo_scale(cr, scale, scale);
    RsvgRectangle viewport{0.0, 0.0, w, h};
    const gboolean rendered = rsvg_handle_render_document(handle, cr, &viewport, &error);
    cairo_destroy(cr);
    if (!rendered) {
        if (error) g_error_free(error);
        cairo_surface_destroy(target);
        return nullptr;
    }
    cairo_surface_flush(target);

    auto picture = std::make_shared<Picture>();
    picture->width = static_cast<std::uint32_t>(iw);
    picture->height = static_cast<std::uint32_t>(ih);
    picture->rgba.resize(static_cast<std::size_t>(iw) * static_cast<std::size_t>(ih) * 4);
    const unsigned char* data = cairo_image_surface_get_data(target);
    const int stride = cairo_image_surface_get_stride(target);
    // Cairo holds premultiplied native-endian ARGB words; images leave here as
    // straight RGBA bytes.
    for (int y = 0; y < ih; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        std::uint8_t* out = picture->rgba.data() + static_cast<std::size_t>(y) * iw * 4;
        for (int x = 0; x < iw; ++x) {
            const std::uint32_t px = row[x];
            const std::uint32_t a = px >> 24;
            out[4 * x + 0] = straight((px >> 16) & 0xff, a);
            out[4 * x + 1] = straight((px >> 8) & 0xff, a);
            out[4 * x + 2] = straight(px & 0xff, a);
            out[4 * x + 3] = static_cast<std::uint8_t>(a);
        }
    }
    cairo_surface_destroy(target);
    return picture;
}

std::vector<std::uint8_t> tint_rgba(std::span<const std::uint8_t> rgba, Color tint) {
    auto clamp01 = [](float v) { return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f); };
    auto to_byte = [](float v) { return static_cast<std::uint8_t>(std::min(v * 255.0f, 255.0f)); };
    const float r = clamp01(tint.r), g = clamp01(tint.g), b = clamp01(tint.b), a = clamp01(tint.a);
    const std::uint8_t rb = to_byte(r), gb = to_byte(g), bb = to_byte(b);
    const std::size_t pixels = rgba.size() / 4;
    std::vector<std::uint8_t> out(pixels * 4);
    for (std::size_t i = 0; i < pixels; ++i) {
        out[4 * i + 0] = rb;
        out[4 * i + 1] = gb;
        out[4 * i + 2] = bb;
        out[4 * i + 3] = to_byte(a * (static_cast<float>(rgba[4 * i + 3]) / 255.0f));
    }
    return out;
}

}  // namespace zem::theme
