// JSON parser (our own, see json_value.hpp for why) and compact printer.
#include "protocol/json_value.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "protocol/number_text.hpp"
#include "protocol/utf8.hpp"

namespace velmora::protocol {

std::optional<std::int64_t> JsonValue::to_i64() const noexcept {
    switch (kind()) {
        case Kind::Int: return as_int();
        case Kind::UInt:
            if (as_uint() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
            return static_cast<std::int64_t>(as_uint());
        default: return std::nullopt;
    }
}

std::optional<double> JsonValue::to_f64() const noexcept {
    switch (kind()) {
        case Kind::Int: return static_cast<double>(as_int());
        case Kind::UInt: return static_cast<double>(as_uint());
        case Kind::Float: return as_float();
        default: return std::nullopt;
    }
}

const JsonValue* JsonValue::find(std::string_view key) const noexcept {
    if (!is_object()) return nullptr;
    const auto& members = as_object();
    auto it = std::lower_bound(members.begin(), members.end(), key,
                               [](const JsonMember& m, std::string_view k) { return std::string_view(m.key) < k; });
    if (it == members.end() || it->key != key) return nullptr;
    return &it->value;
}

void sort_members(JsonObject& members) {
    std::stable_sort(members.begin(), members.end(),
                     [](const JsonMember& a, const JsonMember& b) { return a.key < b.key; });
    // Keep the last of each run of equal keys.
    std::size_t out = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i + 1 < members.size() && members[i + 1].key == members[i].key) continue;
        if (out != i) members[out] = std::move(members[i]);
        ++out;
    }
    members.erase(members.begin() + static_cast<std::ptrdiff_t>(out), members.end());
}

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

    Result<JsonValue, JsonParseError> parse_document() {
        skip_ws();
        auto v = parse_value();
        if (!v) return v;
        skip_ws();
        if (p_ != end_) return Err{error("trailing characters")};
        return v;
    }

private:
    using R = Result<JsonValue, JsonParseError>;

    void skip_ws() noexcept {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    }

    // Line is 1-based. Column is the 1-based column of the offending byte, or, at the end of
    // the input, the number of bytes on the last line.
    [[gnu::cold]] JsonParseError error(const char* phrase) const {
        std::size_t line = 1;
        const char* line_start = begin_;
        for (const char* q = begin_; q < p_; ++q)
            if (*q == '\n') {
                ++line;
                line_start = q + 1;
            }
        const std::size_t column = static_cast<std::size_t>(p_ - line_start) + (p_ != end_ ? 1 : 0);
        return JsonParseError{std::string(phrase) + " at line " + std::to_string(line) + " column " +
                                  std::to_string(column),
                              line, column};
    }

    R parse_value() {
        if (p_ == end_) return Err{error("EOF while parsing a value")};
        switch (*p_) {
            case 'n': return parse_literal("null", JsonValue());
            case 't': return parse_literal("true", JsonValue::boolean(true));
            case 'f': return parse_literal("false", JsonValue::boolean(false));
            case '"': {
                ++p_;
                std::string s;
                auto st = parse_string_body(s);
                if (!st) return Err{std::move(st).error()};
                return JsonValue::string(std::move(s));
            }
            case '[': return parse_array();
            case '{': return parse_object();
            default:
                if (*p_ == '-' || (*p_ >= '0' && *p_ <= '9')) return parse_number();
                return Err{error("expected value")};
        }
    }

    R parse_literal(std::string_view word, JsonValue v) {
        for (char c : word) {
            if (p_ == end_) return Err{error("EOF while parsing a value")};
            if (*p_ != c) return Err{error("expected ident")};
            ++p_;
        }
        return v;
    }

    R parse_number() {
        const char* start = p_;
        const bool negative = *p_ == '-';
        if (negative) ++p_;
        if (p_ == end_) return Err{error("EOF while parsing a value")};
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        } else {
            return Err{error("invalid number")};
        }
        const char* int_end = p_;
        bool is_float = false;
        if (p_ != end_ && *p_ == '.') {
            is_float = true;
            ++p_;
            if (p_ == end_) return Err{error("EOF while parsing a value")};
            if (*p_ < '0' || *p_ > '9') return Err{error("invalid number")};
            while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            is_float = true;
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_) return Err{error("EOF while parsing a value")};
            if (*p_ < '0' || *p_ > '9') return Err{error("invalid number")};
            while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        }
        const char* digits = start + (negative ? 1 : 0);
        if (!is_float) {
            std::uint64_t mag = 0;
            bool overflow = false;
            for (const char* q = digits; q < int_end; ++q) {
                const auto d = static_cast<std::uint64_t>(*q - '0');
                if (mag > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
                    overflow = true;
                    break;
                }
                mag = mag * 10 + d;
            }
            if (!overflow) {
                if (!negative) return JsonValue::unsigned_integer(mag);
                if (mag <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1)
                    return JsonValue::integer(static_cast<std::int64_t>(0 - mag));
            }
            // Integers beyond 64 bits become floats.
        }
        bool overflowed = false;
        const double d = detail::decimal_to_double(std::string_view(digits, static_cast<std::size_t>(p_ - digits)),
                                                   negative, overflowed);
        if (overflowed) {
            p_ = start;
            return Err{error("number out of range")};
        }
        return JsonValue::number(d);
    }

    static int hex_value(char c) noexcept {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    Result<std::uint32_t, JsonParseError> parse_hex4() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            if (p_ == end_) return Err{error("EOF while parsing a string")};
            const int h = hex_value(*p_);
            if (h < 0) return Err{error("invalid escape")};
            v = (v << 4) | static_cast<std::uint32_t>(h);
            ++p_;
        }
        return v;
    }

    static void append_utf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // After the opening quote; leaves p_ after the closing quote.
    Status<JsonParseError> parse_string_body(std::string& out) {
        for (;;) {
            const char* run = p_;
            while (p_ != end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20) ++p_;
            if (p_ != run) {
                const std::string_view chunk(run, static_cast<std::size_t>(p_ - run));
                if (auto bad = validate_utf8(chunk)) {
                    p_ = run + bad->valid_up_to;
                    return Err{error("invalid unicode code point")};
                }
                out.append(chunk);
            }
            if (p_ == end_) return Err{error("EOF while parsing a string")};
            const char c = *p_;
            if (c == '"') {
                ++p_;
                return Unit{};
            }
            if (c != '\\') return Err{error("control character (\\u0000-\\u001F) found while parsing a string")};
            ++p_;
            if (p_ == end_) return Err{error("EOF while parsing a string")};
            const char e = *p_++;
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
                    auto cp = parse_hex4();
                    if (!cp) return Err{std::move(cp).error()};
                    std::uint32_t code = *cp;
                    if (code >= 0xDC00 && code <= 0xDFFF) return Err{error("invalid unicode code point")};
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                            return Err{error("lone leading surrogate in hex escape")};
                        p_ += 2;
                        auto lo = parse_hex4();
                        if (!lo) return Err{std::move(lo).error()};
                        if (*lo < 0xDC00 || *lo > 0xDFFF) return Err{error("lone leading surrogate in hex escape")};
                        code = 0x10000 + ((code - 0xD800) << 10) + (*lo - 0xDC00);
                    }
                    append_utf8(out, code);
                    break;
                }
                default: --p_; return Err{error("invalid escape")};
            }
        }
    }

    Status<JsonParseError> enter() {
        if (++depth_ > kJsonMaxDepth) return Err{error("recursion limit exceeded")};
        return Unit{};
    }

    R parse_array() {
        auto entered = enter();
        if (!entered) return Err{std::move(entered).error()};
        ++p_;
        JsonArray items;
        skip_ws();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            --depth_;
            return JsonValue::array(std::move(items));
        }
        for (;;) {
            auto v = parse_value();
            if (!v) return v;
            items.push_back(std::move(v).value());
            skip_ws();
            if (p_ == end_) return Err{error("EOF while parsing a list")};
            if (*p_ == ',') {
                ++p_;
                skip_ws();
                if (p_ != end_ && *p_ == ']') return Err{error("trailing comma")};
                continue;
            }
            if (*p_ == ']') {
                ++p_;
                --depth_;
                return JsonValue::array(std::move(items));
            }
            return Err{error("expected `,` or `]`")};
        }
    }

    R parse_object() {
        auto entered = enter();
        if (!entered) return Err{std::move(entered).error()};
        ++p_;
        JsonObject members;
        skip_ws();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            --depth_;
            return JsonValue::object(std::move(members));
        }
        for (;;) {
            if (p_ == end_) return Err{error("EOF while parsing an object")};
            if (*p_ != '"') return Err{error("key must be a string")};
            ++p_;
            std::string key;
            auto st = parse_string_body(key);
            if (!st) return Err{std::move(st).error()};
            skip_ws();
            if (p_ == end_) return Err{error("EOF while parsing an object")};
            if (*p_ != ':') return Err{error("expected `:`")};
            ++p_;
            skip_ws();
            auto v = parse_value();
            if (!v) return v;
            members.push_back(JsonMember{std::move(key), std::move(v).value()});
            skip_ws();
            if (p_ == end_) return Err{error("EOF while parsing an object")};
            if (*p_ == ',') {
                ++p_;
                skip_ws();
                if (p_ != end_ && *p_ == '}') return Err{error("trailing comma")};
                continue;
            }
            if (*p_ == '}') {
                ++p_;
                --depth_;
                sort_members(members);
                return JsonValue::object(std::move(members));
            }
            return Err{error("expected `,` or `}`")};
        }
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    int depth_ = 0;
};

void append_integer(std::string& out, auto n) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

}  // namespace

Result<JsonValue, JsonParseError> parse_json(std::string_view text) { return Parser(text).parse_document(); }

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

void append_json(std::string& out, const JsonValue& value) {
    switch (value.kind()) {
        case JsonValue::Kind::Null: out += "null"; return;
        case JsonValue::Kind::Bool: out += value.as_bool() ? "true" : "false"; return;
        case JsonValue::Kind::UInt: append_integer(out, value.as_uint()); return;
        case JsonValue::Kind::Int: append_integer(out, value.as_int()); return;
        case JsonValue::Kind::Float: append_double(out, value.as_float()); return;
        case JsonValue::Kind::String: append_json_string(out, value.as_string()); return;
        case JsonValue::Kind::Array: {
            out += '[';
            bool first = true;
            for (const auto& item : value.as_array()) {
                if (!first) out += ',';
                first = false;
                append_json(out, item);
            }
            out += ']';
            return;
        }
        case JsonValue::Kind::Object: {
            out += '{';
            bool first = true;
            for (const auto& m : value.as_object()) {
                if (!first) out += ',';
                first = false;
                append_json_string(out, m.key);
                out += ':';
                append_json(out, m.value);
            }
            out += '}';
            return;
        }
    }
}

std::string to_json(const JsonValue& value) {
    std::string s;
    append_json(s, value);
    return s;
}

std::string json_key_text(const JsonValue& value) {
    std::string s;
    switch (value.kind()) {
        case JsonValue::Kind::UInt: append_integer(s, value.as_uint()); break;
        case JsonValue::Kind::Int: append_integer(s, value.as_int()); break;
        case JsonValue::Kind::Float: append_double(s, value.as_float()); break;
        case JsonValue::Kind::String: s = value.as_string(); break;
        default: append_json(s, value); break;
    }
    return s;
}

}  // namespace velmora::protocol
