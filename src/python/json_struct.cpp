// JSON struct deserialization: the payload form and the struct-object form.
//
// A struct body arrives as one JSON document in one of two forms:
//
//   payload form       {"payload": {"<field name>": <plain JSON value>, ...}}, optionally
//                      behind a 4-byte big-endian length (as a framed transport delivers it).
//                      Values are plain JSON (i64 as number or decimal string, binary as
//                      Base64, lists as arrays, maps as objects). Fields absent from the
//                      payload take their defaults. Values become Thrift values, converted
//                      to Python objects when first read.
//   struct-object form the layout our JSON writer produces: {"<field id>": [type name,
//                      value], ...}, containers headed by type names, i64 as decimal strings.
//                      Type names are not examined: the declared types decide. Values become
//                      Python objects at once; absent fields read None (no defaults).
//
// Neither form goes through the JSON protocol reader: the document is parsed into a value
// tree once and converted directly. Nesting is bounded by the parser's depth limit, so the
// recursive conversions below cannot run away with the stack.
#include <algorithm>
#include <limits>

#include "protocol/base64.hpp"
#include "protocol/json_value.hpp"
#include "protocol/number_text.hpp"
#include "python/instance.hpp"
#include "python/serialize.hpp"

namespace velmora::py {

namespace {

using protocol::JsonArray;
using protocol::JsonMember;
using protocol::JsonObject;
using protocol::JsonValue;

// Python error helpers; each returns the failure value of its caller's kind.
std::nullopt_t raise_value_error(const char* text) noexcept {
    PyErr_SetString(PyExc_ValueError, text);
    return std::nullopt;
}
PyObject* raise_type_error(const char* text) noexcept {
    PyErr_SetString(PyExc_TypeError, text);
    return nullptr;
}
PyObject* raise_with_suffix(PyObject* type, std::string_view prefix, std::string_view suffix) {
    std::string text;
    text.reserve(prefix.size() + suffix.size());
    text.append(prefix).append(suffix);
    PyErr_SetString(type, text.c_str());
    return nullptr;
}

// The member of a sorted object with this key, or nullptr.
JsonValue* find_member(JsonObject& members, std::string_view key) noexcept {
    auto it = std::lower_bound(members.begin(), members.end(), key,
                               [](const JsonMember& m, std::string_view k) { return std::string_view(m.key) < k; });
    return it != members.end() && it->key == key ? &it->value : nullptr;
}

// A JSON integer that fits 64 bits signed, or a string holding such a decimal integer.
std::optional<std::int64_t> json_i64(const JsonValue& v) noexcept {
    if (v.is_integer()) return v.to_i64();
    if (v.is_string()) return protocol::parse_i64_text(v.as_string());
    return std::nullopt;
}

// JSON true, or a non-zero integer.
bool json_flag(const JsonValue& v) noexcept {
    switch (v.kind()) {
        case JsonValue::Kind::Bool: return v.as_bool();
        case JsonValue::Kind::UInt: return v.as_uint() != 0;
        case JsonValue::Kind::Int: return true;  // Int holds negative integers only
        default: return false;
    }
}

// Bounds of the declared integer widths.
struct IntRange {
    std::int64_t lo, hi;
    const char* name;
};
IntRange int_range(TypeKind kind) noexcept {
    switch (kind) {
        case TypeKind::Byte: return {-128, 127, "byte"};
        case TypeKind::I16: return {-32768, 32767, "i16"};
        case TypeKind::I32:
            return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), "i32"};
        default:
            return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), "i64"};
    }
}

ThriftValue make_integer(TypeKind kind, std::int64_t n) noexcept {
    switch (kind) {
        case TypeKind::Byte: return ThriftValue::make_byte(static_cast<std::int8_t>(n));
        case TypeKind::I16: return ThriftValue::make_i16(static_cast<std::int16_t>(n));
        case TypeKind::I32: return ThriftValue::make_i32(static_cast<std::int32_t>(n));
        default: return ThriftValue::make_i64(n);
    }
}

// Truncation to a declared width, as the JSON wire reader does.
std::int64_t truncate_to(TypeKind kind, std::int64_t n) noexcept {
    switch (kind) {
        case TypeKind::Byte: return static_cast<std::int8_t>(n);
        case TypeKind::I16: return static_cast<std::int16_t>(n);
        case TypeKind::I32: return static_cast<std::int32_t>(n);
        default: return n;
    }
}

bool is_integer_kind(TypeKind kind) noexcept {
    return kind == TypeKind::Byte || kind == TypeKind::I16 || kind == TypeKind::I32 || kind == TypeKind::I64;
}

// ---------------------------------------------------------------------------------------
// Payload form: plain JSON keyed by field name, into Thrift values.
//
// The document belongs to this call, so strings are moved out of it rather than copied,
// except below a struct that declares one name twice: both fields then convert the same
// JSON value.

class PayloadConverter {
public:
    explicit PayloadConverter(const StructMap& map) noexcept : map_(map) {}

    // The declared fields of `record` found in `object` (by name) or their defaults, into the
    // slots of `inst`. False with the Python error set.
    bool fill_instance(const StructRecord& record, JsonObject& object, InstancePayload& inst) {
        const bool take = !has_duplicate_names(record);
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            const ThriftField& field = record.fields[i];
            Slot& slot = inst.slots[record.layout->order_slot[i]];
            if (JsonValue* v = find_member(object, field.name)) {
                auto value = convert(field.field_type, *v, take);
                if (!value) return false;
                slot.value = std::move(*value);
            } else if (field.default_value) {
                slot.value = *field.default_value;
            }
        }
        return true;
    }

    // json_payload_to_thrift_value. nullopt with the Python error set.
    std::optional<ThriftValue> convert(const ThriftType& type, JsonValue& v, bool take) {
        switch (type.kind()) {
            case TypeKind::Bool: return ThriftValue::make_bool(json_flag(v));
            case TypeKind::Byte:
            case TypeKind::I16:
            case TypeKind::I32:
            case TypeKind::I64: {
                auto n = json_i64(v);
                if (!n) return raise_value_error("expected JSON integer");
                return checked_integer(type.kind(), *n);
            }
            case TypeKind::Double: return ThriftValue::make_double(v.to_f64().value_or(0.0));
            case TypeKind::String:
                if (!v.is_string()) return ThriftValue::make_string(std::string());
                return ThriftValue::make_string(take ? std::move(v.as_string()) : v.as_string());
            case TypeKind::Binary:
                if (!v.is_string()) return ThriftValue::make_binary(std::string());
                return binary(v.as_string(), take);
            case TypeKind::List:
            case TypeKind::Set: {
                ThriftValue::List items;
                if (v.is_array()) {
                    JsonArray& elements = v.as_array();
                    items.reserve(elements.size());
                    for (JsonValue& e : elements) {
                        auto item = convert(type.element_type(), e, take);
                        if (!item) return std::nullopt;
                        items.push_back(std::move(*item));
                    }
                }
                return type.kind() == TypeKind::List ? ThriftValue::make_list(std::move(items))
                                                     : ThriftValue::make_set(std::move(items));
            }
            case TypeKind::Map: {
                ThriftValue::Entries entries;
                if (v.is_object()) {
                    JsonObject& members = v.as_object();
                    entries.reserve(members.size());
                    for (JsonMember& m : members) {
                        auto key = map_key(type.key_type(), m.key, take);
                        if (!key) return std::nullopt;
                        auto value = convert(type.value_type(), m.value, take);
                        if (!value) return std::nullopt;
                        entries.emplace_back(std::move(*key), std::move(*value));
                    }
                }
                return ThriftValue::make_map(std::move(entries));
            }
            case TypeKind::Struct: {
                const std::string& name = type.struct_name();
                ThriftValue::Fields fields;
                const StructRecord* found = map_.find(name);
                if (found && v.is_object()) {
                    const StructRecord& record = *found;
                    const bool take_fields = take && !has_duplicate_names(record);
                    JsonObject& object = v.as_object();
                    for (const ThriftField& field : record.fields) {
                        if (JsonValue* member = find_member(object, field.name)) {
                            auto value = convert(field.field_type, *member, take_fields);
                            if (!value) return std::nullopt;
                            fields.insert_or_assign(field.name, std::move(*value));
                        } else if (field.default_value) {
                            fields.insert_or_assign(field.name, *field.default_value);
                        }
                    }
                }
                return ThriftValue::make_struct(name, std::move(fields));
            }
        }
        return ThriftValue();
    }

private:
    static bool has_duplicate_names(const StructRecord& record) noexcept {
        return record.layout->slot_count() != record.fields.size();
    }

    // A value outside the declared width is refused rather than wrapped around: 300 for a
    // byte field is a caller's mistake, not the byte 44.
    static std::optional<ThriftValue> checked_integer(TypeKind kind, std::int64_t n) {
        const IntRange range = int_range(kind);
        if (n < range.lo || n > range.hi) {
            PyErr_Format(PyExc_ValueError, "JSON integer %lld out of range for %s", static_cast<long long>(n),
                         range.name);
            return std::nullopt;
        }
        return make_integer(kind, n);
    }

    // Base64 text when it decodes, else the text's own bytes.
    ThriftValue binary(std::string& text, bool take) {
        scratch_.clear();
        if (protocol::base64_decode(text, scratch_))
            return ThriftValue::make_binary(std::string(reinterpret_cast<const char*>(scratch_.data()), scratch_.size()));
        return ThriftValue::make_binary(take ? std::move(text) : text);
    }

    // A map key from its object-key text. Integer keys follow the integer values' rules (a
    // key that is not an integer of the declared width is refused, where collapsing it to 0
    // would silently merge entries); binary keys the binary values' rules.
    std::optional<ThriftValue> map_key(const ThriftType& type, std::string& text, bool take) {
        const TypeKind kind = type.kind();
        if (is_integer_kind(kind)) {
            auto n = protocol::parse_i64_text(text);
            if (!n) return raise_value_error("expected JSON integer");
            return checked_integer(kind, *n);
        }
        switch (kind) {
            case TypeKind::Bool: return ThriftValue::make_bool(text == "1" || text == "true");
            case TypeKind::Double: return ThriftValue::make_double(protocol::parse_f64_text(text).value_or(0.0));
            case TypeKind::Binary: return binary(text, take);
            default: return ThriftValue::make_string(take ? std::move(text) : text);
        }
    }

    const StructMap& map_;
    std::vector<std::uint8_t> scratch_;
};

// ---------------------------------------------------------------------------------------
// Struct-object form: the writer's layout, straight into Python objects.

class ObjectConverter {
public:
    explicit ObjectConverter(const SharedStructMap& map) noexcept : map_(map) {}

    // A new instance of `record` from a struct object. Every instance, at any depth, carries
    // the top-level struct map so that the structs nested in it resolve.
    PyObject* instance(const StructRecord& record, const JsonObject& object) {
        InstancePayload inst = empty_instance_of(record, map_);
        if (!record.fields.empty()) {
            for (const JsonMember& m : object) {
                if (!m.value.is_array() || m.value.as_array().size() < 2) continue;
                auto it = record.field_index.find(protocol::parse_i16_text(m.key).value_or(0));
                if (it == record.field_index.end()) continue;
                PyObject* value = to_py(m.value.as_array()[1], record.fields[it->second].field_type);
                if (!value) return nullptr;
                inst.slots[record.layout->order_slot[it->second]].py = Ref::steal(value);
            }
        }
        return wrap_instance(std::move(inst));
    }

    // json_value_to_py. nullptr with the Python error set.
    PyObject* to_py(const JsonValue& v, const ThriftType& type) {
        switch (type.kind()) {
            case TypeKind::Bool: return boolean(json_flag(v)).release();
            case TypeKind::Byte:
            case TypeKind::I16:
            case TypeKind::I32:
                return PyLong_FromLongLong(truncate_to(type.kind(), v.to_i64().value_or(0)));
            case TypeKind::I64: {
                std::int64_t n = 0;
                if (v.is_integer())
                    n = v.to_i64().value_or(0);
                else if (v.is_string())
                    n = protocol::parse_i64_text(v.as_string()).value_or(0);
                return PyLong_FromLongLong(n);
            }
            case TypeKind::Double: {
                double d = 0.0;
                if (v.is_number())
                    d = *v.to_f64();
                else if (v.is_string())
                    d = protocol::parse_f64_text(v.as_string()).value_or(0.0);
                return PyFloat_FromDouble(d);
            }
            case TypeKind::String:
                return v.is_string() ? text(v.as_string()) : PyUnicode_New(0, 0);
            case TypeKind::Binary:
                return v.is_string() ? bytes_from_base64(v.as_string()) : PyBytes_FromStringAndSize(nullptr, 0);
            case TypeKind::List:
            case TypeKind::Set: return list(v, type.element_type());
            case TypeKind::Map: return dict(v, type.key_type(), type.value_type());
            case TypeKind::Struct: {
                if (!v.is_object()) return raise_type_error("Expected JSON object for struct");
                const std::string& name = type.struct_name();
                const StructRecord* record = map_->find(name);
                if (!record) return raise_with_suffix(PyExc_ValueError, "Unknown struct: ", name);
                return instance(*record, v.as_object());
            }
        }
        Py_RETURN_NONE;
    }

private:
    // Texts come from the parser, which has checked their UTF-8.
    static PyObject* text(const std::string& s) noexcept {
        return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
    }

    PyObject* bytes_from_base64(const std::string& s) {
        scratch_.clear();
        auto decoded = protocol::base64_decode(s, scratch_);
        if (!decoded) return raise_with_suffix(PyExc_ValueError, "Base64 error: ", decoded.error().text());
        return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(scratch_.data()),
                                         static_cast<Py_ssize_t>(scratch_.size()));
    }

    // [element type, count, elements...]: the header is not examined.
    PyObject* list(const JsonValue& v, const ThriftType& elem) {
        if (!v.is_array()) return raise_type_error("Expected JSON array");
        const JsonArray& items = v.as_array();
        const std::size_t n = items.size() > 2 ? items.size() - 2 : 0;
        Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
        if (!out) return nullptr;
        for (std::size_t i = 0; i < n; ++i) {
            PyObject* item = to_py(items[i + 2], elem);
            if (!item) return nullptr;
            PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item);
        }
        return out.release();
    }

    // [key type, value type, count, {key text: value, ...}].
    PyObject* dict(const JsonValue& v, const ThriftType& kt, const ThriftType& vt) {
        if (!v.is_array()) return raise_type_error("Expected JSON array for map");
        const JsonArray& items = v.as_array();
        if (items.size() < 4) return raise_type_error("Map array too short");
        if (!items[3].is_object()) return raise_type_error("Expected JSON object in map");
        Ref out = Ref::steal(PyDict_New());
        if (!out) return nullptr;
        for (const JsonMember& m : items[3].as_object()) {
            Ref key = Ref::steal(map_key(kt, m.key));
            if (!key) return nullptr;
            Ref value = Ref::steal(to_py(m.value, vt));
            if (!value) return nullptr;
            if (PyDict_SetItem(out.get(), key.get(), value.get()) < 0) return nullptr;
        }
        return out.release();
    }

    // A map key from its object-key text. Binary keys were written as their Base64 text and
    // decode as binary values do; reading them as that text would hand back other bytes.
    PyObject* map_key(const ThriftType& type, const std::string& key) {
        switch (type.kind()) {
            case TypeKind::Bool: return boolean(key == "1" || equals_true_ignoring_case(key)).release();
            case TypeKind::Byte:
            case TypeKind::I16:
            case TypeKind::I32:
            case TypeKind::I64: return PyLong_FromLongLong(protocol::parse_i64_text(key).value_or(0));
            case TypeKind::Double: return PyFloat_FromDouble(protocol::parse_f64_text(key).value_or(0.0));
            case TypeKind::Binary: return bytes_from_base64(key);
            default: return text(key);
        }
    }

    static bool equals_true_ignoring_case(std::string_view s) noexcept {
        constexpr std::string_view kTrue = "true";
        if (s.size() != kTrue.size()) return false;
        for (std::size_t i = 0; i < s.size(); ++i)
            if ((s[i] | 0x20) != kTrue[i]) return false;
        return true;
    }

    const SharedStructMap& map_;
    std::vector<std::uint8_t> scratch_;
};

// The document of the payload form, or nullptr: an object whose "payload" member is an object.
JsonObject* payload_object(JsonValue& document) noexcept {
    if (!document.is_object()) return nullptr;
    JsonValue* payload = find_member(document.as_object(), "payload");
    return payload && payload->is_object() ? &payload->as_object() : nullptr;
}

}  // namespace

PyObject* deserialize_json_struct(const StructRecord& record, std::span<const std::uint8_t> bytes) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());

        // A 4-byte big-endian length equal to the rest of the data is a frame header; the
        // payload form is looked for behind it.
        bool framed = false;
        if (bytes.size() >= 4) {
            const std::uint64_t length = (std::uint64_t{bytes[0]} << 24) | (std::uint64_t{bytes[1]} << 16) |
                                         (std::uint64_t{bytes[2]} << 8) | std::uint64_t{bytes[3]};
            framed = length == bytes.size() - 4;
        }

        auto document = protocol::parse_json(framed ? text.substr(4) : text);
        if (document) {
            if (JsonObject* payload = payload_object(*document)) {
                InstancePayload inst = empty_instance_of(record, record.struct_map);
                PayloadConverter converter(*record.struct_map);
                if (!converter.fill_instance(record, *payload, inst)) return nullptr;
                return wrap_instance(std::move(inst));
            }
        }

        // The struct-object form reads the data as given. Without a frame header that is the
        // document just parsed (or the same parse error).
        if (framed) document = protocol::parse_json(text);
        if (!document) return raise_with_suffix(PyExc_ValueError, "JSON parse error: ", document.error().text());
        if (!document->is_object()) return raise_type_error("Expected JSON object for struct");
        ObjectConverter converter(record.struct_map);
        return converter.instance(record, document->as_object());
    });
}

}  // namespace velmora::py
