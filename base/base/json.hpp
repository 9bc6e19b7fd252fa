#pragma once
// Strict JSON: one reader and one writer for every JSON text the toolkit and
// the installer handle (wire protocol lines, theme files, session files).
//
// Reading
//   `parse(text)` reads exactly one JSON value surrounded by optional white
//   space. The resulting `Value` keeps everything a strict typed reader needs:
//   object members in document order, duplicate members (they are reported
//   by the typed helpers, not dropped), and the line/column of each value.
//   Integers stay exact (unsigned or signed 64-bit); other numbers are
//   doubles.
//
// Positions
//   Lines start at 1. A column counts bytes from the start of its line and
//   names the last byte consumed, so 0 means "nothing read yet on this line"
//   (an empty text fails "at line 1 column 0"). `Value::start` is the first
//   byte of a value, `Value::end` its last byte; `Member::key_end` is the
//   closing quote of a member's key.
//
// Errors
//   Every failure is an `Error`: a message and a position. `Error::text()`
//   gives "<message> at line L column C". The typed-decoding helpers below
//   build the messages a strict record reader gives:
//     missing field `x`
//     duplicate field `x`
//     unknown variant `x`, expected one of `a`, `b`
//     invalid type: string "x", expected struct Plan
//     invalid value: integer `7`, expected variant index 0 <= i < 5
//     invalid length 2, expected struct Plan with 6 elements
//
// Writing
//   `Writer` appends compact JSON (no blanks, no line breaks) to a string.
//   Strings escape '"', '\\', \b \t \n \f \r, other bytes below 0x20 as
//   \u00XX (lower-case hex); everything else, non-ASCII included, is copied.
//   `format_f32` / `format_f64` give the shortest text that reads back as the
//   same float, always with a '.' or an exponent: 0.0, 1.0, 0.25, 0.000001,
//   1e-7, 1.5e20.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace base::json {

struct Position {
    std::uint32_t line = 1;
    std::uint32_t column = 0;
    bool operator==(const Position&) const = default;
};

struct Error {
    std::string message;
    Position position;
    // "<message> at line L column C"
    std::string text() const;
};

template <class T>
using Result = std::expected<T, Error>;

enum class Kind { Null, Bool, Number, String, Array, Object };

// How a number was written: a non-negative integer, a negative integer, or
// anything else (fraction, exponent, or an integer too large for 64 bits).
enum class NumberKind { Unsigned, Signed, Float };

struct Member;

struct Value {
    Kind kind = Kind::Null;
    bool boolean = false;
    NumberKind number_kind = NumberKind::Unsigned;
    std::uint64_t u = 0;   // NumberKind::Unsigned
    std::int64_t i = 0;    // NumberKind::Signed
    double f = 0.0;        // every number, exact only for Float
    std::string string;
    std::vector<Value> array;
    std::vector<Member> object;  // document order, duplicates kept
    Position start;
    Position end;

    bool is_null() const { return kind == Kind::Null; }
    bool is_object() const { return kind == Kind::Object; }
    bool is_array() const { return kind == Kind::Array; }
    bool is_string() const { return kind == Kind::String; }
    bool is_number() const { return kind == Kind::Number; }
    bool is_bool() const { return kind == Kind::Bool; }

    // First member named `key`, or nullptr. Duplicates are not looked at.
    const Value* find(std::string_view key) const;
};

struct Member {
    std::string key;
    Position key_end;
    Value value;
};

// Nesting deeper than this is refused ("recursion limit exceeded") so that
// hostile input cannot exhaust the stack.
inline constexpr int max_depth = 128;

// Reads exactly one value; anything but white space after it is an error
// ("trailing characters"). Strings must be valid UTF-8.
[[nodiscard]] Result<Value> parse(std::string_view text);

// ---------------------------------------------------------------------------
// Typed decoding
// ---------------------------------------------------------------------------

// What an unexpected value is called in a type error: null, boolean `true`,
// integer `5`, integer `-5`, floating point `1.5`, string "x", sequence, map.
std::string describe(const Value& v);

// "invalid type: <describe(v)>, expected <expected>" at v.end
Error invalid_type(const Value& v, std::string_view expected);
// "invalid value: <describe(v)>, expected <expected>" at v.end
Error invalid_value(const Value& v, std::string_view expected);
// "invalid length <n>, expected <expected>"
Error invalid_length(std::size_t n, std::string_view expected, Position at);
// "missing field `<name>`"
Error missing_field(std::string_view name, Position at);
// "duplicate field `<name>`"
Error duplicate_field(std::string_view name, Position at);
// "unknown variant `<name>`, expected one of `a`, `b`"
// (one name: "expected `a`"; none: "there are no variants")
Error unknown_variant(std::string_view name, std::span<const std::string_view> expected,
                      Position at);
// "<description> with N element(s)", the expectation of a record given as an array.
std::string with_elements(std::string_view description, std::size_t n);

// Primitive decoders; the expected descriptions are "a string", "a boolean",
// "u8", "u16", "u32", "u64", "i32", "i64", "f32", "f64". Integers must fit
// their width and sign ("invalid value: integer `-1`, expected u32"); a
// fraction given to an integer field is a type error. Floats accept any
// number, integers included, and refuse null.
[[nodiscard]] Result<std::string> get_string(const Value& v);
[[nodiscard]] Result<bool> get_bool(const Value& v);
[[nodiscard]] Result<std::uint8_t> get_u8(const Value& v);
[[nodiscard]] Result<std::uint16_t> get_u16(const Value& v);
[[nodiscard]] Result<std::uint32_t> get_u32(const Value& v);
[[nodiscard]] Result<std::uint64_t> get_u64(const Value& v);
[[nodiscard]] Result<std::int32_t> get_i32(const Value& v);
[[nodiscard]] Result<std::int64_t> get_i64(const Value& v);
[[nodiscard]] Result<float> get_f32(const Value& v);
[[nodiscard]] Result<double> get_f64(const Value& v);

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string one_of(std::span<const std::string_view> names);
// "unknown field `<name>`, expected one of ..." (none: "there are no fields")
Error unknown_field(std::string_view name, std::span<const std::string_view> expected, Position at);

// How one record's two JSON forms map onto its fields: an object (members
// by name, in any order) or an array of the field values in declaration
// order. Every typed reader of JSON, the wire protocol's and the theme
// files', opens its records through one.
struct Shape {
    std::string_view type;   // what a value of the wrong JSON type expected: "struct Plan"
    std::string_view array;  // what a short array form expected: "struct Plan with 6 elements"
    std::span<const std::string_view> names;
    bool deny_unknown = false;                    // an unknown key fails (else it is ignored)
    std::span<const std::string_view> skip = {};  // keys that belong to an enclosing record
    std::size_t array_offset = 0;                 // leading array elements that are not fields (a tag)
    // The array form must hold exactly the fields (a wrong count fails on
    // open); else a shorter one leaves the rest missing and a longer one
    // fails as "fewer elements in array".
    bool exact_array = true;
    std::string_view null_name = "null";  // how a null is named in the type error
};

//   static constexpr std::string_view kFields[] = {"username", "hostname"};
//   auto rec = Record::open(v, "struct Account", kFields);
//   if (!rec) return std::unexpected(rec.error());
//   auto name = rec->get(0, get_string);
class Record {
public:
    [[nodiscard]] static Result<Record> open(const Value& v, const Shape& shape);
    // An object form that ignores unknown keys, or an array form of exactly
    // the fields.
    [[nodiscard]] static Result<Record> open(const Value& v, std::string_view description,
                                             std::span<const std::string_view> fields);
    // Like open, for a record whose object form is shared with other keys
    // (an internally tagged variant): `skip` names a member that belongs to
    // the enclosing record and is not a field; `array_offset` elements at
    // the front of an array form are skipped likewise.
    [[nodiscard]] static Result<Record> open_inner(const Value& v, std::string_view description,
                                                   std::span<const std::string_view> fields,
                                                   std::string_view skip, std::size_t array_offset);

    // The value of field `index`, or nullptr when the record lacks it.
    const Value* optional(std::size_t index) const { return values_[index]; }
    // The value of field `index`; when absent "missing field `name`" at the
    // record's end (object form) or "invalid length N, expected <array>"
    // (a short array form).
    [[nodiscard]] Result<const Value*> required(std::size_t index) const;
    // Field `index` decoded with `decode`; a missing field is an error.
    template <class F>
    auto get(std::size_t index, F&& decode) const
        -> decltype(decode(std::declval<const Value&>())) {
        auto v = required(index);
        if (!v) return std::unexpected(v.error());
        return decode(**v);
    }
    // Field `index` decoded with `decode`; missing or null gives nullopt.
    template <class F>
    auto get_optional(std::size_t index, F&& decode) const
        -> Result<std::optional<typename decltype(decode(std::declval<const Value&>()))::value_type>> {
        const Value* v = values_[index];
        if (!v || v->is_null()) return std::nullopt;
        auto r = decode(*v);
        if (!r) return std::unexpected(r.error());
        return std::optional(std::move(*r));
    }
    // Field `index` decoded with `decode`; missing gives `fallback` (a null
    // is decoded).
    template <class T, class F>
    Result<T> get_or(std::size_t index, T fallback, F&& decode) const {
        if (!values_[index]) return fallback;
        return decode(*values_[index]);
    }

    Position end() const { return end_; }

private:
    std::vector<const Value*> values_;
    std::span<const std::string_view> names_;
    bool from_array_ = false;
    std::size_t available_ = 0;  // array elements after the offset
    std::string array_expectation_;
    Position end_;
};

// A list: every element decoded with `decode` ("a sequence" when not an array).
template <class F>
auto get_list(const Value& v, F&& decode)
    -> Result<std::vector<typename decltype(decode(std::declval<const Value&>()))::value_type>> {
    using T = typename decltype(decode(std::declval<const Value&>()))::value_type;
    if (!v.is_array()) return std::unexpected(invalid_type(v, "a sequence"));
    std::vector<T> out;
    out.reserve(v.array.size());
    for (const Value& e : v.array) {
        auto r = decode(e);
        if (!r) return std::unexpected(r.error());
        out.push_back(std::move(*r));
    }
    return out;
}

// Which of `names` a variant identifier names. A string must be one of the
// names ("unknown variant ..."). When `allow_index` is set a non-negative
// integer is the 0-based index ("invalid value: integer `9`, expected
// variant index 0 <= i < N" when outside). Anything else:
// "invalid type: ..., expected variant identifier".
[[nodiscard]] Result<std::size_t> variant_index(const Value& v, std::span<const std::string_view> names,
                                  bool allow_index);

// An externally tagged union: either a bare variant identifier (a variant
// without data) or an object with a single member whose key names the kind
// and whose value is the kind's data. With `allow_index`, a key made only of
// ASCII digits is read as the kind's index.
struct Variant {
    std::size_t index = 0;
    const Value* data = nullptr;  // nullptr for the bare form
    const Value* whole = nullptr;
};
[[nodiscard]] Result<Variant> external_variant(const Value& v, std::span<const std::string_view> names,
                                 bool allow_index);

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

// Appends `s` quoted and escaped as described above. Bytes are copied as
// they are: callers that need valid UTF-8 check it (base::utf8::is_valid).
void append_string(std::string& out, std::string_view s);
// Shortest text reading back as the same float; "null" when not finite.
std::string format_f32(float v);
std::string format_f64(double v);

// Compact writer: separators are inserted automatically.
//   std::string out; Writer w(out);
//   w.begin_object().key("a").number(1u).key("b").begin_array().end_array().end_object();
class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}
    Writer& begin_object();
    Writer& end_object();
    Writer& begin_array();
    Writer& end_array();
    Writer& key(std::string_view k);
    Writer& string(std::string_view s);
    Writer& boolean(bool b);
    Writer& null();
    Writer& number(std::uint64_t n);
    Writer& number(std::int64_t n);
    Writer& number(std::uint32_t n) { return number(static_cast<std::uint64_t>(n)); }
    Writer& number(std::int32_t n) { return number(static_cast<std::int64_t>(n)); }
    // Shortest round-trip text, null when not finite.
    Writer& number_f32(float f);
    Writer& number_f64(double f);
    // A whole parsed value (member order and duplicates as they are).
    Writer& value(const Value& v);

private:
    void separate();
    std::string& out_;
    // One entry per open container: has it got an element yet?
    std::vector<bool> nonempty_;
    bool after_key_ = false;
};

// Compact text of a value.
std::string to_string(const Value& v);

}  // namespace base::json
