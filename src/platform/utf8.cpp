#include "platform/utf8.hpp"

#include <cstdint>

namespace platform {

namespace {

// Length of the valid sequence at the front of `s`, or 0 when invalid.
// On 0, `bad` is the length of the maximal invalid prefix to replace.
std::size_t sequence_length(std::string_view s, std::size_t& bad) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(0);
    bad = 1;
    if (c < 0x80) return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if (k >= s.size()) return 0;
        unsigned char d = byte(k);
        bool ok = k == 1 ? (d >= lo && d <= hi) : (d >= 0x80 && d <= 0xBF);
        if (!ok) return 0;
        bad = k + 1;
    }
    return n;
}

} // namespace

bool is_valid_utf8(std::string_view s) {
    while (!s.empty()) {
        std::size_t bad;
        std::size_t n = sequence_length(s, bad);
        if (n == 0) return false;
        s.remove_prefix(n);
    }
    return true;
}

std::string lossy_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    while (!s.empty()) {
        std::size_t bad;
        std::size_t n = sequence_length(s, bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            s.remove_prefix(bad);
        } else {
            out.append(s.substr(0, n));
            s.remove_prefix(n);
        }
    }
    return out;
}

namespace {

std::size_t space_at_front(std::string_view s) {
    if (s.empty()) return 0;
    unsigned char c = static_cast<unsigned char>(s[0]);
    if ((c >= 0x09 && c <= 0x0D) || c == 0x20) return 1;
    auto starts = [&](std::string_view seq) { return s.substr(0, seq.size()) == seq; };
    if (starts("\xC2\x85") || starts("\xC2\xA0")) return 2;
    if (starts("\xE1\x9A\x80") || starts("\xE2\x80\xA8") || starts("\xE2\x80\xA9") ||
        starts("\xE2\x80\xAF") || starts("\xE2\x81\x9F") || starts("\xE3\x80\x80"))
        return 3;
    if (s.size() >= 3 && c == 0xE2 && static_cast<unsigned char>(s[1]) == 0x80 &&
        static_cast<unsigned char>(s[2]) >= 0x80 && static_cast<unsigned char>(s[2]) <= 0x8A)
        return 3;
    return 0;
}

std::size_t space_at_back(std::string_view s) {
    for (std::size_t n = 1; n <= 3 && n <= s.size(); ++n)
        if (space_at_front(s.substr(s.size() - n)) == n) return n;
    return 0;
}

} // namespace

std::string_view trim_space(std::string_view s) {
    while (std::size_t n = space_at_front(s)) s.remove_prefix(n);
    while (std::size_t n = space_at_back(s)) s.remove_suffix(n);
    return s;
}

} // namespace platform
