// IDL default values: conversion of the tokens after `=` to a ThriftValue of the declared type,
// the bracket-counting value skipper, and the recovery after a failed conversion.
#include <string>

#include "parser/parser_impl.hpp"

namespace velmora::detail {

namespace {

// Open-bracket counters of the skipper: parentheses, braces, brackets.
struct BracketDepth {
    std::size_t paren = 0;
    std::size_t brace = 0;
    std::size_t bracket = 0;

    bool open() const noexcept { return paren || brace || bracket; }

    // Closers never take a counter below zero.
    void count(TokenKind kind) noexcept {
        switch (kind) {
            case TokenKind::LeftParen: ++paren; break;
            case TokenKind::LeftBrace: ++brace; break;
            case TokenKind::LeftBracket: ++bracket; break;
            case TokenKind::RightParen: if (paren) --paren; break;
            case TokenKind::RightBrace: if (brace) --brace; break;
            case TokenKind::RightBracket: if (bracket) --bracket; break;
            default: break;
        }
    }
};

// Where the skipper stops, outside any bracket: the start of the next field (its id), of the
// next method or definition (a keyword), a separator or a closer. A `]` stops it too, so that a
// skipped list element leaves the list's closing bracket to the list; a Float counts as a Number.
bool stops_at_depth_zero(TokenKind kind) noexcept {
    switch (kind) {
        case TokenKind::Keyword:
        case TokenKind::Number:
        case TokenKind::Float:
        case TokenKind::Comma:
        case TokenKind::Semicolon:
        case TokenKind::RightParen:
        case TokenKind::RightBrace:
        case TokenKind::RightBracket:
            return true;
        default:
            return false;
    }
}

std::string join_parts(const std::vector<std::string>& parts) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) joined += '.';
        joined += parts[i];
    }
    return joined;
}

// Consumes tokens from `pos` while a bracket is open, then up to a depth-zero stop token.
std::size_t skip_from(std::span<const Token> tokens, std::size_t pos, BracketDepth depth) {
    while (pos < tokens.size()) {
        const TokenKind kind = tokens[pos].kind;
        if (!depth.open() && stops_at_depth_zero(kind)) break;
        depth.count(kind);
        ++pos;
    }
    return pos;
}

}  // namespace

std::optional<ThriftValue> Parser::read_default(const ThriftType& type) {
    const std::size_t start = pos_;
    auto value = convert_default(type);
    if (value.ok()) return std::move(*value);
    recover_after_failed_default(start);
    return std::nullopt;
}

void Parser::recover_after_failed_default(std::size_t start) {
    // Close every bracket the failed conversion opened, then stop like the skipper at depth zero
    // (without its unconditional first step), so nothing after the value is lost.
    BracketDepth depth;
    for (std::size_t i = start; i < pos_; ++i) depth.count(tokens_[i].kind);
    pos_ = skip_from(tokens_, pos_, depth);
}

void Parser::skip_value() {
    if (pos_ >= tokens_.size()) return;
    const TokenKind first = tokens_[pos_].kind;
    switch (first) {
        case TokenKind::Comma:
        case TokenKind::Semicolon:
        case TokenKind::RightParen:
        case TokenKind::RightBrace:
        case TokenKind::RightBracket:
            return;
        default:
            break;
    }
    ++pos_;
    BracketDepth depth;
    depth.count(first);
    pos_ = skip_from(tokens_, pos_, depth);
}

Result<std::int64_t, ParseError> Parser::convert_integer_default() {
    auto t = consume();
    if (!t.ok()) return Err{std::move(t).error()};
    const Token& token = **t;
    if (token.kind == TokenKind::Number) return token.integer;
    if (token.kind != TokenKind::Keyword && token.kind != TokenKind::Identifier)
        return Err{ParseError::unexpected_token(token)};
    auto parts = read_dotted_path(token.text);
    if (!parts.ok()) return Err{std::move(parts).error()};
    if (parts->size() == 2) {
        const auto e = document_.enums.find((*parts)[0]);
        if (e != document_.enums.end()) {
            const auto v = e->second.values.find((*parts)[1]);
            if (v != e->second.values.end()) return static_cast<std::int64_t>(v->second);
        }
    }
    return Err{ParseError::syntax("Unknown numeric default value: " + join_parts(*parts))};
}

Result<ThriftValue, ParseError> Parser::convert_default(const ThriftType& type, std::size_t depth) {
    if (depth > kMaxValueDepth) return Err{ParseError::syntax("Default value nested too deeply")};
    switch (type.kind()) {
        case TypeKind::Bool: {
            auto t = consume();
            if (!t.ok()) return Err{std::move(t).error()};
            const Token& token = **t;
            if (token.kind == TokenKind::Number) return ThriftValue::make_bool(token.integer != 0);
            if (token.kind == TokenKind::Keyword || token.kind == TokenKind::Identifier) {
                if (token.text == "true") return ThriftValue::make_bool(true);
                if (token.text == "false") return ThriftValue::make_bool(false);
            }
            return Err{ParseError::unexpected_token(token)};
        }
        case TypeKind::Byte:
        case TypeKind::I16:
        case TypeKind::I32:
        case TypeKind::I64: {
            auto n = convert_integer_default();
            if (!n.ok()) return Err{std::move(n).error()};
            const auto bits = static_cast<std::uint64_t>(*n);
            switch (type.kind()) {
                case TypeKind::Byte: return ThriftValue::make_byte(static_cast<std::int8_t>(static_cast<std::uint8_t>(bits)));
                case TypeKind::I16: return ThriftValue::make_i16(static_cast<std::int16_t>(static_cast<std::uint16_t>(bits)));
                case TypeKind::I32: return ThriftValue::make_i32(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
                default: return ThriftValue::make_i64(*n);
            }
        }
        case TypeKind::Double: {
            if (next_is(TokenKind::Float)) return ThriftValue::make_double(tokens_[pos_++].real);
            auto n = convert_integer_default();
            if (!n.ok()) return Err{std::move(n).error()};
            return ThriftValue::make_double(static_cast<double>(*n));
        }
        case TypeKind::String:
        case TypeKind::Binary: {
            auto t = consume();
            if (!t.ok()) return Err{std::move(t).error()};
            const Token& token = **t;
            if (type.kind() == TypeKind::Binary) {
                if (token.kind == TokenKind::String) return ThriftValue::make_binary(token.text);
            } else if (token.kind == TokenKind::String || token.kind == TokenKind::Identifier ||
                       token.kind == TokenKind::Keyword) {
                return ThriftValue::make_string(token.text);
            }
            return Err{ParseError::unexpected_token(token)};
        }
        case TypeKind::List:
        case TypeKind::Set: {
            VELMORA_TRY(expect(TokenKind::LeftBracket));
            ThriftValue::List elements;
            while (pos_ < tokens_.size() && !next_is(TokenKind::RightBracket)) {
                const std::size_t before = pos_;
                auto element = convert_default(type.element_type(), depth + 1);
                if (!element.ok()) return Err{std::move(element).error()};
                // An element of no tokens (a skipped named-type element at a separator) would
                // repeat forever.
                if (pos_ == before) return Err{ParseError::unexpected_token(tokens_[pos_])};
                elements.push_back(std::move(*element));
                if (next_is(TokenKind::Comma) || next_is(TokenKind::Semicolon)) ++pos_;
            }
            VELMORA_TRY(expect(TokenKind::RightBracket));
            return type.kind() == TypeKind::List ? ThriftValue::make_list(std::move(elements))
                                                 : ThriftValue::make_set(std::move(elements));
        }
        case TypeKind::Map: {
            VELMORA_TRY(expect(TokenKind::LeftBrace));
            ThriftValue::Entries entries;
            while (pos_ < tokens_.size() && !next_is(TokenKind::RightBrace)) {
                auto key = convert_default(type.key_type(), depth + 1);
                if (!key.ok()) return Err{std::move(key).error()};
                VELMORA_TRY(expect(TokenKind::Colon));
                auto value = convert_default(type.value_type(), depth + 1);
                if (!value.ok()) return Err{std::move(value).error()};
                entries.emplace_back(std::move(*key), std::move(*value));
                if (next_is(TokenKind::Comma) || next_is(TokenKind::Semicolon)) ++pos_;
            }
            VELMORA_TRY(expect(TokenKind::RightBrace));
            return ThriftValue::make_map(std::move(entries));
        }
        case TypeKind::Struct:
            skip_value();
            return ThriftValue::make_struct(type.struct_name());
    }
    return Err{ParseError::syntax("Unknown type kind")};
}

}  // namespace velmora::detail
