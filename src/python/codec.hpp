// The schema-driven writer and readers, written once and instantiated for every protocol.
#pragma once

#include <limits>

#include "protocol/input_cursor.hpp"
#include "protocol/skip.hpp"
#include "protocol/types.hpp"
#include "python/convert.hpp"
#include "python/instance.hpp"

namespace velmora::py {

using protocol::ProtocolError;
using protocol::ProtocolStatus;
using protocol::TType;

// Wire type code of a declared type and of a value's own kind (the two enumerations share
// their order).
inline std::uint8_t type_code(TypeKind kind) noexcept {
    static constexpr std::uint8_t codes[kTypeKindCount] = {
        TType::BOOL,   TType::BYTE,   TType::I16,  TType::I32, TType::I64, TType::DOUBLE,
        TType::STRING, TType::STRING, TType::LIST, TType::SET, TType::MAP, TType::STRUCT};
    return codes[static_cast<std::size_t>(kind)];
}
inline std::uint8_t type_code(const ThriftType& type) noexcept { return type_code(type.kind()); }
inline std::uint8_t type_code(const ThriftValue& value) noexcept {
    return type_code(static_cast<TypeKind>(value.kind()));
}

// Sets IOError with `prefix` followed by the text of an I/O error.
void raise_io_error(std::string_view prefix, const protocol::IoError& error) noexcept;
// Protocol errors reach Python as their display text ("IO error: ...", "Invalid type: 7").
inline void raise_protocol_error(std::string_view prefix, const ProtocolError& error) noexcept {
    raise_io_error(prefix, protocol::IoError{protocol::IoErrorKind::InvalidData, error.text()});
}

// Guards recursion over Python data being written (RecursionError at the interpreter's limit).
class WriteRecursionGuard {
public:
    WriteRecursionGuard() noexcept : ok_(Py_EnterRecursiveCall(" while serializing a Python value") == 0) {}
    ~WriteRecursionGuard() {
        if (ok_) Py_LeaveRecursiveCall();
    }
    bool ok() const noexcept { return ok_; }

private:
    bool ok_;
};

// ---------------------------------------------------------------------------------------
// Writer: Python data straight into a protocol writer, guided by declared types. Every
// function returns false with a Python exception set on failure; the output written so far
// is then incomplete and the caller discards it.

template <protocol::TOutputProtocol W>
class PyWriter {
public:
    PyWriter(W& w, const SharedStructMap& map) noexcept : w_(w), map_(map) {}

    // write_value_with_structs
    bool write_value(const ThriftType& type, PyObject* obj) {
        switch (type.kind()) {
            case TypeKind::Bool: {
                bool b;
                if (!extract_bool(obj, b)) return false;
                w_.write_bool(b);
                return true;
            }
            case TypeKind::Byte: {
                std::int64_t v;
                if (!extract_integer(obj, -128, 127, v)) return false;
                w_.write_byte(static_cast<std::int8_t>(v));
                return true;
            }
            case TypeKind::I16: {
                std::int64_t v;
                if (!extract_integer(obj, -32768, 32767, v)) return false;
                w_.write_i16(static_cast<std::int16_t>(v));
                return true;
            }
            case TypeKind::I32: {
                std::int64_t v;
                if (!extract_integer(obj, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max(), v))
                    return false;
                w_.write_i32(static_cast<std::int32_t>(v));
                return true;
            }
            case TypeKind::I64: {
                std::int64_t v;
                if (!extract_integer(obj, std::numeric_limits<std::int64_t>::min(),
                                     std::numeric_limits<std::int64_t>::max(), v))
                    return false;
                w_.write_i64(v);
                return true;
            }
            case TypeKind::Double: {
                double d;
                if (!extract_double(obj, d)) return false;
                w_.write_double(d);
                return true;
            }
            case TypeKind::String: {
                std::string_view s;
                if (!extract_str(obj, s) || !fits_wire_length(s.size())) return false;
                w_.write_string(s);
                return true;
            }
            case TypeKind::Binary: {
                std::string storage;
                std::string_view bytes;
                if (!extract_binary(obj, storage, bytes) || !fits_wire_length(bytes.size())) return false;
                w_.write_binary({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
                return true;
            }
            case TypeKind::List:
            case TypeKind::Set: return write_list(type, obj);
            case TypeKind::Map: return write_map(type, obj);
            case TypeKind::Struct: return write_struct(type.struct_name(), obj);
        }
        return true;
    }

    // serialize_struct_any: the fields of `record` from an instance or a dict (no struct
    // begin, stop or end).
    bool serialize_struct_any(const StructRecord& record, PyObject* data) {
        if (InstancePayload* inst = instance_payload(data)) return write_instance_fields(record, *inst);
        if (PyDict_Check(data)) return write_dict_fields(record, data);
        raise_not_instance(data, "dict");
        return false;
    }

    // write_thrift_value: a stored value, with type codes from its own kinds.
    ProtocolStatus write_thrift_value(const ThriftValue& value) {
        switch (value.kind()) {
            case ValueKind::Bool: w_.write_bool(value.as_bool()); break;
            case ValueKind::Byte: w_.write_byte(value.as_byte()); break;
            case ValueKind::I16: w_.write_i16(value.as_i16()); break;
            case ValueKind::I32: w_.write_i32(value.as_i32()); break;
            case ValueKind::I64: w_.write_i64(value.as_i64()); break;
            case ValueKind::Double: w_.write_double(value.as_double()); break;
            case ValueKind::String: w_.write_string(value.as_string()); break;
            case ValueKind::Binary: {
                const std::string& b = value.as_binary();
                w_.write_binary({reinterpret_cast<const std::uint8_t*>(b.data()), b.size()});
                break;
            }
            case ValueKind::List:
            case ValueKind::Set: {
                const auto& items = value.kind() == ValueKind::List ? value.as_list() : value.as_set();
                w_.write_list_begin(items.empty() ? TType::STRING : type_code(items.front()),
                                    static_cast<std::int32_t>(items.size()));
                for (const ThriftValue& item : items) {
                    auto st = write_thrift_value(item);
                    if (!st) return st;
                }
                return w_.write_list_end();
            }
            case ValueKind::Map: {
                const auto& entries = value.as_map();
                std::uint8_t kt = entries.empty() ? TType::STRING : type_code(entries.front().first);
                std::uint8_t vt = entries.empty() ? TType::STRING : type_code(entries.front().second);
                w_.write_map_begin(kt, vt, static_cast<std::int32_t>(entries.size()));
                for (const auto& [k, v] : entries) {
                    auto st = write_thrift_value(k);
                    if (!st) return st;
                    st = write_thrift_value(v);
                    if (!st) return st;
                }
                return w_.write_map_end();
            }
            case ValueKind::Struct: return write_struct_value(value.as_struct());
        }
        return Unit{};
    }

private:
    // Lengths and counts travel as signed 32-bit numbers; anything longer cannot be written.
    static bool fits_wire_length(std::size_t n) {
        if (n <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return true;
        PyErr_Format(PyExc_OverflowError, "length %zu is too large for the wire (at most 2147483647)", n);
        return false;
    }

    bool protocol_failed(const ProtocolStatus& st) {
        if (st) return false;
        raise_protocol_error("", st.error());
        return true;
    }

    bool write_list(const ThriftType& type, PyObject* obj) {
        if (!PyList_Check(obj)) {
            raise_not_instance(obj, "list");
            return false;
        }
        WriteRecursionGuard guard;
        if (!guard.ok()) return false;
        const ThriftType& elem = type.element_type();
        const Py_ssize_t n = PyList_GET_SIZE(obj);
        if (!fits_wire_length(static_cast<std::size_t>(n))) return false;
        w_.write_list_begin(type_code(elem), static_cast<std::int32_t>(n));
        // Items are re-checked against the current size: element conversions may run Python
        // code that changes the list.
        auto each = [&](auto&& write_item) {
            for (Py_ssize_t i = 0; i < n; ++i) {
                if (i >= PyList_GET_SIZE(obj)) return raise_changed_size("list");
                Ref item = Ref::borrow(PyList_GET_ITEM(obj, i));
                if (!write_item(item.get())) return false;
            }
            return true;
        };
        bool ok;
        switch (elem.kind()) {
            // The commonest element types get loops of their own.
            case TypeKind::I32:
                ok = each([&](PyObject* item) {
                    std::int64_t v;
                    if (!extract_integer(item, std::numeric_limits<std::int32_t>::min(),
                                         std::numeric_limits<std::int32_t>::max(), v))
                        return false;
                    w_.write_i32(static_cast<std::int32_t>(v));
                    return true;
                });
                break;
            case TypeKind::String:
                ok = each([&](PyObject* item) {
                    std::string_view s;
                    if (!extract_str(item, s) || !fits_wire_length(s.size())) return false;
                    w_.write_string(s);
                    return true;
                });
                break;
            case TypeKind::Struct: {
                const StructRecord* record = n > 0 ? find_struct(elem.struct_name()) : nullptr;
                if (n > 0 && !record) return false;
                ok = each([&](PyObject* item) { return write_struct(*record, item); });
                break;
            }
            default: ok = each([&](PyObject* item) { return write_value(elem, item); }); break;
        }
        if (!ok) return false;
        if (PyList_GET_SIZE(obj) != n) return raise_changed_size("list");
        return !protocol_failed(w_.write_list_end());
    }

    bool write_map(const ThriftType& type, PyObject* obj) {
        if (!PyDict_Check(obj)) {
            raise_not_instance(obj, "dict");
            return false;
        }
        WriteRecursionGuard guard;
        if (!guard.ok()) return false;
        const ThriftType& kt = type.key_type();
        const ThriftType& vt = type.value_type();
        const Py_ssize_t n = PyDict_GET_SIZE(obj);
        if (!fits_wire_length(static_cast<std::size_t>(n))) return false;
        w_.write_map_begin(type_code(kt), type_code(vt), static_cast<std::int32_t>(n));
        PyObject *k, *v;
        Py_ssize_t pos = 0, count = 0;
        while (PyDict_Next(obj, &pos, &k, &v)) {
            Ref key = Ref::borrow(k), value = Ref::borrow(v);
            if (++count > n) return raise_changed_size("dictionary");
            if (!write_value(kt, key.get()) || !write_value(vt, value.get())) return false;
        }
        if (count != n || PyDict_GET_SIZE(obj) != n) return raise_changed_size("dictionary");
        return !protocol_failed(w_.write_map_end());
    }

    static bool raise_changed_size(const char* what) {
        PyErr_Format(PyExc_RuntimeError, "%s changed size during iteration", what);
        return false;
    }

    const StructRecord* find_struct(const std::string& name) {
        const StructRecord* record = map_->find(name);
        if (!record) PyErr_SetString(PyExc_ValueError, ("Unknown struct: " + name).c_str());
        return record;
    }

    bool write_struct(const std::string& name, PyObject* obj) {
        const StructRecord* record = find_struct(name);
        return record && write_struct(*record, obj);
    }

    bool write_struct(const StructRecord& record, PyObject* obj) {
        WriteRecursionGuard guard;
        if (!guard.ok()) return false;
        w_.write_struct_begin();
        if (!serialize_struct_any(record, obj)) return false;
        w_.write_field_stop();
        return !protocol_failed(w_.write_struct_end());
    }

    bool write_stored(const ThriftField& field, const ThriftValue& value) {
        w_.write_field_begin(type_code(field.field_type), field.id);
        auto st = write_thrift_value(value);
        if (st) return true;
        raise_protocol_error("Write error: ", st.error());
        return false;
    }

    bool write_instance_fields(const StructRecord& record, InstancePayload& inst) {
        SharedBorrow access(inst.borrow);
        if (!access.ok()) return false;
        const bool same_layout = inst.layout == record.layout;
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            const ThriftField& field = record.fields[i];
            std::int64_t slot = same_layout ? record.layout->order_slot[i] : inst.layout->find(field.name);
            if (slot < 0) continue;
            const Slot& s = inst.slots[static_cast<std::size_t>(slot)];
            if (s.py) {
                if (s.py.get() == Py_None) continue;
                w_.write_field_begin(type_code(field.field_type), field.id);
                Ref keep = s.py;
                if (!write_value(field.field_type, keep.get())) return false;
            } else if (s.value) {
                if (!write_stored(field, *s.value)) return false;
            }
        }
        return true;
    }

    bool write_dict_fields(const StructRecord& record, PyObject* dict) {
        const Layout& layout = *record.layout;
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            const ThriftField& field = record.fields[i];
            PyObject* value = PyDict_GetItemWithError(dict, layout.slot_names[layout.order_slot[i]]);
            if (!value) {
                if (PyErr_Occurred()) return false;
                if (field.default_value && !write_stored(field, *field.default_value)) return false;
                continue;
            }
            if (value == Py_None) {
                if (field.required) {
                    PyErr_SetString(PyExc_TypeError, ("Required field '" + field.name + "' cannot be None").c_str());
                    return false;
                }
                continue;
            }
            Ref keep = Ref::borrow(value);
            w_.write_field_begin(type_code(field.field_type), field.id);
            if (!write_value(field.field_type, keep.get())) return false;
        }
        return true;
    }

    ProtocolStatus write_struct_value(const StructValue& sv) {
        w_.write_struct_begin();
        const StructRecord* record = nullptr;
        if (sv.name) record = map_->find(*sv.name);
        if (record) {
            for (const ThriftField& field : record->fields) {
                auto it = sv.fields.find(field.name);
                if (it == sv.fields.end()) continue;
                w_.write_field_begin(type_code(it->second), field.id);
                auto st = write_thrift_value(it->second);
                if (!st) return st;
            }
        } else {
            for (const auto& [name, value] : sv.fields) {
                w_.write_field_begin(type_code(value), 0);
                auto st = write_thrift_value(value);
                if (!st) return st;
            }
        }
        w_.write_field_stop();
        return w_.write_struct_end();
    }

    W& w_;
    const SharedStructMap& map_;
};

// ---------------------------------------------------------------------------------------
// Thrift-value reader: declared types into ThriftValues, no Python objects (so it can run
// without the interpreter lock). Errors are I/O errors.

using protocol::IoError;
using protocol::IoErrorKind;

template <class T>
using IoResult = Result<T, IoError>;

template <protocol::TInputProtocol R>
class NativeReader {
public:
    NativeReader(R& r, const SharedStructMap& map) noexcept : r_(r), map_(map) {}

    // read_native_value
    IoResult<ThriftValue> read_value(const ThriftType& type) {
        switch (type.kind()) {
            case TypeKind::Bool: return scalar(r_.read_bool(), &ThriftValue::make_bool);
            case TypeKind::Byte: return scalar(r_.read_byte(), &ThriftValue::make_byte);
            case TypeKind::I16: return scalar(r_.read_i16(), &ThriftValue::make_i16);
            case TypeKind::I32: return scalar(r_.read_i32(), &ThriftValue::make_i32);
            case TypeKind::I64: return scalar(r_.read_i64(), &ThriftValue::make_i64);
            case TypeKind::Double: return scalar(r_.read_double(), &ThriftValue::make_double);
            case TypeKind::String: {
                auto s = r_.read_string();
                if (!s) return fail(s.error());
                return ThriftValue::make_string(std::string(*s));
            }
            case TypeKind::Binary: {
                auto b = r_.read_binary();
                if (!b) return fail(b.error());
                return ThriftValue::make_binary(std::string(reinterpret_cast<const char*>(b->data()), b->size()));
            }
            case TypeKind::List:
            case TypeKind::Set: {
                auto header = r_.read_list_begin();
                if (!header) return fail(header.error());
                auto size = protocol::checked_size(header->size);
                if (!size) return fail(size.error());
                ThriftValue::List items;
                items.reserve(r_.reserve_hint(header->size));
                for (std::uint32_t i = 0; i < *size; ++i) {
                    auto item = read_value(type.element_type());
                    if (!item) return item;
                    items.push_back(std::move(*item));
                }
                r_.read_list_end();
                return type.kind() == TypeKind::List ? ThriftValue::make_list(std::move(items))
                                                     : ThriftValue::make_set(std::move(items));
            }
            case TypeKind::Map: {
                auto header = r_.read_map_begin();
                if (!header) return fail(header.error());
                auto size = protocol::checked_size(header->size);
                if (!size) return fail(size.error());
                ThriftValue::Entries entries;
                entries.reserve(r_.reserve_hint(header->size));
                for (std::uint32_t i = 0; i < *size; ++i) {
                    auto key = read_value(type.key_type());
                    if (!key) return key;
                    auto value = read_value(type.value_type());
                    if (!value) return value;
                    entries.emplace_back(std::move(*key), std::move(*value));
                }
                r_.read_map_end();
                return ThriftValue::make_map(std::move(entries));
            }
            case TypeKind::Struct: {
                const StructRecord* record = map_->find(type.struct_name());
                if (!record)
                    return Err{IoError{IoErrorKind::InvalidData, "Unknown struct type: " + type.struct_name()}};
                auto begun = r_.read_struct_begin();
                if (!begun) return fail(begun.error());
                ThriftValue::Fields fields;
                auto st = read_fields(*record, fields);
                if (!st) return Err{std::move(st).error()};
                r_.read_struct_end();
                return ThriftValue::make_struct(type.struct_name(), std::move(fields));
            }
        }
        return ThriftValue();
    }

    // deserialize_native_struct: the fields up to and including STOP, by declared name.
    // A field whose wire type differs from its declared type is skipped like an unknown one.
    Status<IoError> read_fields(const StructRecord& record, ThriftValue::Fields& fields) {
        for (;;) {
            auto header = r_.read_field_begin();
            if (!header) return fail(header.error());
            if (header->type == TType::STOP) return Unit{};
            const std::int64_t pos = record.position_of(header->id);
            if (pos >= 0) {
                const ThriftField& field = record.fields[static_cast<std::size_t>(pos)];
                if (type_code(field.field_type) == header->type) {
                    auto value = read_value(field.field_type);
                    if (!value) return Err{std::move(value).error()};
                    fields.insert_or_assign(field.name, std::move(*value));
                    continue;
                }
            }
            auto skipped = protocol::skip_value(r_, header->type);
            if (!skipped) return fail(skipped.error());
        }
    }

private:
    // A protocol error becomes an invalid-data error carrying its display text.
    static Err<IoError> fail(const ProtocolError& e) { return Err{IoError{IoErrorKind::InvalidData, e.text()}}; }

    template <class T, class Make>
    static IoResult<ThriftValue> scalar(protocol::ProtocolResult<T>&& r, Make make) {
        if (!r) return fail(r.error());
        return make(*r);
    }

    R& r_;
    const SharedStructMap& map_;
};

// ---------------------------------------------------------------------------------------
// Python-object reader: declared types straight into Python objects.
//
// Two callers word their errors differently. Deserializing a struct into an instance
// (ReadStyle::Instance) reports every failure as IOError "Read error: ..." and treats a
// negative container size as malformed; reading a reply value (ReadStyle::Value) raises the
// bare protocol text, ValueError for an unknown struct type, and reads a negative size as
// empty.

enum class ReadStyle { Instance, Value };

template <protocol::TInputProtocol R>
class PyReader {
public:
    PyReader(R& r, const SharedStructMap& map, ReadStyle style) noexcept : r_(r), map_(map), style_(style) {}

    // read_value_with_structs. nullptr with the Python error set on failure.
    PyObject* read_value(const ThriftType& type) {
        switch (type.kind()) {
            case TypeKind::Bool: {
                auto v = r_.read_bool();
                if (!v) return fail(v.error());
                return boolean(*v).release();
            }
            case TypeKind::Byte: return integer(r_.read_byte());
            case TypeKind::I16: return integer(r_.read_i16());
            case TypeKind::I32: return integer(r_.read_i32());
            case TypeKind::I64: return integer(r_.read_i64());
            case TypeKind::Double: {
                auto v = r_.read_double();
                if (!v) return fail(v.error());
                return PyFloat_FromDouble(*v);
            }
            case TypeKind::String: return read_text();
            case TypeKind::Binary: {
                auto b = r_.read_binary();
                if (!b) return fail(b.error());
                return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(b->data()),
                                                 static_cast<Py_ssize_t>(b->size()));
            }
            case TypeKind::List:
            case TypeKind::Set: return read_list(type.element_type());
            case TypeKind::Map: return read_map(type.key_type(), type.value_type());
            case TypeKind::Struct: {
                const StructRecord* record = map_->find(type.struct_name());
                if (!record) return unknown_struct(type.struct_name());
                return read_nested(*record);
            }
        }
        Py_RETURN_NONE;
    }

    // One element of a container, with a struct element type already resolved.
    PyObject* read_element(const ThriftType& type, const StructRecord* record) {
        return record ? read_nested(*record) : read_value(type);
    }

    PyObject* read_nested(const StructRecord& record) {
        auto begun = r_.read_struct_begin();
        if (!begun) return fail(begun.error());
        PyObject* inst = read_instance(record);
        if (!inst) return nullptr;
        r_.read_struct_end();
        return inst;
    }

    // deserialize_struct_fields_as_instance: the fields of `record` up to and including STOP
    // into a new instance. Values are read straight into Python objects, except for fields
    // whose values have no faithful Python form, which are kept as Thrift values.
    PyObject* read_instance(const StructRecord& record) {
        // A struct's fields report their errors as a struct read does, whoever asked.
        const ReadStyle outer = style_;
        style_ = ReadStyle::Instance;
        PyObject* inst = read_instance_fields(record);
        style_ = outer;
        return inst;
    }

private:
    PyObject* read_instance_fields(const StructRecord& record) {
        // The instance is built in place and filled as fields arrive; on failure it is
        // released with whatever it held.
        Ref obj = Ref::steal(new_instance_object(record, map_));
        if (!obj) return nullptr;
        InstancePayload& inst = InstanceObject::of(obj.get());
        for (;;) {
            auto header = r_.read_field_begin();
            if (!header) return fail(header.error());
            if (header->type == TType::STOP) break;
            const std::int64_t pos = record.position_of(header->id);
            if (pos >= 0) {
                const std::size_t i = static_cast<std::size_t>(pos);
                const ThriftField& field = record.fields[i];
                if (type_code(field.field_type) == header->type) {
                    Slot& slot = inst.slots[record.layout->order_slot[i]];
                    if (record.keep_as_value[i]) {
                        NativeReader<R> native(r_, map_);
                        auto value = native.read_value(field.field_type);
                        if (!value) return fail_io(value.error());
                        slot.py.reset();
                        slot.value = std::move(*value);
                    } else {
                        PyObject* value = read_value(field.field_type);
                        if (!value) return nullptr;
                        slot.py = Ref::steal(value);
                        slot.value.reset();
                    }
                    continue;
                }
            }
            auto skipped = protocol::skip_value(r_, header->type);
            if (!skipped) return fail(skipped.error());
        }
        return obj.release();
    }

    // A string as str. Where strings are plain bytes on the wire, the interpreter's decoder is
    // the only UTF-8 check on the way; the protocol's own check runs only to word a failure.
    PyObject* read_text() {
        if constexpr (requires { R::kStringsAreRawBytes; }) {
            auto b = r_.read_binary();
            if (!b) return fail(b.error());
            const char* p = reinterpret_cast<const char*>(b->data());
            PyObject* s = PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(b->size()), nullptr);
            if (s || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return s;
            auto bad = protocol::validate_utf8(*b);
            if (!bad) return nullptr;
            PyErr_Clear();
            return fail(protocol::InputCursor::utf8_error(*bad));
        } else {
            auto s = r_.read_string();
            if (!s) return fail(s.error());
            return PyUnicode_DecodeUTF8(s->data(), static_cast<Py_ssize_t>(s->size()), nullptr);
        }
    }

    template <class T>
    PyObject* integer(protocol::ProtocolResult<T>&& v) {
        if (!v) return fail(v.error());
        return PyLong_FromLongLong(*v);
    }

    // Number of elements of a container header, nullopt (error set) when malformed.
    std::optional<std::uint32_t> element_count(std::int32_t size) {
        if (size >= 0) return static_cast<std::uint32_t>(size);
        if (style_ == ReadStyle::Value) return 0u;
        fail(protocol::checked_size(size).error());
        return std::nullopt;
    }

    PyObject* read_list(const ThriftType& elem) {
        auto header = r_.read_list_begin();
        if (!header) return fail(header.error());
        auto count = element_count(header->size);
        if (!count) return nullptr;
        // Presized only as far as the remaining input can hold elements.
        const bool presized = *count <= r_.reserve_hint(header->size);
        Ref list = Ref::steal(PyList_New(presized ? static_cast<Py_ssize_t>(*count) : 0));
        if (!list) return nullptr;
        const StructRecord* record = nullptr;
        if (elem.kind() == TypeKind::Struct && *count > 0) {
            record = map_->find(elem.struct_name());
            if (!record) return unknown_struct(elem.struct_name());
        }
        for (std::uint32_t i = 0; i < *count; ++i) {
            PyObject* item = read_element(elem, record);
            if (!item) return nullptr;
            if (presized) {
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
            } else {
                int rc = PyList_Append(list.get(), item);
                Py_DECREF(item);
                if (rc < 0) return nullptr;
            }
        }
        r_.read_list_end();
        return list.release();
    }

    PyObject* read_map(const ThriftType& kt, const ThriftType& vt) {
        auto header = r_.read_map_begin();
        if (!header) return fail(header.error());
        auto count = element_count(header->size);
        if (!count) return nullptr;
        const std::size_t hint = std::min<std::size_t>(*count, r_.reserve_hint(header->size));
        Ref dict = Ref::steal(_PyDict_NewPresized(static_cast<Py_ssize_t>(hint)));
        if (!dict) return nullptr;
        for (std::uint32_t i = 0; i < *count; ++i) {
            Ref key = Ref::steal(read_value(kt));
            if (!key) return nullptr;
            Ref value = Ref::steal(read_value(vt));
            if (!value) return nullptr;
            if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
        }
        r_.read_map_end();
        return dict.release();
    }

    PyObject* unknown_struct(const std::string& name) {
        if (style_ == ReadStyle::Instance) {
            raise_io_error("Read error: ", IoError{IoErrorKind::InvalidData, "Unknown struct type: " + name});
        } else {
            PyErr_SetString(PyExc_ValueError, ("Unknown struct type: " + name).c_str());
        }
        return nullptr;
    }

    PyObject* fail(const ProtocolError& e) {
        raise_protocol_error(style_ == ReadStyle::Instance ? "Read error: " : "", e);
        return nullptr;
    }
    PyObject* fail_io(const IoError& e) {
        raise_io_error(style_ == ReadStyle::Instance ? "Read error: " : "", e);
        return nullptr;
    }

    R& r_;
    const SharedStructMap& map_;
    ReadStyle style_;
};

}  // namespace velmora::py
