#include <zem/theme/loader.hpp>

#include <base/utf8.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <zem/theme/schema/read.hpp>
#include <zem/theme/theme.hpp>

namespace zem::theme {

namespace {

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string_view strip_hashes(std::string_view text) {
    while (!text.empty() && text.front() == '#') text.remove_prefix(1);
    return text;
}

// Reads a side table whose entries must all be of one JSON kind.
std::expected<TokenTable, std::string> read_token_table(const json::Value& top, std::string_view key,
                                                        json::Kind kind, std::string_view expectation) {
    TokenTable table;
    if (!top.is_object()) return table;
    const json::Value* member = top.find(key);
    if (!member) return table;
    if (!member->is_object()) return std::unexpected("`" + std::string(key) + "` must be an object");
    for (const json::Member& m : member->object) {
        if (m.value.kind != kind)
            return std::unexpected("`" + std::string(key) + "." + m.key + "` must be " + std::string(expectation));
        table.insert_or_assign(m.key, m.value);
    }
    return table;
}

std::expected<std::string, std::string> read_text_file(const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::unexpected(std::string(std::strerror(errno)));
    std::string text;
    char buffer[65536];
    for (;;) {
        std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        text.append(buffer, n);
        if (n < sizeof buffer) break;
    }
    const bool failed = std::ferror(f) != 0;
    const int saved = errno;
    std::fclose(f);
    if (failed) return std::unexpected(std::string(std::strerror(saved ? saved : EIO)));
    if (!base::utf8::is_valid(text)) return std::unexpected(std::string("stream did not contain valid UTF-8"));
    return text;
}

}  // namespace

void normalize_objects(json::Value& value) {
    if (value.is_array()) {
        for (json::Value& e : value.array) normalize_objects(e);
        return;
    }
    if (!value.is_object()) return;
    auto& members = value.object;
    // Stable, so that among equal keys the last written stays last.
    std::stable_sort(members.begin(), members.end(),
                     [](const json::Member& a, const json::Member& b) { return a.key < b.key; });
    std::vector<json::Member> unique;
    unique.reserve(members.size());
    for (auto& m : members) {
        if (!unique.empty() && unique.back().key == m.key) unique.back() = std::move(m);
        else unique.push_back(std::move(m));
    }
    members = std::move(unique);
    for (json::Member& m : members) normalize_objects(m.value);
}

std::expected<ColourTable, std::string> read_colors_table(const json::Value& top) {
    ColourTable table;
    if (!top.is_object()) return table;
    const json::Value* colors = top.find("colors");
    if (!colors) return table;
    if (!colors->is_object()) return std::unexpected(std::string("`colors` must be an object"));
    for (const json::Member& m : colors->object) {
        if (!m.value.is_string()) return std::unexpected("`colors." + m.key + "` must be a hex string");
        std::string_view digits = strip_hashes(m.value.string);
        if ((digits.size() != 6 && digits.size() != 8) || !std::all_of(digits.begin(), digits.end(), is_hex_digit))
            return std::unexpected("`colors." + m.key + "` = `" + m.value.string +
                                   "` (expected #RRGGBB or #RRGGBBAA)");
        table.insert_or_assign(m.key, m.value.string);
    }
    return table;
}

std::expected<TokenTable, std::string> read_gradients_table(const json::Value& top) {
    return read_token_table(top, "gradients", json::Kind::Object, "paint object");
}

std::expected<TokenTable, std::string> read_inset_stacks_table(const json::Value& top) {
    return read_token_table(top, "inset_stacks", json::Kind::Array, "array of inset-shadow definitions");
}

std::expected<void, ThemeError> resolve_references(json::Value& value, const ColourTable& colours,
                                                   const TokenTable& tokens) {
    if (value.is_array()) {
        for (json::Value& e : value.array) {
            auto r = resolve_references(e, colours, tokens);
            if (!r) return r;
        }
        return {};
    }
    if (value.is_object()) {
        for (json::Member& m : value.object) {
            auto r = resolve_references(m.value, colours, tokens);
            if (!r) return r;
        }
        return {};
    }
    if (!value.is_string() || value.string.empty() || value.string.front() != '@') return {};

    const std::string_view body = std::string_view(value.string).substr(1);
    const std::size_t slash = body.find('/');
    const std::string name(body.substr(0, slash));
    const std::optional<std::string> suffix =
        slash == std::string_view::npos ? std::nullopt : std::optional(std::string(body.substr(slash + 1)));

    if (auto token = tokens.find(name); token != tokens.end()) {
        if (suffix)
            return std::unexpected(ThemeError::invalid_color("@" + name + " is a paint/inset token — alpha override `/" +
                                                             *suffix + "` is not applicable"));
        const json::Position start = value.start, end = value.end;
        value = token->second;
        value.start = start;
        value.end = end;
        return {};
    }
    if (auto colour = colours.find(name); colour != colours.end()) {
        const std::string_view digits = strip_hashes(colour->second);
        if (!suffix) {
            value.string = "#" + std::string(digits);
            return {};
        }
        if (suffix->size() != 2 || !is_hex_digit((*suffix)[0]) || !is_hex_digit((*suffix)[1]))
            return std::unexpected(
                ThemeError::invalid_color("@" + name + "/" + *suffix + " (alpha must be two hex digits)"));
        value.string = "#" + std::string(digits.substr(0, 6)) + *suffix;
        return {};
    }
    return std::unexpected(ThemeError::unknown_color_ref(name));
}

std::expected<Theme, ThemeError> load_theme_file(const std::filesystem::path& dir) {
    const std::filesystem::path file = dir / "theme.json";
    auto text = read_text_file(file);
    if (!text) return std::unexpected(ThemeError::io(file, text.error()));

    auto parsed = json::parse(*text);
    if (!parsed) return std::unexpected(ThemeError::parse_json(dir, parsed.error().text()));
    json::Value document = std::move(*parsed);
    normalize_objects(document);

    auto colours = read_colors_table(document);
    if (!colours) return std::unexpected(ThemeError::invalid_color(colours.error()));
    auto gradients = read_gradients_table(document);
    if (!gradients) return std::unexpected(ThemeError::invalid_color(gradients.error()));
    auto insets = read_inset_stacks_table(document);
    if (!insets) return std::unexpected(ThemeError::invalid_color(insets.error()));

    TokenTable tokens = std::move(*gradients);
    for (auto& [name, stack] : *insets) {
        if (tokens.contains(name))
            return std::unexpected(
                ThemeError::invalid_color("name `" + name + "` is defined in both `gradients` and `inset_stacks`"));
        tokens.emplace(name, std::move(stack));
    }

    // Tokens may refer to colours only, never to one another.
    const TokenTable no_tokens;
    for (auto& [name, token] : tokens) {
        auto r = resolve_references(token, *colours, no_tokens);
        if (!r) return std::unexpected(r.error());
    }

    if (document.is_object()) {
        std::erase_if(document.object, [](const json::Member& m) {
            return m.key == "colors" || m.key == "gradients" || m.key == "inset_stacks";
        });
    }
    if (auto r = resolve_references(document, *colours, tokens); !r) return std::unexpected(r.error());

    auto raw = schema::read_document(document);
    if (!raw) return std::unexpected(ThemeError::parse_json(dir, raw.error().message));

    Theme theme;
    theme.id = std::move(raw->theme.id);
    theme.name = std::move(raw->theme.name);
    theme.dir = dir;
    for (auto& [key, family] : raw->fonts) {
        FontFamily out;
        out.name = std::move(family.name);
        out.fallbacks = std::move(family.fallbacks);
        for (const RawFontSource& s : family.sources) out.sources.push_back(resolve_font_source(s, theme.dir));
        theme.fonts.emplace(key, std::move(out));
    }
    auto light = Mode::resolve(std::move(raw->modes.light), theme.dir);
    if (!light) return std::unexpected(light.error());
    auto dark = Mode::resolve(std::move(raw->modes.dark), theme.dir);
    if (!dark) return std::unexpected(dark.error());
    theme.light = std::move(*light);
    theme.dark = std::move(*dark);
    return theme;
}

}  // namespace zem::theme
