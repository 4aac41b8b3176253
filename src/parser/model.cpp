// Schema document model: construction, comparison and the debug renderings.
#include "parser/model.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "parser/unicode.hpp"

namespace velmora {

namespace {

constexpr std::string_view kKindNames[kTypeKindCount] = {
    "Bool", "Byte", "I16", "I32", "I64", "Double", "String", "Binary", "List", "Set", "Map", "Struct",
};

void append_unicode_escape(std::string& out, char32_t c) {
    char buf[16];
    const int n = std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
    out.append(buf, static_cast<std::size_t>(n));
}

// Escape of one character shared by the string and character renderings; returns false when the
// character is written as itself.
bool append_escape(std::string& out, char32_t c, char quote) {
    switch (c) {
        case U'\t': out += "\\t"; return true;
        case U'\r': out += "\\r"; return true;
        case U'\n': out += "\\n"; return true;
        case U'\0': out += "\\0"; return true;
        case U'\\': out += "\\\\"; return true;
        default: break;
    }
    if (c == static_cast<char32_t>(quote)) {
        out += '\\';
        out += quote;
        return true;
    }
    if (unicode::needs_debug_escape(c)) {
        append_unicode_escape(out, c);
        return true;
    }
    return false;
}

template <class Int>
void append_int(std::string& out, Int v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

template <class Seq, class Each>
void append_sequence(std::string& out, const Seq& seq, Each each) {
    out += '[';
    bool first = true;
    for (const auto& item : seq) {
        if (!first) out += ", ";
        first = false;
        each(item);
    }
    out += ']';
}

template <class Map, class Each>
void append_map(std::string& out, const Map& map, Each each_value) {
    out += '{';
    bool first = true;
    for (const auto& [key, value] : map) {
        if (!first) out += ", ";
        first = false;
        append_debug_quoted(out, key);
        out += ": ";
        each_value(value);
    }
    out += '}';
}

void append_fields(std::string& out, const std::vector<ThriftField>& fields) {
    append_sequence(out, fields, [&](const ThriftField& f) { append_debug(out, f); });
}

}  // namespace

std::string_view type_kind_name(TypeKind kind) noexcept {
    const auto i = static_cast<std::size_t>(kind);
    return i < kTypeKindCount ? kKindNames[i] : std::string_view("?");
}

std::string_view value_kind_name(ValueKind kind) noexcept {
    const auto i = static_cast<std::size_t>(kind);
    return i < kValueKindCount ? kKindNames[i] : std::string_view("?");
}

// ---------------------------------------------------------------------------------------------
// ThriftType

struct ThriftType::Node {
    ThriftType first;   // element (List, Set) or key (Map)
    ThriftType second;  // value (Map)
    std::string name;   // Struct
    std::size_t depth = 0;
    std::size_t count = 1;
};

ThriftType ThriftType::base(TypeKind kind) {
    if (kind >= TypeKind::List) throw std::invalid_argument("ThriftType::base needs a base kind");
    return ThriftType(kind, nullptr);
}

ThriftType ThriftType::list(ThriftType element) {
    auto node = std::make_shared<Node>();
    node->depth = element.depth() + 1;
    node->count = element.node_count() + 1;
    node->first = std::move(element);
    return ThriftType(TypeKind::List, std::move(node));
}

ThriftType ThriftType::set(ThriftType element) {
    ThriftType t = list(std::move(element));
    t.kind_ = TypeKind::Set;
    return t;
}

ThriftType ThriftType::map(ThriftType key, ThriftType value) {
    auto node = std::make_shared<Node>();
    node->depth = std::max(key.depth(), value.depth()) + 1;
    node->count = key.node_count() + value.node_count() + 1;
    node->first = std::move(key);
    node->second = std::move(value);
    return ThriftType(TypeKind::Map, std::move(node));
}

ThriftType ThriftType::named(std::string name) {
    auto node = std::make_shared<Node>();
    node->name = std::move(name);
    return ThriftType(TypeKind::Struct, std::move(node));
}

const ThriftType& ThriftType::element_type() const {
    if (kind_ != TypeKind::List && kind_ != TypeKind::Set)
        throw std::logic_error("ThriftType::element_type on a type that is not a List or Set");
    return node_->first;
}

const ThriftType& ThriftType::key_type() const {
    if (kind_ != TypeKind::Map) throw std::logic_error("ThriftType::key_type on a type that is not a Map");
    return node_->first;
}

const ThriftType& ThriftType::value_type() const {
    if (kind_ != TypeKind::Map) throw std::logic_error("ThriftType::value_type on a type that is not a Map");
    return node_->second;
}

const std::string& ThriftType::struct_name() const {
    if (kind_ != TypeKind::Struct) throw std::logic_error("ThriftType::struct_name on a type that is not a Struct");
    return node_->name;
}

std::size_t ThriftType::depth() const noexcept { return node_ ? node_->depth : 0; }

std::size_t ThriftType::node_count() const noexcept { return node_ ? node_->count : 1; }

bool ThriftType::operator==(const ThriftType& other) const noexcept {
    if (kind_ != other.kind_) return false;
    if (node_ == other.node_) return true;
    if (!node_ || !other.node_) return false;
    switch (kind_) {
        case TypeKind::Struct: return node_->name == other.node_->name;
        case TypeKind::List:
        case TypeKind::Set: return node_->first == other.node_->first;
        case TypeKind::Map: return node_->first == other.node_->first && node_->second == other.node_->second;
        default: return true;
    }
}

// ---------------------------------------------------------------------------------------------
// ThriftValue

namespace detail {
StructBox::StructBox() : ptr_(std::make_unique<StructValue>()) {}
StructBox::StructBox(StructValue value) : ptr_(std::make_unique<StructValue>(std::move(value))) {}
StructBox::StructBox(const StructBox& other)
    : ptr_(other.ptr_ ? std::make_unique<StructValue>(*other.ptr_) : nullptr) {}
StructBox& StructBox::operator=(const StructBox& other) {
    if (this != &other) ptr_ = other.ptr_ ? std::make_unique<StructValue>(*other.ptr_) : nullptr;
    return *this;
}
StructBox::~StructBox() = default;
bool StructBox::operator==(const StructBox& other) const {
    if (!ptr_ || !other.ptr_) return ptr_ == other.ptr_;
    return *ptr_ == *other.ptr_;
}
}  // namespace detail

ThriftValue ThriftValue::make_string(std::string text) { return ThriftValue(std::in_place_index<6>, std::move(text)); }
ThriftValue ThriftValue::make_binary(std::string bytes) { return ThriftValue(std::in_place_index<7>, std::move(bytes)); }
ThriftValue ThriftValue::make_list(List elements) { return ThriftValue(std::in_place_index<8>, std::move(elements)); }
ThriftValue ThriftValue::make_set(List elements) { return ThriftValue(std::in_place_index<9>, std::move(elements)); }
ThriftValue ThriftValue::make_map(Entries entries) { return ThriftValue(std::in_place_index<10>, std::move(entries)); }
ThriftValue ThriftValue::make_struct(std::optional<std::string> name, Fields fields) {
    return ThriftValue(std::in_place_index<11>, StructValue{std::move(name), std::move(fields)});
}

bool ThriftValue::operator==(const ThriftValue& other) const { return storage_ == other.storage_; }

std::size_t value_node_count(const ThriftValue& value) noexcept {
    std::size_t n = 1;
    switch (value.kind()) {
        case ValueKind::List:
            for (const auto& v : value.as_list()) n += value_node_count(v);
            break;
        case ValueKind::Set:
            for (const auto& v : value.as_set()) n += value_node_count(v);
            break;
        case ValueKind::Map:
            for (const auto& [k, v] : value.as_map()) n += value_node_count(k) + value_node_count(v);
            break;
        case ValueKind::Struct:
            for (const auto& [k, v] : value.as_struct().fields) n += value_node_count(v);
            break;
        default:
            break;
    }
    return n;
}

const ThriftMethod* ThriftService::find_method(std::string_view method_name) const noexcept {
    for (const auto& m : methods)
        if (m.name == method_name) return &m;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Debug renderings

void append_debug_quoted(std::string& out, std::string_view text) {
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const unicode::Decoded d = unicode::decode_utf8(text, i);
        if (!d.valid) {
            char buf[8];
            const int n = std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
            out.append(buf, static_cast<std::size_t>(n));
        } else if (!append_escape(out, d.code_point, '"')) {
            out.append(text.substr(i, d.length));
        }
        i += d.length;
    }
    out += '"';
}

std::string debug_quoted(std::string_view text) {
    std::string out;
    append_debug_quoted(out, text);
    return out;
}

void append_debug_char(std::string& out, char32_t c) {
    out += '\'';
    if (!append_escape(out, c, '\'')) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            append_unicode_escape(out, c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::size_t n;
            if (c < 0x800) {
                buf[0] = static_cast<char>(0xC0 | (c >> 6));
                n = 1;
            } else if (c < 0x10000) {
                buf[0] = static_cast<char>(0xE0 | (c >> 12));
                buf[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                n = 2;
            } else {
                buf[0] = static_cast<char>(0xF0 | (c >> 18));
                buf[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                buf[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                n = 3;
            }
            buf[n++] = static_cast<char>(0x80 | (c & 0x3F));
            out.append(buf, n);
        }
    }
    out += '\'';
}

void append_debug_double(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-inf" : "inf";
        return;
    }
    char buf[64];
    const double mag = std::fabs(v);
    if (mag == 0.0 || (mag >= 1e-4 && mag < 1e16)) {
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
        out += s;
        if (s.find('.') == std::string_view::npos) out += ".0";
        return;
    }
    // Exponent form as 1e16 / 1.5e-5: no '+' and no leading zeros in the exponent.
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    const std::size_t e = s.find('e');
    out += s.substr(0, e + 1);
    std::size_t i = e + 1;
    if (s[i] == '+') {
        ++i;
    } else if (s[i] == '-') {
        out += '-';
        ++i;
    }
    while (i + 1 < s.size() && s[i] == '0') ++i;
    out += s.substr(i);
}

void append_debug(std::string& out, const ThriftType& type) {
    switch (type.kind()) {
        case TypeKind::List:
        case TypeKind::Set:
            out += type_kind_name(type.kind());
            out += '(';
            append_debug(out, type.element_type());
            out += ')';
            break;
        case TypeKind::Map:
            out += "Map(";
            append_debug(out, type.key_type());
            out += ", ";
            append_debug(out, type.value_type());
            out += ')';
            break;
        case TypeKind::Struct:
            out += "Struct(";
            append_debug_quoted(out, type.struct_name());
            out += ')';
            break;
        default:
            out += type_kind_name(type.kind());
            break;
    }
}

void append_debug(std::string& out, const ThriftValue& value) {
    const auto kind = value.kind();
    out += value_kind_name(kind);
    switch (kind) {
        case ValueKind::Bool:
            out += value.as_bool() ? "(true)" : "(false)";
            return;
        case ValueKind::Byte: out += '('; append_int(out, static_cast<int>(value.as_byte())); break;
        case ValueKind::I16: out += '('; append_int(out, value.as_i16()); break;
        case ValueKind::I32: out += '('; append_int(out, value.as_i32()); break;
        case ValueKind::I64: out += '('; append_int(out, value.as_i64()); break;
        case ValueKind::Double: out += '('; append_debug_double(out, value.as_double()); break;
        case ValueKind::String: out += '('; append_debug_quoted(out, value.as_string()); break;
        case ValueKind::Binary:
            out += '(';
            append_sequence(out, value.as_binary(),
                            [&](char b) { append_int(out, static_cast<unsigned>(static_cast<unsigned char>(b))); });
            break;
        case ValueKind::List:
        case ValueKind::Set:
            out += '(';
            append_sequence(out, kind == ValueKind::List ? value.as_list() : value.as_set(),
                            [&](const ThriftValue& v) { append_debug(out, v); });
            break;
        case ValueKind::Map:
            out += '(';
            append_sequence(out, value.as_map(), [&](const ThriftValue::Entry& e) {
                out += '(';
                append_debug(out, e.first);
                out += ", ";
                append_debug(out, e.second);
                out += ')';
            });
            break;
        case ValueKind::Struct: {
            const StructValue& s = value.as_struct();
            out += " { name: ";
            if (s.name) {
                out += "Some(";
                append_debug_quoted(out, *s.name);
                out += ')';
            } else {
                out += "None";
            }
            out += ", fields: ";
            append_map(out, s.fields, [&](const ThriftValue& v) { append_debug(out, v); });
            out += " }";
            return;
        }
    }
    out += ')';
}

void append_debug(std::string& out, const ThriftField& field) {
    out += "ThriftField { id: ";
    append_int(out, field.id);
    out += ", name: ";
    append_debug_quoted(out, field.name);
    out += field.required ? ", required: true, field_type: " : ", required: false, field_type: ";
    append_debug(out, field.field_type);
    out += ", default_value: ";
    if (field.default_value) {
        out += "Some(";
        append_debug(out, *field.default_value);
        out += ')';
    } else {
        out += "None";
    }
    out += " }";
}

void append_debug(std::string& out, const ThriftStruct& value) {
    out += "ThriftStruct { name: ";
    append_debug_quoted(out, value.name);
    out += ", fields: ";
    append_fields(out, value.fields);
    out += " }";
}

void append_debug(std::string& out, const ThriftEnum& value) {
    out += "ThriftEnum { name: ";
    append_debug_quoted(out, value.name);
    out += ", values: ";
    append_map(out, value.values, [&](std::int32_t v) { append_int(out, v); });
    out += " }";
}

void append_debug(std::string& out, const ThriftMethod& value) {
    out += "ThriftMethod { name: ";
    append_debug_quoted(out, value.name);
    out += ", arguments: ";
    append_fields(out, value.arguments);
    out += ", exceptions: ";
    append_fields(out, value.exceptions);
    out += ", return_type: ";
    append_debug(out, value.return_type);
    out += value.oneway ? ", oneway: true }" : ", oneway: false }";
}

void append_debug(std::string& out, const ThriftService& value) {
    out += "ThriftService { name: ";
    append_debug_quoted(out, value.name);
    out += ", methods: ";
    append_sequence(out, value.methods, [&](const ThriftMethod& m) { append_debug(out, m); });
    out += " }";
}

void append_debug(std::string& out, const ThriftDocument& value) {
    out += "ThriftDocument { includes: ";
    append_sequence(out, value.includes, [&](const std::string& s) { append_debug_quoted(out, s); });
    out += ", structs: ";
    append_map(out, value.structs, [&](const ThriftStruct& s) { append_debug(out, s); });
    out += ", services: ";
    append_map(out, value.services, [&](const ThriftService& s) { append_debug(out, s); });
    out += ", enums: ";
    append_map(out, value.enums, [&](const ThriftEnum& e) { append_debug(out, e); });
    out += ", namespaces: ";
    append_map(out, value.namespaces, [&](const std::string& s) { append_debug_quoted(out, s); });
    out += " }";
}

}  // namespace velmora
