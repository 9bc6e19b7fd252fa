#include <zem/theme/error.hpp>

#include <fmt/format.h>

namespace zem::theme {

std::string ThemeError::display() const {
    switch (kind) {
        case Kind::Io: return fmt::format("reading {}: {}", path.string(), text);
        case Kind::ParseJson: return fmt::format("parsing {}: {}", path.string(), text);
        case Kind::NotFound: return fmt::format("theme `{}` not found in any search path", text);
        case Kind::InvalidColor:
            return fmt::format("invalid colour `{}` (expected #RRGGBB, #RRGGBBAA or rgb[a](…))", text);
        case Kind::UnknownColorRef:
            return fmt::format(
                "unknown reference `@{}` (not defined in top-level `colors`, `gradients` or `inset_stacks`)", text);
    }
    return {};
}

std::string ThemeError::debug() const {
    switch (kind) {
        case Kind::Io: return fmt::format("Io({}, {})", debug_quote(path.string()), debug_quote(text));
        case Kind::ParseJson: return fmt::format("ParseJson({}, {})", debug_quote(path.string()), debug_quote(text));
        case Kind::NotFound: return fmt::format("NotFound({})", debug_quote(text));
        case Kind::InvalidColor: return fmt::format("InvalidColor({})", debug_quote(text));
        case Kind::UnknownColorRef: return fmt::format("UnknownColorRef({})", debug_quote(text));
    }
    return {};
}

}  // namespace zem::theme
