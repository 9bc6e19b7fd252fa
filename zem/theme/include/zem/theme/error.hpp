#pragma once
// The failure of a theme load.

#include <filesystem>

#include <base/quote.hpp>
#include <string>

namespace zem::theme {

struct ThemeError {
    enum class Kind { Io, ParseJson, NotFound, InvalidColor, UnknownColorRef };

    Kind kind = Kind::NotFound;
    // Io: the path of "theme.json"; ParseJson: the theme directory.
    std::filesystem::path path;
    // Io: the system error; ParseJson: the reader's message; NotFound: the theme
    // name; InvalidColor: the message; UnknownColorRef: the referenced name.
    std::string text;

    static ThemeError io(std::filesystem::path file, std::string error) {
        return {Kind::Io, std::move(file), std::move(error)};
    }
    static ThemeError parse_json(std::filesystem::path dir, std::string error) {
        return {Kind::ParseJson, std::move(dir), std::move(error)};
    }
    static ThemeError not_found(std::string name) { return {Kind::NotFound, {}, std::move(name)}; }
    static ThemeError invalid_color(std::string text) { return {Kind::InvalidColor, {}, std::move(text)}; }
    static ThemeError unknown_color_ref(std::string name) { return {Kind::UnknownColorRef, {}, std::move(name)}; }

    // The text shown to people ("theme `x` not found in any search path").
    std::string display() const;
    // The variant name and its fields, strings quoted: NotFound("default").
    std::string debug() const;

    friend bool operator==(const ThemeError&, const ThemeError&) = default;
};

using base::debug_quote;

}  // namespace zem::theme
