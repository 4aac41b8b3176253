// JSON value tree, parser and printer; the number-text helpers; Base64; UTF-8 validation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "protocol/base64.hpp"
#include "protocol/json_value.hpp"
#include "protocol/number_text.hpp"
#include "protocol/utf8.hpp"
#include "test_util.hpp"

namespace velmora::protocol {
namespace {

using Kind = JsonValue::Kind;

TEST(JsonParse, NumberKinds) {
    struct Case {
        const char* text;
        Kind kind;
        const char* printed;
    };
    const Case cases[] = {
        {"0", Kind::UInt, "0"},
        {"-0", Kind::UInt, "0"},
        {"18446744073709551615", Kind::UInt, "18446744073709551615"},
        {"18446744073709551616", Kind::Float, "1.8446744073709552e19"},
        {"-1", Kind::Int, "-1"},
        {"-9223372036854775808", Kind::Int, "-9223372036854775808"},
        {"-9223372036854775809", Kind::Float, "-9.223372036854776e18"},
        {"1.0", Kind::Float, "1.0"},
        {"1e2", Kind::Float, "100.0"},
        {"-2.5E-1", Kind::Float, "-0.25"},
        {"1e-400", Kind::Float, "0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto v = parse_json(c.text);
        ASSERT_TRUE(v.ok()) << v.error().message;
        EXPECT_EQ(v->kind(), c.kind);
        EXPECT_EQ(to_json(*v), c.printed);
    }
}

TEST(JsonParse, ObjectsAreSortedByKeyAndTheLastDuplicateWins) {
    auto v = parse_json(R"( {"b":1, "a":[true,null,"x"], "b":2, "B":{}} )");
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(to_json(*v), R"({"B":{},"a":[true,null,"x"],"b":2})");
    ASSERT_NE(v->find("b"), nullptr);
    EXPECT_EQ(v->find("b")->as_uint(), 2u);
    EXPECT_EQ(v->find("c"), nullptr);
}

TEST(JsonParse, StringEscapes) {
    auto v = parse_json(R"("\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00\u0000")");
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v->as_string(), std::string("\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80", 14) + std::string(1, '\0'));
}

TEST(JsonParse, ErrorsCarryPhraseLineAndColumn) {
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"  \n ", "EOF while parsing a value at line 2 column 1"},
        {"[1] x", "trailing characters at line 1 column 5"},
        {"{}\n\n}", "trailing characters at line 3 column 1"},
        {"[1,\n2,]", "trailing comma at line 2 column 3"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"{\"a\" 1}", "expected `:` at line 1 column 6"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"[1,", "EOF while parsing a value at line 1 column 3"},
        {"[1", "EOF while parsing a list at line 1 column 2"},
        {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
        {"\"abc", "EOF while parsing a string at line 1 column 4"},
        {"\"a\\x\"", "invalid escape at line 1 column 4"},
        {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 8"},
        {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"\"\xC3\x28\"", "invalid unicode code point at line 1 column 2"},
        {"01", "trailing characters at line 1 column 2"},
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"1.", "EOF while parsing a value at line 1 column 2"},
        {"1.e5", "invalid number at line 1 column 3"},
        {"1e999", "number out of range at line 1 column 1"},
        {"tru", "EOF while parsing a value at line 1 column 3"},
        {"nul!", "expected ident at line 1 column 4"},
        {"x", "expected value at line 1 column 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto v = parse_json(c.text);
        ASSERT_FALSE(v.ok());
        EXPECT_EQ(v.error().message, c.message);
    }
}

TEST(JsonParse, NestingLimitIs128) {
    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(parse_json(nested(128)).ok());
    auto v = parse_json(nested(129));
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.error().message, "recursion limit exceeded at line 1 column 129");
    // Objects count too.
    std::string objects;
    for (int i = 0; i < 129; ++i) objects += "{\"a\":";
    EXPECT_FALSE(parse_json(objects + "1" + std::string(129, '}')).ok());
}

TEST(JsonPrint, FloatsAreShortestRoundTripWithThePlainScientificSwitch) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {1.0, "1.0"},
        {-2.5, "-2.5"},
        {0.1, "0.1"},
        {123456.789, "123456.789"},
        {0.0001, "0.0001"},
        {1e-5, "0.00001"},
        {1.5e-5, "0.000015"},
        {9.99e-6, "9.99e-6"},
        {1e-6, "1e-6"},
        {1.5e-7, "1.5e-7"},
        {1e15, "1000000000000000.0"},
        {9999999999999998.0, "9999999999999998.0"},
        {1e16, "1e16"},
        {1.5e16, "1.5e16"},
        {1.7976931348623157e308, "1.7976931348623157e308"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::quiet_NaN(), "null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(format_double(c.value), c.text);
        if (std::isfinite(c.value)) {
            auto back = parse_json(c.text);
            ASSERT_TRUE(back.ok());
            EXPECT_EQ(back->to_f64(), c.value);
        }
    }
}

TEST(JsonPrint, StringEscapes) {
    std::string out;
    append_json_string(out, std::string("q\"b\\ \b\f\n\r\t\x01\x1f\x7f/\xE2\x82\xAC", 17) + std::string(1, '\0'));
    EXPECT_EQ(out, "\"q\\\"b\\\\ \\b\\f\\n\\r\\t\\u0001\\u001f\x7f/\xE2\x82\xAC\\u0000\"");
}

TEST(JsonPrint, MapKeyText) {
    EXPECT_EQ(json_key_text(JsonValue::integer(-3)), "-3");
    EXPECT_EQ(json_key_text(JsonValue::unsigned_integer(3)), "3");
    EXPECT_EQ(json_key_text(JsonValue::number(1.0)), "1.0");
    EXPECT_EQ(json_key_text(JsonValue::string("a\"b")), "a\"b");
    EXPECT_EQ(json_key_text(JsonValue::boolean(true)), "true");
    EXPECT_EQ(json_key_text(JsonValue()), "null");
    EXPECT_EQ(json_key_text(JsonValue::array({JsonValue::string("x")})), "[\"x\"]");
}

TEST(NumberText, DecimalParsers) {
    EXPECT_EQ(parse_i64_text("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(parse_i64_text("+42"), 42);
    for (const char* bad : {"", "-", "+", "9223372036854775808", "1.0", " 1", "1 ", "0x1", "--1"})
        EXPECT_EQ(parse_i64_text(bad), std::nullopt) << bad;
    EXPECT_EQ(parse_i16_text("-32768"), -32768);
    EXPECT_EQ(parse_i16_text("32768"), std::nullopt);

    EXPECT_EQ(parse_f64_text("1."), 1.0);
    EXPECT_EQ(parse_f64_text(".5"), 0.5);
    EXPECT_EQ(parse_f64_text("-2.5E-1"), -0.25);
    EXPECT_EQ(parse_f64_text("InFiNiTy"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parse_f64_text("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parse_f64_text("1e-999"), 0.0);
    EXPECT_TRUE(std::isnan(*parse_f64_text("nan")));
    for (const char* bad : {"", ".", "e5", "1e", "1e+", "0x10", "nan(1)", " 1", "1,5", "infinit"})
        EXPECT_EQ(parse_f64_text(bad), std::nullopt) << bad;
}

TEST(Base64, EncodesPaddedStandardAlphabet) {
    struct Case {
        const char* plain;
        const char* encoded;
    };
    const Case cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
                          {"\xfb\xff", "+/8="}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoded);
        const auto plain = test::text_bytes(c.plain);
        EXPECT_EQ(base64_encode(plain), c.encoded);
        std::vector<std::uint8_t> back;
        ASSERT_TRUE(base64_decode(c.encoded, back).ok());
        EXPECT_EQ(back, plain);
    }
}

TEST(Base64, DecodeErrors) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"Zm9vY", "Invalid input length"},
        {"Zm8", "Invalid padding"},
        {"Zm$v", "Invalid symbol 36, offset 2."},
        {"Zm9v\n", "Invalid input length"},
        {"Z===", "Invalid symbol 61, offset 1."},
        {"Zm=v", "Invalid symbol 61, offset 2."},
        {"Zh==", "Invalid last symbol 104, offset 1."},
        {"Zm9=", "Invalid last symbol 57, offset 2."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::uint8_t> out;
        auto r = base64_decode(c.text, out);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().message, c.message);
    }
}

TEST(Utf8, FirstFaultAndItsKind) {
    struct Case {
        std::string bytes;
        std::optional<Utf8Error> error;
    };
    const Case cases[] = {
        {"plain ascii, long enough for the word-at-a-time path", std::nullopt},
        {"h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF", std::nullopt},
        {"a\x80", Utf8Error{1, 1}},
        {"0123456789abcdefghij\xFF", Utf8Error{20, 1}},
        {"\xC0\x80", Utf8Error{0, 1}},          // overlong
        {"\xE0\x80\x80", Utf8Error{0, 1}},      // overlong
        {"\xED\xA0\x80", Utf8Error{0, 1}},      // surrogate
        {"\xF4\x90\x80\x80", Utf8Error{0, 1}},  // above U+10FFFF
        {"\xF5\x80\x80\x80", Utf8Error{0, 1}},
        {"\xE2\x82x", Utf8Error{0, 2}},
        {"\xF0\x9F\x98x", Utf8Error{0, 3}},
        {"ab\xE2\x82", Utf8Error{2, 0}},
        {"\xF0\x9F\x98", Utf8Error{0, 0}},
        {"\xC3", Utf8Error{0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test::to_hex(test::text_bytes(c.bytes)));
        EXPECT_EQ(validate_utf8(std::string_view(c.bytes)), c.error);
    }
    EXPECT_EQ(Utf8Error({3, 2}).text(), "invalid utf-8 sequence of 2 bytes from index 3");
    EXPECT_EQ(Utf8Error({7, 0}).text(), "incomplete utf-8 byte sequence from index 7");
}

}  // namespace
}  // namespace velmora::protocol
