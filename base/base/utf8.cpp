#include <base/utf8.hpp>

namespace base::utf8 {

namespace {

// Decodes the front of `s` (not empty).
Decoded front(std::string_view s) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(0);
    if (c < 0x80) return {c, 1, true};
    std::size_t n;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;  // overlong below U+0800
        if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
        if (c == 0xF0) lo = 0x90;  // overlong below U+10000
        if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return {replacement, 1, false};
    }
    for (std::size_t k = 1; k < n; ++k) {
        if (k >= s.size()) return {replacement, k, false};
        const unsigned char d = byte(k);
        const bool ok = k == 1 ? (d >= lo && d <= hi) : (d >= 0x80 && d <= 0xBF);
        if (!ok) return {replacement, k, false};
        cp = (cp << 6) | (d & 0x3F);
    }
    return {cp, n, true};
}

}  // namespace

std::size_t sequence_length(std::string_view s) {
    if (s.empty()) return 0;
    const Decoded d = front(s);
    return d.valid ? d.length : 0;
}

Decoded decode(std::string_view s, std::size_t i) { return front(s.substr(i)); }

bool is_valid(std::string_view s) {
    while (!s.empty()) {
        const Decoded d = front(s);
        if (!d.valid) return false;
        s.remove_prefix(d.length);
    }
    return true;
}

std::string lossy(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    while (!s.empty()) {
        const Decoded d = front(s);
        if (d.valid)
            out.append(s.substr(0, d.length));
        else
            out += "\xEF\xBF\xBD";
        s.remove_prefix(d.length);
    }
    return out;
}

void append(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = replacement;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool is_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::string_view trim(std::string_view s) {
    while (!s.empty()) {
        const Decoded d = front(s);
        if (!d.valid || !is_space(d.code_point)) break;
        s.remove_prefix(d.length);
    }
    while (!s.empty()) {
        // The last character starts at most three bytes before the end.
        std::size_t cut = 0;
        for (std::size_t n = 1; n <= 4 && n <= s.size(); ++n) {
            const Decoded d = front(s.substr(s.size() - n));
            if (d.valid && d.length == n) {
                if (is_space(d.code_point)) cut = n;
                break;
            }
        }
        if (cut == 0) break;
        s.remove_suffix(cut);
    }
    return s;
}

std::size_t count(std::string_view s) {
    std::size_t n = 0;
    while (!s.empty()) {
        s.remove_prefix(front(s).length);
        ++n;
    }
    return n;
}

}  // namespace base::utf8
