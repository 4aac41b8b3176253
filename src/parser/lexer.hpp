// IDL lexer: tokens, parse errors and tokenize(text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parser/model.hpp"
#include "result.hpp"

namespace velmora {

// Kind order is fixed; the names are observable through "Unexpected token: ..." messages.
enum class TokenKind : std::uint8_t {
    Keyword,       // text: one of the fourteen keywords
    Identifier,    // text: any other word
    Number,        // integer: decimal or hexadecimal integer literal
    String,        // text: between double or single quotes, no escapes
    Symbol,        // symbol: never produced by the lexer
    Comma,
    Semicolon,
    LeftParen,
    RightParen,
    LeftBrace,
    RightBrace,
    LeftBracket,
    RightBracket,
    LessThan,
    GreaterThan,
    Colon,
    Equal,
    Dot,
    Asterisk,
    Float,         // real: literal with a fraction and/or an exponent
    Ampersand,
};
inline constexpr std::size_t kTokenKindCount = 21;

// "Keyword", "Identifier", ..., "Ampersand".
std::string_view token_kind_name(TokenKind kind) noexcept;

struct Token {
    TokenKind kind = TokenKind::Comma;
    std::string text;           // Keyword, Identifier, String
    std::int64_t integer = 0;   // Number
    double real = 0.0;          // Float
    char32_t symbol = 0;        // Symbol

    static Token make_keyword(std::string text) { return {TokenKind::Keyword, std::move(text), 0, 0.0, 0}; }
    static Token make_identifier(std::string text) { return {TokenKind::Identifier, std::move(text), 0, 0.0, 0}; }
    static Token make_number(std::int64_t v) { return {TokenKind::Number, {}, v, 0.0, 0}; }
    static Token make_string(std::string text) { return {TokenKind::String, std::move(text), 0, 0.0, 0}; }
    static Token make_symbol(char32_t c) { return {TokenKind::Symbol, {}, 0, 0.0, c}; }
    static Token make_float(double v) { return {TokenKind::Float, {}, 0, v, 0}; }
    // A kind without payload (Comma .. Asterisk, Ampersand).
    static Token make(TokenKind kind) { return {kind, {}, 0, 0.0, 0}; }

    bool is(TokenKind k) const noexcept { return kind == k; }
    // A Keyword token with exactly this text.
    bool is_keyword(std::string_view word) const noexcept { return kind == TokenKind::Keyword && text == word; }
    bool operator==(const Token& other) const = default;
};

// Debug form: `Comma`, `Identifier("foo")`, `Keyword("struct")`, `String("a\\b")`, `Number(-5)`,
// `Float(1.5)`, `Symbol('x')`.
void append_debug(std::string& out, const Token& token);

enum class ParseErrorKind : std::uint8_t { Syntax, UnexpectedToken, UnexpectedEof };

// The first error of a tokenize or parse. Its text() is what callers show after "Parse error: ".
struct ParseError {
    ParseErrorKind kind = ParseErrorKind::UnexpectedEof;
    std::string message;  // Syntax
    Token token;          // UnexpectedToken

    static ParseError syntax(std::string message) { return {ParseErrorKind::Syntax, std::move(message), {}}; }
    static ParseError unexpected_token(Token token) { return {ParseErrorKind::UnexpectedToken, {}, std::move(token)}; }
    static ParseError unexpected_eof() { return {ParseErrorKind::UnexpectedEof, {}, {}}; }

    // "Syntax error: " + message / "Unexpected token: " + debug form of the token / "End of input".
    std::string text() const;
    bool operator==(const ParseError& other) const = default;
};

// Splits the whole text into tokens. Fails with a Syntax error "Unexpected input: " + a quoted
// preview (at most 40 bytes, cut on a character boundary) of the first text no rule matches,
// or "Integer literal out of range: ..." for an integer literal outside the signed 64-bit range.
// Never fails otherwise; accepts any bytes (invalid UTF-8 is simply not a word character).
Result<std::vector<Token>, ParseError> tokenize(std::string_view text);

}  // namespace velmora
