// Lexer: token shapes, separators, literals (decimal, hexadecimal, float, double- and
// single-quoted), `&`, Unicode words, the unexpected-input preview and integer overflow.
#include <gtest/gtest.h>

#include <string>

#include "parser/lexer.hpp"

namespace velmora {
namespace {

// Tokens in debug form separated by spaces, or "error: " + the error text.
std::string lex(std::string_view text) {
    auto r = tokenize(text);
    if (!r.ok()) return "error: " + r.error().text();
    std::string out;
    for (const auto& t : *r) {
        if (!out.empty()) out += ' ';
        append_debug(out, t);
    }
    return out;
}

struct LexCase {
    std::string text;
    std::string expected;
    friend void PrintTo(const LexCase& c, std::ostream* os) { *os << c.text; }
};

class LexTable : public ::testing::TestWithParam<LexCase> {};

TEST_P(LexTable, Tokens) { EXPECT_EQ(lex(GetParam().text), GetParam().expected) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Basics, LexTable, ::testing::Values(
    LexCase{"struct A{1:i32 x}",
            R"(Keyword("struct") Identifier("A") LeftBrace Number(1) Colon Identifier("i32") Identifier("x") RightBrace)"},
    LexCase{"", ""},
    LexCase{" \t\r\n // c\n# d\n/* e \n */", ""},
    LexCase{"( ) , ; < > [ ] { } : = . *",
            "LeftParen RightParen Comma Semicolon LessThan GreaterThan LeftBracket RightBracket LeftBrace "
            "RightBrace Colon Equal Dot Asterisk"},
    LexCase{"enum const union struct oneway throws service include typedef extends required optional "
            "namespace exception",
            R"(Keyword("enum") Keyword("const") Keyword("union") Keyword("struct") Keyword("oneway") )"
            R"(Keyword("throws") Keyword("service") Keyword("include") Keyword("typedef") Keyword("extends") )"
            R"(Keyword("required") Keyword("optional") Keyword("namespace") Keyword("exception"))"},
    LexCase{"Struct STRUCT structs struct void senum _x __ a_1",
            R"(Identifier("Struct") Identifier("STRUCT") Identifier("structs") Keyword("struct") )"
            R"(Identifier("void") Identifier("senum") Identifier("_x") Identifier("__") Identifier("a_1"))"},
    LexCase{"-7 0 007", "Number(-7) Number(0) Number(7)"},
    LexCase{"12ab", R"(Number(12) Identifier("ab"))"},
    LexCase{"a.b", R"(Identifier("a") Dot Identifier("b"))"},
    LexCase{"- 7", R"(error: Syntax error: Unexpected input: "- 7")"},
    LexCase{"-", R"(error: Syntax error: Unexpected input: "-")"},
    LexCase{"+5", R"(error: Syntax error: Unexpected input: "+5")"},
    LexCase{"x @y", R"(error: Syntax error: Unexpected input: "@y")"},
    LexCase{"x | y", R"(error: Syntax error: Unexpected input: "| y")"},
    LexCase{"x / y", R"(error: Syntax error: Unexpected input: "/ y")"},
    // A backslash is an ordinary character: "a\" is a string, b an identifier, the last quote
    // has no partner.
    LexCase{R"("a\"b")", R"(error: Syntax error: Unexpected input: "\"")"},
    LexCase{R"("a\" b)", R"(String("a\\") Identifier("b"))"},
    LexCase{"\"multi\nline\"", R"(String("multi\nline"))"},
    LexCase{"\"x", R"(error: Syntax error: Unexpected input: "\"x")"},
    LexCase{"a // comment", R"(Identifier("a"))"},
    LexCase{"a # comment", R"(Identifier("a"))"},
    LexCase{"a /* b */ c /* d", R"(error: Syntax error: Unexpected input: "/* d")"},
    LexCase{"a /* b /* c */ d */", R"(error: Syntax error: Unexpected input: "/")"},
    LexCase{"a /**/ b", R"(Identifier("a") Identifier("b"))"},
    LexCase{"a\fb", R"(error: Syntax error: Unexpected input: "b")"},
    LexCase{"a\f", R"(Identifier("a"))"},
    LexCase{"a\v \u00a0\u3000", R"(Identifier("a"))"},
    LexCase{"a \u00a0b", R"(error: Syntax error: Unexpected input: "b")"},
    LexCase{"a \u00a0b\u00a0 ", R"(error: Syntax error: Unexpected input: "b")"},
    LexCase{"a b\u00ad", R"(error: Syntax error: Unexpected input: "\u{ad}")"},
    // The preview: at most 40 bytes, cut before a character that would cross byte 40.
    LexCase{"@" + std::string(50, 'x'), R"(error: Syntax error: Unexpected input: "@)" + std::string(39, 'x') + "\""},
    LexCase{"@" + std::string(38, 'x') + "\u00e9z", R"(error: Syntax error: Unexpected input: "@)" + std::string(38, 'x') + "\""},
    LexCase{"@" + std::string(37, 'x') + "\u00e9z", R"(error: Syntax error: Unexpected input: "@)" + std::string(37, 'x') + "\u00e9\""},
    LexCase{"@\t\"\\\x01\x7f", R"(error: Syntax error: Unexpected input: "@\t\"\\\u{1}\u{7f}")"},
    // Unicode letters and digits continue a word but cannot start one.
    LexCase{"na\u00efve x\u0661\u0662 x\u00c5ngstr\u00f6m_1",
            "Identifier(\"na\u00efve\") Identifier(\"x\u0661\u0662\") Identifier(\"x\u00c5ngstr\u00f6m_1\")"},
    LexCase{"\u00c5x", "error: Syntax error: Unexpected input: \"\u00c5x\""},
    LexCase{"a\u00e9 \u00e9", "error: Syntax error: Unexpected input: \"\u00e9\""},
    LexCase{"a\u2603", "error: Syntax error: Unexpected input: \"\u2603\""},
    LexCase{"a\xff", R"(error: Syntax error: Unexpected input: "\xff")"}));

INSTANTIATE_TEST_SUITE_P(Literals, LexTable, ::testing::Values(
    LexCase{"1.5 -2.5 1e10 2.5E-3 085.2355 1E+2 0.0",
            "Float(1.5) Float(-2.5) Float(10000000000.0) Float(0.0025) Float(85.2355) Float(100.0) Float(0.0)"},
    LexCase{"1e300 1e-300 1e999 -1e999 1e-999", "Float(1e300) Float(1e-300) Float(inf) Float(-inf) Float(0.0)"},
    LexCase{"1. .5 1e 1.e5", R"(Number(1) Dot Dot Number(5) Number(1) Identifier("e") Number(1) Dot Identifier("e5"))"},
    LexCase{"1e+", R"(error: Syntax error: Unexpected input: "+")"},
    LexCase{"1.5.3 1.5x", R"(Float(1.5) Dot Number(3) Float(1.5) Identifier("x"))"},
    LexCase{"0x1F 0X1f -0x10 0xabcdef 0x7FFFFFFFFFFFFFFF -0x8000000000000000",
            "Number(31) Number(31) Number(-16) Number(11259375) Number(9223372036854775807) "
            "Number(-9223372036854775808)"},
    LexCase{"0x 0xg 0x1g", R"(Number(0) Identifier("x") Number(0) Identifier("xg") Number(1) Identifier("g"))"},
    LexCase{"'abc' 'it\"s' \"it's\"", R"(String("abc") String("it\"s") String("it's"))"},
    LexCase{"'abc", R"(error: Syntax error: Unexpected input: "'abc")"},
    LexCase{"a & b&c", R"(Identifier("a") Ampersand Identifier("b") Ampersand Identifier("c"))"},
    LexCase{"9223372036854775807 -9223372036854775808", "Number(9223372036854775807) Number(-9223372036854775808)"},
    LexCase{"9223372036854775808", "error: Syntax error: Integer literal out of range: 9223372036854775808"},
    LexCase{"-9223372036854775809", "error: Syntax error: Integer literal out of range: -9223372036854775809"},
    LexCase{"0x8000000000000000", "error: Syntax error: Integer literal out of range: 0x8000000000000000"},
    LexCase{std::string(60, '9'), "error: Syntax error: Integer literal out of range: " + std::string(40, '9') + "..."},
    LexCase{std::string(400, '9') + ".5", "Float(inf)"}));

TEST(Lexer, KindOrderAndNames) {
    EXPECT_EQ(static_cast<int>(TokenKind::Asterisk), 18);
    EXPECT_EQ(static_cast<int>(TokenKind::Float), 19);
    EXPECT_EQ(static_cast<int>(TokenKind::Ampersand), 20);
    EXPECT_EQ(token_kind_name(TokenKind::Symbol), "Symbol");
    EXPECT_EQ(to_debug_string(Token::make_symbol(U'x')), "Symbol('x')");
    EXPECT_EQ(to_debug_string(Token::make_symbol(U'\'')), R"(Symbol('\''))");
    EXPECT_EQ(to_debug_string(Token::make_number(-5)), "Number(-5)");
}

TEST(Lexer, ErrorTexts) {
    EXPECT_EQ(ParseError::syntax("x").text(), "Syntax error: x");
    EXPECT_EQ(ParseError::unexpected_token(Token::make(TokenKind::Comma)).text(), "Unexpected token: Comma");
    EXPECT_EQ(ParseError::unexpected_token(Token::make_identifier("x")).text(), R"(Unexpected token: Identifier("x"))");
    EXPECT_EQ(ParseError::unexpected_eof().text(), "End of input");
}

}  // namespace
}  // namespace velmora
