// IDL lexer: one pass over the text, separators skipped, token rules tried in a fixed order.
#include "parser/lexer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "parser/unicode.hpp"

namespace velmora {

namespace {

constexpr std::array<std::string_view, kTokenKindCount> kTokenKindNames = {
    "Keyword", "Identifier", "Number", "String", "Symbol", "Comma", "Semicolon",
    "LeftParen", "RightParen", "LeftBrace", "RightBrace", "LeftBracket", "RightBracket",
    "LessThan", "GreaterThan", "Colon", "Equal", "Dot", "Asterisk", "Float", "Ampersand",
};

constexpr std::array<std::string_view, 14> kKeywords = {
    "enum", "const", "union", "struct", "oneway", "throws", "service",
    "include", "typedef", "extends", "required", "optional", "namespace", "exception",
};

// Longest text shown after "Unexpected input: " and after "... out of range: ".
constexpr std::size_t kPreviewBytes = 40;

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
int hex_digit_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<TokenKind> punctuation_kind(char c) noexcept {
    switch (c) {
        case '(': return TokenKind::LeftParen;
        case ')': return TokenKind::RightParen;
        case ',': return TokenKind::Comma;
        case ';': return TokenKind::Semicolon;
        case '<': return TokenKind::LessThan;
        case '>': return TokenKind::GreaterThan;
        case '[': return TokenKind::LeftBracket;
        case ']': return TokenKind::RightBracket;
        case '{': return TokenKind::LeftBrace;
        case '}': return TokenKind::RightBrace;
        case ':': return TokenKind::Colon;
        case '=': return TokenKind::Equal;
        case '.': return TokenKind::Dot;
        case '*': return TokenKind::Asterisk;
        case '&': return TokenKind::Ampersand;
        default: return std::nullopt;
    }
}

// The rest of the text with Unicode whitespace removed from both ends.
std::string_view trim_unicode_whitespace(std::string_view rest) {
    std::size_t begin = 0;
    while (begin < rest.size()) {
        const auto d = unicode::decode_utf8(rest, begin);
        if (!d.valid || !unicode::is_whitespace(d.code_point)) break;
        begin += d.length;
    }
    std::size_t end = begin;
    for (std::size_t i = begin; i < rest.size();) {
        const auto d = unicode::decode_utf8(rest, i);
        i += d.length;
        if (!d.valid || !unicode::is_whitespace(d.code_point)) end = i;
    }
    return rest.substr(begin, end - begin);
}

// The longest prefix of at most kPreviewBytes bytes that ends on a character boundary.
std::string_view preview(std::string_view text) {
    std::size_t end = 0;
    while (end < text.size()) {
        const auto d = unicode::decode_utf8(text, end);
        if (end + d.length > kPreviewBytes) break;
        end += d.length;
    }
    return text.substr(0, end);
}

std::string out_of_range_message(std::string_view literal) {
    std::string message = "Integer literal out of range: ";
    if (literal.size() > kPreviewBytes) {
        message.append(literal.substr(0, kPreviewBytes));
        message += "...";
    } else {
        message.append(literal);
    }
    return message;
}

// Value of a Float literal already known to match -?[0-9]+(\.[0-9]+)?([eE][+-]?[0-9]+)?.
// Out of the double range it rounds to infinity or to zero, as IEEE conversion does.
double float_value(std::string_view literal) {
    double v = 0.0;
    const auto r = std::from_chars(literal.data(), literal.data() + literal.size(), v);
    if (r.ec == std::errc()) return v;
    // from_chars reports only overflow and underflow here: tell them apart by the decimal
    // exponent of the first significant digit.
    const bool negative = literal.front() == '-';
    std::size_t i = negative ? 1 : 0;
    long long position = 0;  // decimal exponent of the first significant digit, plus one
    bool seen_significant = false;
    bool in_fraction = false;
    for (; i < literal.size() && literal[i] != 'e' && literal[i] != 'E'; ++i) {
        if (literal[i] == '.') {
            in_fraction = true;
        } else if (!seen_significant && literal[i] == '0') {
            if (in_fraction) --position;
        } else if (!seen_significant) {
            seen_significant = true;
            if (!in_fraction) ++position;
        } else if (!in_fraction) {
            ++position;
        }
    }
    long long exponent = 0;
    if (i < literal.size()) {
        std::size_t j = i + 1;
        const bool exp_negative = literal[j] == '-';
        if (literal[j] == '+' || literal[j] == '-') ++j;
        for (; j < literal.size(); ++j) {
            exponent = exponent * 10 + (literal[j] - '0');
            if (exponent > 1000000) break;  // far beyond any double
        }
        if (exp_negative) exponent = -exponent;
    }
    const double magnitude = position + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    Result<std::vector<Token>, ParseError> run() {
        std::vector<Token> tokens;
        tokens.reserve(text_.size() / 5 + 4);
        for (;;) {
            skip_separators();
            if (pos_ == text_.size()) break;
            const std::size_t before = pos_;
            auto matched = next_token(tokens);
            if (!matched.ok()) return Err{std::move(matched).error()};
            if (!*matched) break;
            if (pos_ == before) return Err{ParseError::syntax("Tokenization failed: a token rule consumed no input")};
        }
        const std::string_view rest = trim_unicode_whitespace(text_.substr(pos_));
        if (!rest.empty()) {
            std::string message = "Unexpected input: ";
            append_debug_quoted(message, preview(rest));
            return Err{ParseError::syntax(std::move(message))};
        }
        return tokens;
    }

private:
    bool at(std::size_t i, char c) const noexcept { return i < text_.size() && text_[i] == c; }
    bool digit_at(std::size_t i) const noexcept { return i < text_.size() && is_digit(text_[i]); }

    void skip_separators() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++pos_;
            } else if (c == '#' || (c == '/' && at(pos_ + 1, '/'))) {
                const std::size_t eol = text_.find('\n', pos_);
                pos_ = eol == std::string_view::npos ? text_.size() : eol;
            } else if (c == '/' && at(pos_ + 1, '*')) {
                const std::size_t close = text_.find("*/", pos_ + 2);
                if (close == std::string_view::npos) return;  // not a comment; lexing stops at '/'
                pos_ = close + 2;
            } else {
                return;
            }
        }
    }

    // Appends the token at pos_; false when no rule matches there.
    Result<bool, ParseError> next_token(std::vector<Token>& tokens) {
        const char c = text_[pos_];
        if (c == '"' || c == '\'') {
            const std::size_t close = text_.find(c, pos_ + 1);
            if (close != std::string_view::npos) {
                tokens.push_back(Token::make_string(std::string(text_.substr(pos_ + 1, close - pos_ - 1))));
                pos_ = close + 1;
                return true;
            }
            return false;  // no other rule starts with a quote
        }
        if (is_digit(c) || (c == '-' && digit_at(pos_ + 1))) return number(tokens);
        if (c == '_' || is_ascii_letter(c)) {
            word(tokens);
            return true;
        }
        if (const auto kind = punctuation_kind(c)) {
            tokens.push_back(Token::make(*kind));
            ++pos_;
            return true;
        }
        return false;
    }

    // -?0[xX][0-9a-fA-F]+ | -?[0-9]+ with an optional fraction .[0-9]+ and exponent [eE][+-]?[0-9]+.
    Result<bool, ParseError> number(std::vector<Token>& tokens) {
        const std::size_t start = pos_;
        const bool negative = text_[pos_] == '-';
        std::size_t i = negative ? pos_ + 1 : pos_;
        // Magnitude limit: 2^63 for a negative literal, 2^63 - 1 otherwise.
        const std::uint64_t limit =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
        if (text_[i] == '0' && (at(i + 1, 'x') || at(i + 1, 'X')) && i + 2 < text_.size() &&
            hex_digit_value(text_[i + 2]) >= 0) {
            std::size_t j = i + 2;
            std::uint64_t magnitude = 0;
            bool overflow = false;
            for (; j < text_.size() && hex_digit_value(text_[j]) >= 0; ++j) {
                const auto d = static_cast<std::uint64_t>(hex_digit_value(text_[j]));
                if (magnitude > (limit - d) / 16) overflow = true;
                if (!overflow) magnitude = magnitude * 16 + d;
            }
            pos_ = j;
            if (overflow) return Err{ParseError::syntax(out_of_range_message(text_.substr(start, j - start)))};
            tokens.push_back(Token::make_number(to_signed(magnitude, negative)));
            return true;
        }
        std::size_t j = i;
        std::uint64_t magnitude = 0;
        bool overflow = false;
        for (; digit_at(j); ++j) {
            const auto d = static_cast<std::uint64_t>(text_[j] - '0');
            if (magnitude > (limit - d) / 10) overflow = true;
            if (!overflow) magnitude = magnitude * 10 + d;
        }
        bool is_float = false;
        if (at(j, '.') && digit_at(j + 1)) {
            j += 2;
            while (digit_at(j)) ++j;
            is_float = true;
        }
        if (at(j, 'e') || at(j, 'E')) {
            std::size_t k = j + 1;
            if (at(k, '+') || at(k, '-')) ++k;
            if (digit_at(k)) {
                while (digit_at(k)) ++k;
                j = k;
                is_float = true;
            }
        }
        pos_ = j;
        const std::string_view literal = text_.substr(start, j - start);
        if (is_float) {
            tokens.push_back(Token::make_float(float_value(literal)));
            return true;
        }
        if (overflow) return Err{ParseError::syntax(out_of_range_message(literal))};
        tokens.push_back(Token::make_number(to_signed(magnitude, negative)));
        return true;
    }

    static std::int64_t to_signed(std::uint64_t magnitude, bool negative) noexcept {
        // Two's-complement negation in unsigned arithmetic handles -2^63.
        return static_cast<std::int64_t>(negative ? ~magnitude + 1 : magnitude);
    }

    void word(std::vector<Token>& tokens) {
        const std::size_t start = pos_;
        ++pos_;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '_' || is_digit(c) || is_ascii_letter(c)) {
                ++pos_;
                continue;
            }
            if (static_cast<unsigned char>(c) < 0x80) break;
            const auto d = unicode::decode_utf8(text_, pos_);
            if (!d.valid || !unicode::is_alphanumeric(d.code_point)) break;
            pos_ += d.length;
        }
        std::string text(text_.substr(start, pos_ - start));
        for (std::string_view keyword : kKeywords) {
            if (text == keyword) {
                tokens.push_back(Token::make_keyword(std::move(text)));
                return;
            }
        }
        tokens.push_back(Token::make_identifier(std::move(text)));
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::string_view token_kind_name(TokenKind kind) noexcept {
    const auto i = static_cast<std::size_t>(kind);
    return i < kTokenKindCount ? kTokenKindNames[i] : std::string_view("?");
}

void append_debug(std::string& out, const Token& token) {
    out += token_kind_name(token.kind);
    switch (token.kind) {
        case TokenKind::Keyword:
        case TokenKind::Identifier:
        case TokenKind::String:
            out += '(';
            append_debug_quoted(out, token.text);
            out += ')';
            break;
        case TokenKind::Number: {
            char buf[24];
            const auto r = std::to_chars(buf, buf + sizeof buf, token.integer);
            out += '(';
            out.append(buf, r.ptr);
            out += ')';
            break;
        }
        case TokenKind::Float:
            out += '(';
            append_debug_double(out, token.real);
            out += ')';
            break;
        case TokenKind::Symbol:
            out += '(';
            append_debug_char(out, token.symbol);
            out += ')';
            break;
        default:
            break;
    }
}

std::string ParseError::text() const {
    switch (kind) {
        case ParseErrorKind::Syntax: return "Syntax error: " + message;
        case ParseErrorKind::UnexpectedToken: return "Unexpected token: " + to_debug_string(token);
        case ParseErrorKind::UnexpectedEof: break;
    }
    return "End of input";
}

Result<std::vector<Token>, ParseError> tokenize(std::string_view text) { return Lexer(text).run(); }

}  // namespace velmora
