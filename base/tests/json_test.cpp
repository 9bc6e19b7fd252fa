#include <base/json.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace base::json;

namespace {

struct SyntaxCase {
    std::string text;
    std::string error;  // full text with position
};

TEST(JsonParse, SyntaxErrorsNameTheFaultAndItsPosition) {
    const std::vector<SyntaxCase> cases = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"   \n  ", "EOF while parsing a value at line 2 column 2"},
        {"{}{}", "trailing characters at line 1 column 3"},
        {"{\"a\":1} {\"b\":2}", "trailing characters at line 1 column 9"},
        {"1 2", "trailing characters at line 1 column 3"},
        {"x", "expected value at line 1 column 1"},
        {"nul", "EOF while parsing a value at line 1 column 3"},
        {"nulx", "expected ident at line 1 column 4"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
        {"{\"a\" 1}", "expected `:` at line 1 column 6"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"{", "EOF while parsing an object at line 1 column 1"},
        {"[", "EOF while parsing a list at line 1 column 1"},
        {"\"abc", "EOF while parsing a string at line 1 column 4"},
        {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"\"\\x\"", "invalid escape at line 1 column 3"},
        {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 7"},
        {"\"\\udc00\"", "lone trailing surrogate in hex escape at line 1 column 7"},
        {"\"\xff\"", "invalid UTF-8 in string at line 1 column 2"},
        {"\"\xc3\"", "invalid UTF-8 in string at line 1 column 2"},
        {"01", "invalid number at line 1 column 2"},
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"-a", "invalid number at line 1 column 2"},
        {"1.", "EOF while parsing a value at line 1 column 2"},
        {"1.e3", "invalid number at line 1 column 3"},
        {"1e", "EOF while parsing a value at line 1 column 2"},
        {"1e999", "number out of range at line 1 column 5"},
        {"{\n  \"a\": tru\n}", "expected ident at line 3 column 0"},
    };
    for (const auto& c : cases) {
        auto r = parse(c.text);
        ASSERT_FALSE(r.has_value()) << c.text;
        EXPECT_EQ(r.error().text(), c.error) << c.text;
    }
}

TEST(JsonParse, RecursionIsBounded) {
    std::string deep(100000, '[');
    auto r = parse(deep);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "recursion limit exceeded");
    std::string ok = std::string(max_depth, '[') + std::string(max_depth, ']');
    EXPECT_TRUE(parse(ok));
}

TEST(JsonParse, KeepsMemberOrderDuplicatesAndPositions) {
    auto r = parse("{\"b\":1,\n \"a\":[true,null],\"b\":\"x\"}");
    ASSERT_TRUE(r) << r.error().text();
    ASSERT_EQ(r->object.size(), 3u);
    EXPECT_EQ(r->object[0].key, "b");
    EXPECT_EQ(r->object[1].key, "a");
    EXPECT_EQ(r->object[2].key, "b");
    EXPECT_EQ(r->object[2].value.string, "x");
    EXPECT_EQ(r->object[1].key_end, (Position{2, 4}));
    EXPECT_EQ(r->object[1].value.start, (Position{2, 6}));
    EXPECT_EQ(r->object[1].value.end, (Position{2, 16}));
    EXPECT_EQ(r->start, (Position{1, 1}));
    EXPECT_EQ(r->end, (Position{2, 25}));
    EXPECT_EQ(r->find("b")->u, 1u);
}

TEST(JsonParse, NumbersKeepIntegersExact) {
    struct Case {
        std::string text;
        NumberKind kind;
        std::uint64_t u;
        std::int64_t i;
        double f;
    };
    const std::vector<Case> cases = {
        {"0", NumberKind::Unsigned, 0, 0, 0},
        {"18446744073709551615", NumberKind::Unsigned, 18446744073709551615ull, 0, 1.8446744073709552e19},
        {"18446744073709551616", NumberKind::Float, 0, 0, 1.8446744073709552e19},
        {"-9223372036854775808", NumberKind::Signed, 0, INT64_MIN, -9.223372036854775808e18},
        {"-1", NumberKind::Signed, 0, -1, -1},
        {"-0", NumberKind::Float, 0, 0, -0.0},
        {"2.5", NumberKind::Float, 0, 0, 2.5},
        {"1E2", NumberKind::Float, 0, 0, 100},
        {"1e-400", NumberKind::Float, 0, 0, 0},
    };
    for (const auto& c : cases) {
        auto r = parse(c.text);
        ASSERT_TRUE(r) << c.text << ": " << r.error().text();
        EXPECT_EQ(r->number_kind, c.kind) << c.text;
        if (c.kind == NumberKind::Unsigned) { EXPECT_EQ(r->u, c.u) << c.text; }
        if (c.kind == NumberKind::Signed) { EXPECT_EQ(r->i, c.i) << c.text; }
        EXPECT_DOUBLE_EQ(r->f, c.f) << c.text;
    }
}

TEST(JsonParse, StringEscapesDecode) {
    auto r = parse(R"("a\"b\\c\/d\b\f\n\r\t\u00e9\ud83d\ude00")");
    ASSERT_TRUE(r) << r.error().text();
    EXPECT_EQ(r->string, "a\"b\\c/d\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80");
}

TEST(JsonWrite, EscapesOnlyWhatMustBeEscaped) {
    std::string in = "q\"b\\s/\b\t\n\f\r\x01\x1f\x7f \xc3\xa9\xe6\x97\xa5";
    std::string out;
    append_string(out, in);
    EXPECT_EQ(out, "\"q\\\"b\\\\s/\\b\\t\\n\\f\\r\\u0001\\u001f\x7f \xc3\xa9\xe6\x97\xa5\"");
    auto back = parse(out);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->string, in);
}

TEST(JsonWrite, CompactWithSeparators) {
    std::string out;
    Writer w(out);
    w.begin_object()
        .key("a").number(std::uint64_t(1))
        .key("b").begin_array().boolean(true).null().number(std::int64_t(-3)).begin_object().end_object().end_array()
        .key("c").string("x")
        .key("d").begin_array().end_array()
        .end_object();
    EXPECT_EQ(out, R"({"a":1,"b":[true,null,-3,{}],"c":"x","d":[]})");
}

TEST(JsonWrite, ParsedValueWritesBackInOrderWithDuplicates) {
    std::string text = R"({"z":1,"a":[1.5,-2,"s"],"z":{"k":null}})";
    auto v = parse(text);
    ASSERT_TRUE(v);
    EXPECT_EQ(to_string(*v), text);
}

TEST(JsonFloat, ShortestLayout) {
    struct Case {
        float v;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0.0f, "0.0"},
        {-0.0f, "-0.0"},
        {1.0f, "1.0"},
        {0.25f, "0.25"},
        {0.5f, "0.5"},
        {0.1f, "0.1"},
        {0.333333343f, "0.33333334"},
        {0.000001f, "0.000001"},
        {0.0000001f, "1e-7"},
        {0.00000123f, "0.00000123"},
        {1.5e-10f, "1.5e-10"},
        {12.5f, "12.5"},
        {100.0f, "100.0"},
        {1e12f, "1000000000000.0"},
        {1e13f, "1e13"},
        {1.5e20f, "1.5e20"},
        {-2.75f, "-2.75"},
        {std::numeric_limits<float>::infinity(), "null"},
        {std::numeric_limits<float>::quiet_NaN(), "null"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_f32(c.v), c.text) << c.text;
    EXPECT_EQ(format_f64(0.1), "0.1");
    EXPECT_EQ(format_f64(1e15), "1000000000000000.0");
    EXPECT_EQ(format_f64(1e16), "1e16");
    EXPECT_EQ(format_f64(0.00001), "0.00001");
    EXPECT_EQ(format_f64(0.000001), "1e-6");
}

TEST(JsonFloat, RandomFloatsReadBackIdentical) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::uint32_t> bits;
    for (int n = 0; n < 20000; ++n) {
        std::uint32_t b = bits(rng);
        float f;
        std::memcpy(&f, &b, sizeof f);
        if (!std::isfinite(f)) continue;
        std::string text = format_f32(f);
        ASSERT_TRUE(text.find('.') != std::string::npos || text.find('e') != std::string::npos) << text;
        auto v = parse(text);
        ASSERT_TRUE(v) << text;
        float back = *get_f32(*v);
        ASSERT_EQ(std::memcmp(&back, &f, sizeof f), 0) << text;
    }
}

// --- typed decoding ---------------------------------------------------------

Value parsed(std::string_view text) {
    auto v = parse(text);
    EXPECT_TRUE(v) << text;
    return v ? *v : Value{};
}

TEST(JsonDecode, PrimitiveTypeAndRangeErrors) {
    struct Case {
        std::string text;
        std::function<std::optional<Error>(const Value&)> decode;
        std::string error;  // empty: succeeds
    };
    auto err = [](auto f) {
        return [f](const Value& v) -> std::optional<Error> {
            auto r = f(v);
            if (r) return std::nullopt;
            return r.error();
        };
    };
    const std::vector<Case> cases = {
        {"4294967295", err(get_u32), ""},
        {"4294967296", err(get_u32), "invalid value: integer `4294967296`, expected u32 at line 1 column 10"},
        {"-1", err(get_u64), "invalid value: integer `-1`, expected u64 at line 1 column 2"},
        {"1.5", err(get_u32), "invalid type: floating point `1.5`, expected u32 at line 1 column 3"},
        {"\"7\"", err(get_u32), "invalid type: string \"7\", expected u32 at line 1 column 3"},
        {"-2147483649", err(get_i32), "invalid value: integer `-2147483649`, expected i32 at line 1 column 11"},
        {"null", err(get_f32), "invalid type: null, expected f32 at line 1 column 4"},
        {"3", err(get_f32), ""},
        {"true", err(get_string), "invalid type: boolean `true`, expected a string at line 1 column 4"},
        {"[]", err(get_string), "invalid type: sequence, expected a string at line 1 column 2"},
        {"{}", err(get_bool), "invalid type: map, expected a boolean at line 1 column 2"},
        {"\"a\\\"b\"", err(get_bool), "invalid type: string \"a\\\"b\", expected a boolean at line 1 column 6"},
    };
    for (const auto& c : cases) {
        Value v = parsed(c.text);
        auto e = c.decode(v);
        if (c.error.empty()) {
            EXPECT_FALSE(e) << c.text << ": " << e->text();
        } else {
            ASSERT_TRUE(e) << c.text;
            EXPECT_EQ(e->text(), c.error) << c.text;
        }
    }
}

constexpr std::string_view kFields[] = {"name", "size", "note"};

struct Thing {
    std::string name;
    std::uint64_t size = 0;
    std::optional<std::string> note;
};

Result<Thing> read_thing(const Value& v) {
    auto rec = Record::open(v, "struct Thing", kFields);
    if (!rec) return std::unexpected(rec.error());
    Thing t;
    auto name = rec->get(0, get_string);
    if (!name) return std::unexpected(name.error());
    t.name = *name;
    auto size = rec->get(1, get_u64);
    if (!size) return std::unexpected(size.error());
    t.size = *size;
    auto note = rec->get_optional(2, get_string);
    if (!note) return std::unexpected(note.error());
    t.note = *note;
    return t;
}

TEST(JsonDecode, RecordsFromObjectsAndArrays) {
    struct Case {
        std::string text;
        std::string error;
        std::string name = {};
        std::optional<std::string> note = {};
    };
    const std::vector<Case> cases = {
        {R"({"size":3,"extra":[1,{"x":2}],"name":"n"})", "", "n"},
        {R"({"name":"n","size":3,"note":null})", "", "n"},
        {R"({"name":"n","size":3,"note":"x"})", "", "n", "x"},
        {R"(["n",3,"x"])", "", "n", "x"},
        {R"(["n",3,null])", "", "n"},
        {R"({"name":"n","note":"x"})", "missing field `size` at line 1 column 23"},
        {R"({"name":"n","size":3,"name":"m"})", "duplicate field `name` at line 1 column 27"},
        {R"({"x":1,"x":2,"name":"n","size":3})", "", "n"},
        {R"(["n",3])", "invalid length 2, expected struct Thing with 3 elements at line 1 column 7"},
        {R"(["n",3,null,4])", "invalid length 4, expected struct Thing with 3 elements at line 1 column 14"},
        {R"("n")", "invalid type: string \"n\", expected struct Thing at line 1 column 3"},
        {R"({"name":"n","size":-3})", "invalid value: integer `-3`, expected u64 at line 1 column 21"},
    };
    for (const auto& c : cases) {
        Value v = parsed(c.text);
        auto t = read_thing(v);
        if (c.error.empty()) {
            ASSERT_TRUE(t) << c.text << ": " << t.error().text();
            EXPECT_EQ(t->name, c.name) << c.text;
            EXPECT_EQ(t->size, 3u) << c.text;
            EXPECT_EQ(t->note, c.note) << c.text;
        } else {
            ASSERT_FALSE(t) << c.text;
            EXPECT_EQ(t.error().text(), c.error) << c.text;
        }
    }
    EXPECT_EQ(with_elements("struct variant E::One", 1), "struct variant E::One with 1 element");
}

constexpr std::string_view kKinds[] = {"Alpha", "Beta", "Gamma"};

TEST(JsonDecode, VariantsByNameOrIndex) {
    struct Case {
        std::string text;
        bool allow_index;
        std::string error;
        std::size_t index = 0;
        bool has_data = false;
    };
    const std::vector<Case> cases = {
        {R"("Beta")", false, "", 1},
        {R"({"Gamma":[1,2]})", false, "", 2, true},
        {"2", true, "", 2},
        {R"({"1":7})", true, "", 1, true},
        {"3", true, "invalid value: integer `3`, expected variant index 0 <= i < 3 at line 1 column 1"},
        {R"({"9":7})", true, "invalid value: integer `9`, expected variant index 0 <= i < 3 at line 1 column 4"},
        {"2", false, "invalid type: integer `2`, expected string or map at line 1 column 1"},
        {R"("Delta")", false, "unknown variant `Delta`, expected one of `Alpha`, `Beta`, `Gamma` at line 1 column 7"},
        {R"({"alpha":1})", false, "unknown variant `alpha`, expected one of `Alpha`, `Beta`, `Gamma` at line 1 column 8"},
        {R"({"Alpha":1,"Beta":2})", false, "invalid value: map, expected map with a single key at line 1 column 20"},
        {R"({})", false, "invalid value: map, expected map with a single key at line 1 column 2"},
        {"[1]", false, "invalid type: sequence, expected string or map at line 1 column 3"},
        {"-1", true, "invalid type: integer `-1`, expected variant identifier at line 1 column 2"},
    };
    for (const auto& c : cases) {
        Value v = parsed(c.text);
        auto r = external_variant(v, kKinds, c.allow_index);
        if (c.error.empty()) {
            ASSERT_TRUE(r) << c.text << ": " << r.error().text();
            EXPECT_EQ(r->index, c.index) << c.text;
            EXPECT_EQ(r->data != nullptr, c.has_data) << c.text;
        } else {
            ASSERT_FALSE(r) << c.text;
            EXPECT_EQ(r.error().text(), c.error) << c.text;
        }
    }
    constexpr std::string_view one[] = {"Only"};
    EXPECT_EQ(unknown_variant("x", one, {}).message, "unknown variant `x`, expected `Only`");
}

TEST(JsonDecode, ListsDecodeEveryElement) {
    auto ok = get_list(parsed("[1,2,3]"), get_u32);
    ASSERT_TRUE(ok);
    EXPECT_EQ(*ok, (std::vector<std::uint32_t>{1, 2, 3}));
    auto bad = get_list(parsed("[1,\"2\"]"), get_u32);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().text(), "invalid type: string \"2\", expected u32 at line 1 column 6");
    auto notlist = get_list(parsed("{}"), get_u32);
    ASSERT_FALSE(notlist);
    EXPECT_EQ(notlist.error().message, "invalid type: map, expected a sequence");
}

// A shape that refuses unknown keys, lets an array form (behind a tag) be
// short and names null its own way: a short array fails only at the field it
// lacks, a long one at once.
TEST(JsonDecode, ShapesWithShortArraysAndUnknownKeys) {
    static constexpr std::string_view names[] = {"a", "b"};
    static constexpr std::string_view tag[] = {"type"};
    const Shape shape{"struct Pair", "struct Pair with 2 elements", names, true, tag, 1, false, "unit value"};
    struct Case {
        std::string text;
        std::string error;  // of reading both fields as u32, message only
    };
    const std::vector<Case> cases = {
        {R"({"type":"p","a":1,"b":2})", ""},
        {R"(["p",1,2])", ""},
        {R"(["p",1])", "invalid length 1, expected struct Pair with 2 elements"},
        {R"(["p",1,2,3])", "invalid length 3, expected fewer elements in array"},
        {R"({"a":1,"b":2,"c":3})", "unknown field `c`, expected `a` or `b`"},
        {R"({"a":1})", "missing field `b`"},
        {"null", "invalid type: unit value, expected struct Pair"},
        {"true", "invalid type: boolean `true`, expected struct Pair"},
    };
    for (const auto& c : cases) {
        Value v = parsed(c.text);
        auto rec = Record::open(v, shape);
        Result<std::uint32_t> sum = rec ? rec->get(0, get_u32) : Result<std::uint32_t>(std::unexpected(rec.error()));
        if (sum) {
            auto b = rec->get(1, get_u32);
            sum = b ? Result<std::uint32_t>(*sum + *b) : Result<std::uint32_t>(std::unexpected(b.error()));
        }
        if (c.error.empty()) {
            ASSERT_TRUE(sum) << c.text << ": " << sum.error().text();
            EXPECT_EQ(*sum, 3u) << c.text;
        } else {
            ASSERT_FALSE(sum) << c.text;
            EXPECT_EQ(sum.error().message, c.error) << c.text;
        }
    }
}

}  // namespace
