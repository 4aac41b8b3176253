// Schema document model: type expressions, values, fields, structs, enums, services and the
// document, with deep-copy value semantics and their exact debug renderings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace velmora {

// ---------------------------------------------------------------------------------------------
// ThriftType
// ---------------------------------------------------------------------------------------------

// Variant order is fixed: the value codec indexes its tables by it.
enum class TypeKind : std::uint8_t {
    Bool, Byte, I16, I32, I64, Double, String, Binary, List, Set, Map, Struct,
};
inline constexpr std::size_t kTypeKindCount = 12;

// "Bool", "Byte", ..., "Struct".
std::string_view type_kind_name(TypeKind kind) noexcept;

// A type expression. Immutable once built: the children of List/Set/Map and the name of Struct
// live in a node shared between copies. Nothing can change a ThriftType after construction, so
// this sharing is invisible and copies behave exactly as deep copies (copying costs O(1)).
class ThriftType {
public:
    // Bool.
    ThriftType() noexcept = default;
    // One of the base kinds Bool..Binary; throws std::invalid_argument for List/Set/Map/Struct.
    static ThriftType base(TypeKind kind);
    static ThriftType list(ThriftType element);
    static ThriftType set(ThriftType element);
    static ThriftType map(ThriftType key, ThriftType value);
    // The Struct variant: a reference by name (a struct, union, exception, a later enum, "void"...).
    static ThriftType named(std::string name);

    TypeKind kind() const noexcept { return kind_; }
    // Bool..Binary.
    bool is_base() const noexcept { return kind_ < TypeKind::List; }
    // The accessors below throw std::logic_error when called on the wrong kind.
    const ThriftType& element_type() const;    // List, Set
    const ThriftType& key_type() const;        // Map
    const ThriftType& value_type() const;      // Map
    const std::string& struct_name() const;    // Struct

    // Container nesting: 0 for base and Struct types, 1 + the deepest child for containers.
    std::size_t depth() const noexcept;
    // Number of nodes of the expression written out as a tree (every shared child counted at
    // each place it appears): 1 for base and Struct types.
    std::size_t node_count() const noexcept;

    bool operator==(const ThriftType& other) const noexcept;

private:
    struct Node;
    ThriftType(TypeKind kind, std::shared_ptr<const Node> node) noexcept
        : kind_(kind), node_(std::move(node)) {}

    TypeKind kind_ = TypeKind::Bool;
    std::shared_ptr<const Node> node_;
};

// ---------------------------------------------------------------------------------------------
// ThriftValue
// ---------------------------------------------------------------------------------------------

// Variant order is fixed and matches TypeKind.
enum class ValueKind : std::uint8_t {
    Bool, Byte, I16, I32, I64, Double, String, Binary, List, Set, Map, Struct,
};
inline constexpr std::size_t kValueKindCount = 12;

// "Bool", "Byte", ..., "Struct".
std::string_view value_kind_name(ValueKind kind) noexcept;

struct StructValue;

namespace detail {
// Owning pointer with deep copy, so that the rarely used Struct payload costs one pointer inside
// ThriftValue. Never null in a live value (only after being moved from).
class StructBox {
public:
    StructBox();
    explicit StructBox(StructValue value);
    StructBox(const StructBox& other);
    StructBox(StructBox&&) noexcept = default;
    StructBox& operator=(const StructBox& other);
    StructBox& operator=(StructBox&&) noexcept = default;
    ~StructBox();

    StructValue& get() noexcept { return *ptr_; }
    const StructValue& get() const noexcept { return *ptr_; }
    bool operator==(const StructBox& other) const;

private:
    std::unique_ptr<StructValue> ptr_;
};
}  // namespace detail

// A Thrift value: a default in the schema, and the value codec's in-memory representation.
// Scalars are stored inline (no heap allocation); String and Binary use std::string (short
// texts stay inline); containers are std::vector; Struct is one boxed StructValue.
// Binary bytes are held in a std::string (arbitrary bytes, not necessarily UTF-8).
class ThriftValue {
public:
    using List = std::vector<ThriftValue>;                    // List and Set payload
    using Entry = std::pair<ThriftValue, ThriftValue>;       // one (key, value) pair of a Map
    using Entries = std::vector<Entry>;                       // Map payload, order kept
    using Fields = std::unordered_map<std::string, ThriftValue>;  // Struct field name -> value

    // Bool(false).
    ThriftValue() noexcept = default;

    static ThriftValue make_bool(bool v) noexcept { return ThriftValue(std::in_place_index<0>, v); }
    static ThriftValue make_byte(std::int8_t v) noexcept { return ThriftValue(std::in_place_index<1>, v); }
    static ThriftValue make_i16(std::int16_t v) noexcept { return ThriftValue(std::in_place_index<2>, v); }
    static ThriftValue make_i32(std::int32_t v) noexcept { return ThriftValue(std::in_place_index<3>, v); }
    static ThriftValue make_i64(std::int64_t v) noexcept { return ThriftValue(std::in_place_index<4>, v); }
    static ThriftValue make_double(double v) noexcept { return ThriftValue(std::in_place_index<5>, v); }
    static ThriftValue make_string(std::string text);
    static ThriftValue make_binary(std::string bytes);
    static ThriftValue make_list(List elements);
    static ThriftValue make_set(List elements);
    static ThriftValue make_map(Entries entries);
    static ThriftValue make_struct(std::optional<std::string> name, Fields fields = {});

    ValueKind kind() const noexcept { return static_cast<ValueKind>(storage_.index()); }

    // Payload access. Each throws std::bad_variant_access when the value has another kind.
    bool as_bool() const { return std::get<0>(storage_); }
    std::int8_t as_byte() const { return std::get<1>(storage_); }
    std::int16_t as_i16() const { return std::get<2>(storage_); }
    std::int32_t as_i32() const { return std::get<3>(storage_); }
    std::int64_t as_i64() const { return std::get<4>(storage_); }
    double as_double() const { return std::get<5>(storage_); }
    const std::string& as_string() const { return std::get<6>(storage_); }
    std::string& as_string() { return std::get<6>(storage_); }
    const std::string& as_binary() const { return std::get<7>(storage_); }
    std::string& as_binary() { return std::get<7>(storage_); }
    const List& as_list() const { return std::get<8>(storage_); }
    List& as_list() { return std::get<8>(storage_); }
    const List& as_set() const { return std::get<9>(storage_); }
    List& as_set() { return std::get<9>(storage_); }
    const Entries& as_map() const { return std::get<10>(storage_); }
    Entries& as_map() { return std::get<10>(storage_); }
    const StructValue& as_struct() const { return std::get<11>(storage_).get(); }
    StructValue& as_struct() { return std::get<11>(storage_).get(); }

    // Deep comparison of kind and payload (Double compares as double: NaN != NaN).
    bool operator==(const ThriftValue& other) const;

private:
    using Storage = std::variant<bool, std::int8_t, std::int16_t, std::int32_t, std::int64_t, double,
                                 std::string, std::string, List, List, Entries, detail::StructBox>;
    template <std::size_t I, class... A>
    explicit ThriftValue(std::in_place_index_t<I> tag, A&&... args)
        : storage_(tag, std::forward<A>(args)...) {}

    Storage storage_;
};

// Payload of ThriftValue's Struct variant.
struct StructValue {
    std::optional<std::string> name;  // the struct type's name
    ThriftValue::Fields fields;       // field name -> value
    bool operator==(const StructValue& other) const = default;
};

// Number of ThriftValue nodes in a value (1 for a scalar). Recursion follows the value's nesting.
std::size_t value_node_count(const ThriftValue& value) noexcept;

// ---------------------------------------------------------------------------------------------
// Schema records
// ---------------------------------------------------------------------------------------------

// One field of a struct, union, exception, argument list or throws list.
struct ThriftField {
    std::int16_t id = 0;                       // as written, low 16 bits; auto ids are -1, -2, ...
    std::string name;
    bool required = false;                     // true only for `required`
    ThriftType field_type;                     // typedefs already resolved
    std::optional<ThriftValue> default_value;  // absent when none or not convertible
    bool operator==(const ThriftField& other) const = default;
};

// A struct, union or exception (not told apart).
struct ThriftStruct {
    std::string name;
    std::vector<ThriftField> fields;  // inherited fields first, then own, declaration order
    bool operator==(const ThriftStruct& other) const = default;
};

struct ThriftEnum {
    std::string name;
    std::unordered_map<std::string, std::int32_t> values;  // value name -> value
    bool operator==(const ThriftEnum& other) const = default;
};

struct ThriftMethod {
    std::string name;
    std::vector<ThriftField> arguments;
    std::vector<ThriftField> exceptions;  // the throws list; empty when absent
    ThriftType return_type;               // void is ThriftType::named("void")
    bool oneway = false;
    bool operator==(const ThriftMethod& other) const = default;
};

struct ThriftService {
    std::string name;
    std::vector<ThriftMethod> methods;  // inherited methods first, then own, declaration order

    // The first method of that name, or nullptr.
    const ThriftMethod* find_method(std::string_view method_name) const noexcept;
    bool operator==(const ThriftService& other) const = default;
};

// Everything one successful parse keeps.
struct ThriftDocument {
    std::vector<std::string> includes;                         // document order, duplicates kept
    std::unordered_map<std::string, ThriftStruct> structs;     // structs, unions, exceptions
    std::unordered_map<std::string, ThriftService> services;
    std::unordered_map<std::string, ThriftEnum> enums;
    std::unordered_map<std::string, std::string> namespaces;   // scope ("*" included) -> namespace
    bool operator==(const ThriftDocument& other) const = default;
};

// ---------------------------------------------------------------------------------------------
// Debug renderings (embedded verbatim in Python reprs)
// ---------------------------------------------------------------------------------------------

// Text in double quotes: `"` and `\` get a backslash; tab, CR, LF and NUL are \t \r \n \0; other
// control, format, separator, unassigned, private-use and grapheme-extending characters are
// \u{hex} (lowercase). Bytes that are not valid UTF-8 are written \xNN.
void append_debug_quoted(std::string& out, std::string_view text);
std::string debug_quoted(std::string_view text);
// A character in single quotes with the same escapes, `'` escaped instead of `"`.
void append_debug_char(std::string& out, char32_t c);
// A double as `1.0`, `-2.5`, `1e16`, `1.5e-5`, `NaN`, `inf`, `-inf` (always a fraction or exponent).
void append_debug_double(std::string& out, double v);

// I32 / List(Set(Bool)) / Map(String, I32) / Struct("Point").
void append_debug(std::string& out, const ThriftType& type);
// I32(3) / Double(1.0) / String("x") / Binary([104, 105]) / List([I32(1)]) / Map([(String("a"),
// I32(1))]) / Struct { name: Some("P"), fields: {"x": I32(1)} } (fields in map order).
void append_debug(std::string& out, const ThriftValue& value);
// ThriftField { id: 1, name: "x", required: false, field_type: I32, default_value: None }.
void append_debug(std::string& out, const ThriftField& field);
// ThriftStruct { name: "A", fields: [...] }.
void append_debug(std::string& out, const ThriftStruct& value);
// ThriftEnum { name: "E", values: {"A": 0} } (map order).
void append_debug(std::string& out, const ThriftEnum& value);
// ThriftMethod { name: "m", arguments: [...], exceptions: [...], return_type: I32, oneway: false }.
void append_debug(std::string& out, const ThriftMethod& value);
// ThriftService { name: "S", methods: [...] }.
void append_debug(std::string& out, const ThriftService& value);
// ThriftDocument { includes: [...], structs: {...}, services: {...}, enums: {...},
// namespaces: {...} } (maps in map order).
void append_debug(std::string& out, const ThriftDocument& value);

template <class T>
std::string to_debug_string(const T& item) {
    std::string out;
    append_debug(out, item);
    return out;
}

}  // namespace velmora
