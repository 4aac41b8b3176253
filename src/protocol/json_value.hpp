// JSON value tree, its parser and its compact printer, as used by the JSON protocol and the codec.
//
// The parser is our own. Debian's JSON libraries either merge integers and floats, keep
// object members in insertion order, or report errors without the phrases and line/column
// positions our error texts carry; the model needed here (non-negative and negative 64-bit
// integers apart from floats, members sorted by key with the last duplicate winning, a nesting
// limit of 128, "<phrase> at line L column C" errors) is small enough to own outright.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "result.hpp"

namespace velmora::protocol {

class JsonValue;
struct JsonMember;
using JsonArray = std::vector<JsonValue>;
// Members sorted by key (byte-wise), keys unique.
using JsonObject = std::vector<JsonMember>;

class JsonValue {
public:
    // UInt holds every non-negative integer, Int only negative ones.
    enum class Kind : std::uint8_t { Null, Bool, UInt, Int, Float, String, Array, Object };

    JsonValue() noexcept = default;
    static JsonValue boolean(bool b);
    static JsonValue integer(std::int64_t n);
    static JsonValue unsigned_integer(std::uint64_t n);
    static JsonValue number(double d);
    static JsonValue string(std::string s);
    static JsonValue array(JsonArray a);
    // `members` must already be sorted and unique (see sort_members).
    static JsonValue object(JsonObject members);

    Kind kind() const noexcept { return static_cast<Kind>(v_.index()); }
    bool is_null() const noexcept { return kind() == Kind::Null; }
    bool is_bool() const noexcept { return kind() == Kind::Bool; }
    bool is_integer() const noexcept { return kind() == Kind::UInt || kind() == Kind::Int; }
    bool is_number() const noexcept { return is_integer() || kind() == Kind::Float; }
    bool is_string() const noexcept { return kind() == Kind::String; }
    bool is_array() const noexcept { return kind() == Kind::Array; }
    bool is_object() const noexcept { return kind() == Kind::Object; }

    // Unchecked accessors: call only after testing the kind.
    bool as_bool() const noexcept { return *std::get_if<1>(&v_); }
    std::uint64_t as_uint() const noexcept { return *std::get_if<2>(&v_); }
    std::int64_t as_int() const noexcept { return *std::get_if<3>(&v_); }
    double as_float() const noexcept { return *std::get_if<4>(&v_); }
    const std::string& as_string() const noexcept { return *std::get_if<5>(&v_); }
    std::string& as_string() noexcept { return *std::get_if<5>(&v_); }
    const JsonArray& as_array() const noexcept { return *std::get_if<6>(&v_); }
    JsonArray& as_array() noexcept { return *std::get_if<6>(&v_); }
    const JsonObject& as_object() const noexcept { return *std::get_if<7>(&v_); }
    JsonObject& as_object() noexcept { return *std::get_if<7>(&v_); }

    // An integer that fits a signed 64-bit value (a non-negative one of 2^63 or more does not).
    std::optional<std::int64_t> to_i64() const noexcept;
    // Any number as a double; nullopt for other kinds.
    std::optional<double> to_f64() const noexcept;
    // The member of an object with this key, or nullptr (also for non-objects).
    const JsonValue* find(std::string_view key) const noexcept;

    friend bool operator==(const JsonValue&, const JsonValue&) = default;

private:
    using Storage = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, JsonArray,
                                 JsonObject>;
    explicit JsonValue(Storage v) noexcept;
    Storage v_;
};

struct JsonMember {
    std::string key;
    JsonValue value;
    friend bool operator==(const JsonMember&, const JsonMember&) = default;
};

// Defined here because the variant needs JsonMember complete.
inline JsonValue::JsonValue(Storage v) noexcept : v_(std::move(v)) {}
inline JsonValue JsonValue::boolean(bool b) { return JsonValue(Storage(std::in_place_index<1>, b)); }
inline JsonValue JsonValue::integer(std::int64_t n) {
    if (n >= 0) return unsigned_integer(static_cast<std::uint64_t>(n));
    return JsonValue(Storage(std::in_place_index<3>, n));
}
inline JsonValue JsonValue::unsigned_integer(std::uint64_t n) { return JsonValue(Storage(std::in_place_index<2>, n)); }
inline JsonValue JsonValue::number(double d) { return JsonValue(Storage(std::in_place_index<4>, d)); }
inline JsonValue JsonValue::string(std::string s) { return JsonValue(Storage(std::in_place_index<5>, std::move(s))); }
inline JsonValue JsonValue::array(JsonArray a) { return JsonValue(Storage(std::in_place_index<6>, std::move(a))); }
inline JsonValue JsonValue::object(JsonObject members) {
    return JsonValue(Storage(std::in_place_index<7>, std::move(members)));
}

// Sorts members by key and, among equal keys, keeps the last one (as inserting an existing
// key replaces its value).
void sort_members(JsonObject& members);

inline constexpr int kJsonMaxDepth = 128;

struct JsonParseError {
    std::string message;  // "<phrase> at line L column C"
    std::size_t line = 0;
    std::size_t column = 0;
    const std::string& text() const noexcept { return message; }
};

// Parses exactly one JSON document; whitespace (space, tab, LF, CR) may surround it. A number
// with a fraction or an exponent is a float; an integer is UInt/Int when it fits 64 bits and a
// float otherwise. Strings must be valid UTF-8. Phrases include "EOF while parsing a value",
// "trailing characters" and "recursion limit exceeded" (more than 128 nested arrays/objects).
Result<JsonValue, JsonParseError> parse_json(std::string_view text);

// Compact JSON text (no whitespace). Floats use the shortest round-trip form of append_double.
void append_json(std::string& out, const JsonValue& value);
std::string to_json(const JsonValue& value);
// A string literal: quote and backslash escaped, control characters as \b \f \n \r \t or
// \u00xx (lowercase hex), every other character as its UTF-8 bytes.
void append_json_string(std::string& out, std::string_view text);

// The object-key text of a value used as a map key: integers as decimal digits, floats in
// their shortest round-trip form, strings unchanged, anything else as its compact JSON text.
std::string json_key_text(const JsonValue& value);

}  // namespace velmora::protocol
