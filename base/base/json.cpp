#include <base/json.hpp>

#include <base/quote.hpp>
#include <base/utf8.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace base::json {

std::string Error::text() const {
    return message + " at line " + std::to_string(position.line) + " column " +
           std::to_string(position.column);
}

const Value* Value::find(std::string_view key) const {
    for (const Member& m : object)
        if (m.key == key) return &m.value;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Reader
// ---------------------------------------------------------------------------

namespace {

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    Result<Value> document() {
        Value v;
        if (auto e = value(v, 0)) return std::unexpected(*e);
        skip_ws();
        if (i_ < s_.size()) return std::unexpected(peek_error("trailing characters"));
        return v;
    }

private:
    using Failure = std::optional<Error>;

    Position here() const { return {line_, col_}; }
    Position peek_pos() const { return i_ < s_.size() ? Position{line_, col_ + 1} : here(); }
    Error error(std::string m) const { return {std::move(m), here()}; }
    Error peek_error(std::string m) const { return {std::move(m), peek_pos()}; }

    bool at_end() const { return i_ >= s_.size(); }
    char peek() const { return s_[i_]; }
    void bump() {
        if (s_[i_] == '\n') {
            ++line_;
            col_ = 0;
        } else {
            ++col_;
        }
        ++i_;
    }
    void skip_ws() {
        while (!at_end() && is_ws(peek())) bump();
    }

    Failure value(Value& out, int depth) {
        skip_ws();
        if (at_end()) return error("EOF while parsing a value");
        out.start = peek_pos();
        Failure f;
        switch (peek()) {
        case 'n':
            f = ident("null");
            out.kind = Kind::Null;
            break;
        case 't':
            f = ident("true");
            out.kind = Kind::Bool;
            out.boolean = true;
            break;
        case 'f':
            f = ident("false");
            out.kind = Kind::Bool;
            out.boolean = false;
            break;
        case '"':
            out.kind = Kind::String;
            f = string(out.string);
            break;
        case '[':
            out.kind = Kind::Array;
            f = array(out, depth + 1);
            break;
        case '{':
            out.kind = Kind::Object;
            f = object(out, depth + 1);
            break;
        default:
            if (peek() == '-' || (peek() >= '0' && peek() <= '9')) {
                out.kind = Kind::Number;
                f = number(out);
            } else {
                return peek_error("expected value");
            }
        }
        if (f) return f;
        out.end = here();
        return std::nullopt;
    }

    Failure ident(std::string_view word) {
        for (char c : word) {
            if (at_end()) return error("EOF while parsing a value");
            char got = peek();
            bump();
            if (got != c) return error("expected ident");
        }
        return std::nullopt;
    }

    Failure digits(std::size_t& count) {
        count = 0;
        while (!at_end() && peek() >= '0' && peek() <= '9') {
            bump();
            ++count;
        }
        return std::nullopt;
    }

    Failure number(Value& out) {
        std::size_t begin = i_;
        bool negative = false;
        if (peek() == '-') {
            negative = true;
            bump();
            if (at_end()) return error("EOF while parsing a value");
        }
        if (peek() == '0') {
            bump();
            if (!at_end() && peek() >= '0' && peek() <= '9') return peek_error("invalid number");
        } else if (peek() >= '1' && peek() <= '9') {
            std::size_t n;
            digits(n);
        } else {
            return peek_error("invalid number");
        }
        bool integral = true;
        if (!at_end() && peek() == '.') {
            integral = false;
            bump();
            std::size_t n;
            digits(n);
            if (n == 0) return at_end() ? error("EOF while parsing a value") : peek_error("invalid number");
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            integral = false;
            bump();
            if (!at_end() && (peek() == '+' || peek() == '-')) bump();
            std::size_t n;
            digits(n);
            if (n == 0) return at_end() ? error("EOF while parsing a value") : peek_error("invalid number");
        }
        std::string_view text = s_.substr(begin, i_ - begin);
        if (integral) {
            std::string_view mag = negative ? text.substr(1) : text;
            std::uint64_t u = 0;
            auto [p, ec] = std::from_chars(mag.data(), mag.data() + mag.size(), u);
            (void)p;
            if (ec == std::errc()) {
                if (!negative) {
                    out.number_kind = NumberKind::Unsigned;
                    out.u = u;
                    out.f = static_cast<double>(u);
                    return std::nullopt;
                }
                if (u != 0 && u <= std::uint64_t(1) << 63) {
                    out.number_kind = NumberKind::Signed;
                    out.i = u == (std::uint64_t(1) << 63) ? std::numeric_limits<std::int64_t>::min()
                                                          : -static_cast<std::int64_t>(u);
                    out.f = static_cast<double>(out.i);
                    return std::nullopt;
                }
            }
        }
        out.number_kind = NumberKind::Float;
        double d = 0;
        auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
        (void)p;
        if (ec == std::errc::result_out_of_range) {
            // Underflow reads as zero; overflow has no value to read as.
            bool tiny = text.find("e-") != std::string_view::npos ||
                        text.find("E-") != std::string_view::npos;
            if (!tiny) return error("number out of range");
            d = negative ? -0.0 : 0.0;
        } else if (ec != std::errc()) {
            return error("invalid number");
        }
        out.f = d;
        return std::nullopt;
    }

    static int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    Failure hex4(std::uint32_t& cp) {
        cp = 0;
        for (int k = 0; k < 4; ++k) {
            if (at_end()) return error("EOF while parsing a string");
            int h = hex(peek());
            bump();
            if (h < 0) return error("invalid escape");
            cp = cp * 16 + std::uint32_t(h);
        }
        return std::nullopt;
    }

    Failure string(std::string& out) {
        bump();  // opening quote
        while (true) {
            if (at_end()) return error("EOF while parsing a string");
            char c = peek();
            if (c == '"') {
                bump();
                return std::nullopt;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                bump();
                return error("control character (\\u0000-\\u001F) found while parsing a string");
            }
            if (c == '\\') {
                bump();
                if (at_end()) return error("EOF while parsing a string");
                char e = peek();
                bump();
                switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::uint32_t cp;
                    if (auto f = hex4(cp)) return f;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return error("lone trailing surrogate in hex escape");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (at_end()) return error("EOF while parsing a string");
                        if (peek() != '\\') return error("lone leading surrogate in hex escape");
                        bump();
                        if (at_end()) return error("EOF while parsing a string");
                        if (peek() != 'u') return error("lone leading surrogate in hex escape");
                        bump();
                        std::uint32_t low;
                        if (auto f = hex4(low)) return f;
                        if (low < 0xDC00 || low > 0xDFFF) return error("lone leading surrogate in hex escape");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    utf8::append(out, cp);
                    break;
                }
                default:
                    return error("invalid escape");
                }
                continue;
            }
            std::size_t n = utf8::sequence_length(s_.substr(i_));
            if (n == 0) {
                bump();
                return error("invalid UTF-8 in string");
            }
            out.append(s_.substr(i_, n));
            for (std::size_t k = 0; k < n; ++k) bump();
        }
    }

    Failure array(Value& out, int depth) {
        if (depth > max_depth) return peek_error("recursion limit exceeded");
        bump();
        skip_ws();
        if (at_end()) return error("EOF while parsing a list");
        if (peek() == ']') {
            bump();
            return std::nullopt;
        }
        while (true) {
            Value v;
            if (auto f = value(v, depth)) return f;
            out.array.push_back(std::move(v));
            skip_ws();
            if (at_end()) return error("EOF while parsing a list");
            if (peek() == ']') {
                bump();
                return std::nullopt;
            }
            if (peek() != ',') return peek_error("expected `,` or `]`");
            bump();
            skip_ws();
            if (!at_end() && peek() == ']') return peek_error("trailing comma");
        }
    }

    Failure object(Value& out, int depth) {
        if (depth > max_depth) return peek_error("recursion limit exceeded");
        bump();
        skip_ws();
        if (at_end()) return error("EOF while parsing an object");
        if (peek() == '}') {
            bump();
            return std::nullopt;
        }
        while (true) {
            if (at_end()) return error("EOF while parsing an object");
            if (peek() != '"') return peek_error("key must be a string");
            Member m;
            if (auto f = string(m.key)) return f;
            m.key_end = here();
            skip_ws();
            if (at_end()) return error("EOF while parsing an object");
            if (peek() != ':') return peek_error("expected `:`");
            bump();
            if (auto f = value(m.value, depth)) return f;
            out.object.push_back(std::move(m));
            skip_ws();
            if (at_end()) return error("EOF while parsing an object");
            if (peek() == '}') {
                bump();
                return std::nullopt;
            }
            if (peek() != ',') return peek_error("expected `,` or `}`");
            bump();
            skip_ws();
            if (!at_end() && peek() == '}') return peek_error("trailing comma");
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::uint32_t line_ = 1;
    std::uint32_t col_ = 0;
};

}  // namespace

Result<Value> parse(std::string_view text) { return Parser(text).document(); }

// ---------------------------------------------------------------------------
// Typed decoding
// ---------------------------------------------------------------------------

std::string describe(const Value& v) {
    switch (v.kind) {
    case Kind::Null: return "null";
    case Kind::Bool: return v.boolean ? "boolean `true`" : "boolean `false`";
    case Kind::Number:
        switch (v.number_kind) {
        case NumberKind::Unsigned: return "integer `" + std::to_string(v.u) + "`";
        case NumberKind::Signed: return "integer `" + std::to_string(v.i) + "`";
        case NumberKind::Float: return "floating point `" + format_f64(v.f) + "`";
        }
        break;
    case Kind::String: return "string " + debug_quote(v.string);
    case Kind::Array: return "sequence";
    case Kind::Object: return "map";
    }
    return "value";
}

Error invalid_type(const Value& v, std::string_view expected) {
    return {"invalid type: " + describe(v) + ", expected " + std::string(expected), v.end};
}

Error invalid_value(const Value& v, std::string_view expected) {
    return {"invalid value: " + describe(v) + ", expected " + std::string(expected), v.end};
}

Error invalid_length(std::size_t n, std::string_view expected, Position at) {
    return {"invalid length " + std::to_string(n) + ", expected " + std::string(expected), at};
}

Error missing_field(std::string_view name, Position at) {
    return {"missing field `" + std::string(name) + "`", at};
}

Error duplicate_field(std::string_view name, Position at) {
    return {"duplicate field `" + std::string(name) + "`", at};
}

Error unknown_variant(std::string_view name, std::span<const std::string_view> expected,
                      Position at) {
    std::string m = "unknown variant `" + std::string(name) + "`, ";
    if (expected.empty()) {
        m += "there are no variants";
    } else if (expected.size() == 1) {
        m += "expected `" + std::string(expected[0]) + "`";
    } else {
        m += "expected one of ";
        for (std::size_t k = 0; k < expected.size(); ++k) {
            if (k) m += ", ";
            m += "`" + std::string(expected[k]) + "`";
        }
    }
    return {std::move(m), at};
}

std::string with_elements(std::string_view description, std::size_t n) {
    return std::string(description) + " with " + std::to_string(n) +
           (n == 1 ? " element" : " elements");
}

Result<std::string> get_string(const Value& v) {
    if (!v.is_string()) return std::unexpected(invalid_type(v, "a string"));
    return v.string;
}

Result<bool> get_bool(const Value& v) {
    if (!v.is_bool()) return std::unexpected(invalid_type(v, "a boolean"));
    return v.boolean;
}

namespace {

template <class T>
Result<T> get_integer(const Value& v, std::string_view expected) {
    if (!v.is_number() || v.number_kind == NumberKind::Float)
        return std::unexpected(invalid_type(v, expected));
    if (v.number_kind == NumberKind::Unsigned) {
        if (v.u > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
            return std::unexpected(invalid_value(v, expected));
        return static_cast<T>(v.u);
    }
    if constexpr (std::is_unsigned_v<T>) {
        return std::unexpected(invalid_value(v, expected));
    } else {
        if (v.i < static_cast<std::int64_t>(std::numeric_limits<T>::min()))
            return std::unexpected(invalid_value(v, expected));
        return static_cast<T>(v.i);
    }
}

}  // namespace

Result<std::uint8_t> get_u8(const Value& v) { return get_integer<std::uint8_t>(v, "u8"); }
Result<std::uint16_t> get_u16(const Value& v) { return get_integer<std::uint16_t>(v, "u16"); }
Result<std::uint32_t> get_u32(const Value& v) { return get_integer<std::uint32_t>(v, "u32"); }
Result<std::uint64_t> get_u64(const Value& v) { return get_integer<std::uint64_t>(v, "u64"); }
Result<std::int32_t> get_i32(const Value& v) { return get_integer<std::int32_t>(v, "i32"); }
Result<std::int64_t> get_i64(const Value& v) { return get_integer<std::int64_t>(v, "i64"); }

Result<float> get_f32(const Value& v) {
    if (!v.is_number()) return std::unexpected(invalid_type(v, "f32"));
    return static_cast<float>(v.f);
}

Result<double> get_f64(const Value& v) {
    if (!v.is_number()) return std::unexpected(invalid_type(v, "f64"));
    return v.f;
}

std::string one_of(std::span<const std::string_view> names) {
    auto tick = [](std::string_view n) { return "`" + std::string(n) + "`"; };
    if (names.size() == 1) return tick(names[0]);
    if (names.size() == 2) return tick(names[0]) + " or " + tick(names[1]);
    std::string out = "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += ", ";
        out += tick(names[i]);
    }
    return out;
}

Error unknown_field(std::string_view name, std::span<const std::string_view> expected, Position at) {
    std::string m = "unknown field `" + std::string(name) + "`, ";
    if (expected.empty()) return {m + "there are no fields", at};
    return {m + "expected " + one_of(expected), at};
}

Result<Record> Record::open(const Value& v, const Shape& shape) {
    Record r;
    r.names_ = shape.names;
    r.end_ = v.end;
    r.array_expectation_ = shape.array;
    r.values_.assign(shape.names.size(), nullptr);
    if (v.is_object()) {
        for (const Member& m : v.object) {
            auto it = std::find(shape.names.begin(), shape.names.end(), m.key);
            if (it != shape.names.end()) {
                std::size_t k = std::size_t(it - shape.names.begin());
                if (r.values_[k]) return std::unexpected(duplicate_field(m.key, m.key_end));
                r.values_[k] = &m.value;
                continue;
            }
            if (std::find(shape.skip.begin(), shape.skip.end(), m.key) != shape.skip.end()) continue;
            if (shape.deny_unknown) return std::unexpected(unknown_field(m.key, shape.names, m.key_end));
        }
        return r;
    }
    if (v.is_array()) {
        r.from_array_ = true;
        const std::size_t n = v.array.size() > shape.array_offset ? v.array.size() - shape.array_offset : 0;
        if (shape.exact_array ? n != shape.names.size() : n > shape.names.size())
            return std::unexpected(
                invalid_length(n, shape.exact_array ? shape.array : "fewer elements in array", v.end));
        r.available_ = n;
        for (std::size_t k = 0; k < n; ++k) r.values_[k] = &v.array[shape.array_offset + k];
        return r;
    }
    if (v.is_null() && shape.null_name != "null")
        return std::unexpected(Error{"invalid type: " + std::string(shape.null_name) + ", expected " +
                                         std::string(shape.type),
                                     v.end});
    return std::unexpected(invalid_type(v, shape.type));
}

Result<Record> Record::open(const Value& v, std::string_view description,
                            std::span<const std::string_view> fields) {
    return open_inner(v, description, fields, {}, 0);
}

Result<Record> Record::open_inner(const Value& v, std::string_view description,
                                  std::span<const std::string_view> fields,
                                  std::string_view skip, std::size_t array_offset) {
    const std::string array = with_elements(description, fields.size());
    Shape shape{description, array, fields, false, {}, array_offset};
    if (!skip.empty()) shape.skip = std::span<const std::string_view>(&skip, 1);
    return open(v, shape);
}

Result<const Value*> Record::required(std::size_t index) const {
    if (values_[index]) return values_[index];
    if (from_array_) return std::unexpected(invalid_length(available_, array_expectation_, end_));
    return std::unexpected(missing_field(names_[index], end_));
}

namespace {

std::string index_expectation(std::size_t n) {
    return "variant index 0 <= i < " + std::to_string(n);
}

}  // namespace

Result<std::size_t> variant_index(const Value& v, std::span<const std::string_view> names,
                                  bool allow_index) {
    if (v.is_string()) {
        auto it = std::find(names.begin(), names.end(), v.string);
        if (it == names.end()) return std::unexpected(unknown_variant(v.string, names, v.end));
        return std::size_t(it - names.begin());
    }
    if (allow_index && v.is_number() && v.number_kind == NumberKind::Unsigned) {
        if (v.u >= names.size())
            return std::unexpected(invalid_value(v, index_expectation(names.size())));
        return std::size_t(v.u);
    }
    return std::unexpected(invalid_type(v, "variant identifier"));
}

Result<Variant> external_variant(const Value& v, std::span<const std::string_view> names,
                                 bool allow_index) {
    if (v.is_string() || (allow_index && v.is_number())) {
        auto k = variant_index(v, names, allow_index);
        if (!k) return std::unexpected(k.error());
        return Variant{*k, nullptr, &v};
    }
    if (!v.is_object()) return std::unexpected(invalid_type(v, "string or map"));
    if (v.object.size() != 1) return std::unexpected(invalid_value(v, "map with a single key"));
    const Member& m = v.object.front();
    bool digits = allow_index && !m.key.empty() &&
                  std::all_of(m.key.begin(), m.key.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        std::uint64_t n = 0;
        auto [p, ec] = std::from_chars(m.key.data(), m.key.data() + m.key.size(), n);
        (void)p;
        if (ec != std::errc() || n >= names.size())
            return std::unexpected(Error{"invalid value: integer `" + m.key + "`, expected " +
                                             index_expectation(names.size()),
                                         m.key_end});
        return Variant{std::size_t(n), &m.value, &v};
    }
    auto it = std::find(names.begin(), names.end(), m.key);
    if (it == names.end()) return std::unexpected(unknown_variant(m.key, names, m.key_end));
    return Variant{std::size_t(it - names.begin()), &m.value, &v};
}

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

void append_string(std::string& out, std::string_view s) {
    static const char* digits = "0123456789abcdef";
    out += '"';
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out += digits[u >> 4];
                out += digits[u & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

namespace {

// Lays out the shortest digits of a float the way people read numbers:
// plain decimals for moderate magnitudes, an exponent otherwise.
// `max_int` is the largest decimal exponent written without one;
// `min_frac` the smallest (exclusive) for values below one.
template <class F>
std::string format_shortest(F v, int max_int, int min_frac) {
    if (!std::isfinite(v)) return "null";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    (void)ec;
    std::string_view sci(buf, std::size_t(end - buf));
    std::string out;
    if (!sci.empty() && sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    std::size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits += c;
    int exp10 = 0;
    std::string_view es = sci.substr(e + 1);
    if (!es.empty() && es.front() == '+') es.remove_prefix(1);
    std::from_chars(es.data(), es.data() + es.size(), exp10);
    if (digits == "0") return out + "0.0";
    // value = 0.d1d2d3... * 10^kk
    int length = int(digits.size());
    int kk = exp10 + 1;
    int k = kk - length;
    if (k >= 0 && kk <= max_int) {
        out += digits;
        out.append(std::size_t(k), '0');
        out += ".0";
    } else if (kk > 0 && kk <= max_int) {
        out += digits.substr(0, std::size_t(kk));
        out += '.';
        out += digits.substr(std::size_t(kk));
    } else if (kk > min_frac && kk <= 0) {
        out += "0.";
        out.append(std::size_t(-kk), '0');
        out += digits;
    } else {
        out += digits[0];
        if (length > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'e';
        out += std::to_string(kk - 1);
    }
    return out;
}

}  // namespace

std::string format_f32(float v) { return format_shortest(v, 13, -6); }
std::string format_f64(double v) { return format_shortest(v, 16, -5); }

void Writer::separate() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!nonempty_.empty()) {
        if (nonempty_.back()) out_ += ',';
        nonempty_.back() = true;
    }
}

Writer& Writer::begin_object() {
    separate();
    out_ += '{';
    nonempty_.push_back(false);
    return *this;
}

Writer& Writer::end_object() {
    out_ += '}';
    nonempty_.pop_back();
    return *this;
}

Writer& Writer::begin_array() {
    separate();
    out_ += '[';
    nonempty_.push_back(false);
    return *this;
}

Writer& Writer::end_array() {
    out_ += ']';
    nonempty_.pop_back();
    return *this;
}

Writer& Writer::key(std::string_view k) {
    separate();
    append_string(out_, k);
    out_ += ':';
    after_key_ = true;
    return *this;
}

Writer& Writer::string(std::string_view s) {
    separate();
    append_string(out_, s);
    return *this;
}

Writer& Writer::boolean(bool b) {
    separate();
    out_ += b ? "true" : "false";
    return *this;
}

Writer& Writer::null() {
    separate();
    out_ += "null";
    return *this;
}

Writer& Writer::number(std::uint64_t n) {
    separate();
    out_ += std::to_string(n);
    return *this;
}

Writer& Writer::number(std::int64_t n) {
    separate();
    out_ += std::to_string(n);
    return *this;
}

Writer& Writer::number_f32(float f) {
    separate();
    out_ += format_f32(f);
    return *this;
}

Writer& Writer::number_f64(double f) {
    separate();
    out_ += format_f64(f);
    return *this;
}

Writer& Writer::value(const Value& v) {
    switch (v.kind) {
    case Kind::Null: return null();
    case Kind::Bool: return boolean(v.boolean);
    case Kind::Number:
        switch (v.number_kind) {
        case NumberKind::Unsigned: return number(v.u);
        case NumberKind::Signed: return number(v.i);
        case NumberKind::Float: return number_f64(v.f);
        }
        return *this;
    case Kind::String: return string(v.string);
    case Kind::Array:
        begin_array();
        for (const Value& e : v.array) value(e);
        return end_array();
    case Kind::Object:
        begin_object();
        for (const Member& m : v.object) {
            key(m.key);
            value(m.value);
        }
        return end_object();
    }
    return *this;
}

std::string to_string(const Value& v) {
    std::string out;
    Writer(out).value(v);
    return out;
}

}  // namespace base::json
