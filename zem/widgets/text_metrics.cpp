#include <zem/widgets/text_metrics.hpp>

#include <zem/canvas/canvas.hpp>
#include <zem/text/utf8.hpp>

namespace zem {

LineBox text_line_box(Canvas& canvas, float size_px) {
    const FontFace& primary = canvas.primary_font();
    if (primary.face) {
        if (auto m = primary.face->horizontal_line_metrics(size_px * canvas.scale())) {
            return LineBox{m->ascent, m->new_line_size};
        }
    }
    return LineBox{0.8f * size_px, size_px};
}

std::string prefix_fitting(Canvas& canvas, std::string_view text, float size, const FontFace* font, float budget) {
    float sum = 0.0f;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t n = utf8::char_len(text, i);
        const float w = canvas.measure_text(text.substr(i, n), size, font);
        if (sum + w > budget) break;
        sum += w;
        i += n;
    }
    return std::string(text.substr(0, i));
}

}  // namespace zem
