// Conversions between Python objects and Thrift values (untyped, typed, and back).
#include "python/convert.hpp"

#include <cstring>
#include <limits>

#include "python/instance.hpp"

namespace velmora::py {

namespace {

constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();

// Guards the recursion of conversions over nested Python data (a dict that contains itself
// would otherwise exhaust the stack): raises RecursionError at the interpreter's limit.
class RecursionGuard {
public:
    RecursionGuard() noexcept : ok_(Py_EnterRecursiveCall(" while converting a Python value") == 0) {}
    ~RecursionGuard() {
        if (ok_) Py_LeaveRecursiveCall();
    }
    bool ok() const noexcept { return ok_; }

private:
    bool ok_;
};

// NumPy's boolean scalars count as booleans wherever a Python bool does.
bool is_bool_like(PyObject* obj) noexcept {
    if (PyBool_Check(obj)) return true;
    const char* name = Py_TYPE(obj)->tp_name;
    return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

bool is_integer_like(PyObject* obj) noexcept { return PyLong_Check(obj) || PyIndex_Check(obj); }

// Binary bytes of a sequence when every item is an integer 0..255; false (no error set)
// otherwise. Used by the untyped conversion, which then tries the next rule.
bool try_small_int_sequence(PyObject* obj, std::string& out) noexcept {
    if (PyBytes_Check(obj)) {
        out.assign(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        return true;
    }
    if (PyByteArray_Check(obj)) {
        out.assign(PyByteArray_AS_STRING(obj), static_cast<std::size_t>(PyByteArray_GET_SIZE(obj)));
        return true;
    }
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) return false;
    Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) {
        PyErr_Clear();
        return false;
    }
    out.clear();
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item = Ref::steal(PySequence_GetItem(obj, i));
        if (!item || !is_integer_like(item.get())) {
            PyErr_Clear();
            return false;
        }
        long v = PyLong_AsLong(item.get());
        if ((v == -1 && PyErr_Occurred()) || v < 0 || v > 255) {
            PyErr_Clear();
            return false;
        }
        out.push_back(static_cast<char>(v));
    }
    return true;
}

const char* qualified_type_name(PyObject* obj, Ref& holder) noexcept {
    holder = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!holder) {
        PyErr_Clear();
        return "<unknown>";
    }
    const char* s = PyUnicode_AsUTF8(holder.get());
    if (!s) {
        PyErr_Clear();
        return "<unknown>";
    }
    return s;
}

void raise_none() noexcept { PyErr_SetString(PyExc_TypeError, "None has no ThriftValue representation"); }

std::optional<ThriftValue> struct_from_instance(InstancePayload& inst, const ThriftType* declared,
                                                const SharedStructMap& map) noexcept;
std::optional<ThriftValue> struct_from_dict(PyObject* dict, const std::string& name, const SharedStructMap& map) noexcept;

std::optional<ThriftValue> convert_untyped(PyObject* obj) noexcept {
    if (obj == Py_None) {
        raise_none();
        return std::nullopt;
    }
    if (is_bool_like(obj)) {
        int t = PyObject_IsTrue(obj);
        if (t < 0) return std::nullopt;
        return ThriftValue::make_bool(t != 0);
    }
    if (is_integer_like(obj)) {
        int overflow = 0;
        Ref n = Ref::steal(PyNumber_Index(obj));
        if (n) {
            long long v = PyLong_AsLongLongAndOverflow(n.get(), &overflow);
            if (!(v == -1 && PyErr_Occurred()) && !overflow) return ThriftValue::make_i64(v);
        }
        PyErr_Clear();
    }
    if (PyFloat_CheckExact(obj)) return ThriftValue::make_double(PyFloat_AS_DOUBLE(obj));
    if (!PyUnicode_Check(obj)) {
        double d = PyFloat_AsDouble(obj);
        if (!(d == -1.0 && PyErr_Occurred())) return ThriftValue::make_double(d);
        PyErr_Clear();
    }
    if (PyUnicode_Check(obj)) {
        Utf8View v = utf8(obj);
        if (!v.ok) return std::nullopt;
        return ThriftValue::make_string(std::string(v.text));
    }
    {
        std::string bytes;
        if (try_small_int_sequence(obj, bytes)) return ThriftValue::make_binary(std::move(bytes));
    }
    RecursionGuard guard;
    if (!guard.ok()) return std::nullopt;
    if (PyList_Check(obj)) {
        ThriftValue::List items;
        items.reserve(static_cast<std::size_t>(PyList_GET_SIZE(obj)));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
            auto v = convert_untyped(PyList_GET_ITEM(obj, i));
            if (!v) return std::nullopt;
            items.push_back(std::move(*v));
        }
        return ThriftValue::make_list(std::move(items));
    }
    if (PyDict_Check(obj)) {
        ThriftValue::Entries entries;
        PyObject *k, *v;
        Py_ssize_t pos = 0;
        while (PyDict_Next(obj, &pos, &k, &v)) {
            Ref key_ref = Ref::borrow(k), value_ref = Ref::borrow(v);
            auto key = convert_untyped(k);
            if (!key) return std::nullopt;
            auto value = convert_untyped(v);
            if (!value) return std::nullopt;
            entries.emplace_back(std::move(*key), std::move(*value));
        }
        return ThriftValue::make_map(std::move(entries));
    }
    if (InstancePayload* inst = instance_payload(obj)) return struct_from_instance(*inst, nullptr, SharedStructMap{});
    Ref holder;
    PyErr_Format(PyExc_TypeError, "Cannot convert Python value of type '%s' to ThriftValue",
                 qualified_type_name(obj, holder));
    return std::nullopt;
}

std::optional<ThriftValue> convert_typed(PyObject* obj, const ThriftType& type, const SharedStructMap& map) noexcept {
    if (obj == Py_None) {
        raise_none();
        return std::nullopt;
    }
    switch (type.kind()) {
        case TypeKind::Bool: {
            bool b;
            if (!extract_bool(obj, b)) return std::nullopt;
            return ThriftValue::make_bool(b);
        }
        case TypeKind::Byte: {
            std::int64_t v;
            if (!extract_integer(obj, -128, 127, v)) return std::nullopt;
            return ThriftValue::make_byte(static_cast<std::int8_t>(v));
        }
        case TypeKind::I16: {
            std::int64_t v;
            if (!extract_integer(obj, -32768, 32767, v)) return std::nullopt;
            return ThriftValue::make_i16(static_cast<std::int16_t>(v));
        }
        case TypeKind::I32: {
            std::int64_t v;
            if (!extract_integer(obj, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), v))
                return std::nullopt;
            return ThriftValue::make_i32(static_cast<std::int32_t>(v));
        }
        case TypeKind::I64: {
            std::int64_t v;
            if (!extract_integer(obj, kI64Min, kI64Max, v)) return std::nullopt;
            return ThriftValue::make_i64(v);
        }
        case TypeKind::Double: {
            double d;
            if (!extract_double(obj, d)) return std::nullopt;
            return ThriftValue::make_double(d);
        }
        case TypeKind::String: {
            std::string_view s;
            if (!extract_str(obj, s)) return std::nullopt;
            return ThriftValue::make_string(std::string(s));
        }
        case TypeKind::Binary: {
            std::string storage;
            std::string_view bytes;
            if (!extract_binary(obj, storage, bytes)) return std::nullopt;
            return ThriftValue::make_binary(std::string(bytes));
        }
        case TypeKind::List:
        case TypeKind::Set: {
            if (!PyList_Check(obj)) {
                raise_not_instance(obj, "list");
                return std::nullopt;
            }
            RecursionGuard guard;
            if (!guard.ok()) return std::nullopt;
            Ref keep = Ref::borrow(obj);
            ThriftValue::List items;
            items.reserve(static_cast<std::size_t>(PyList_GET_SIZE(obj)));
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
                Ref item = Ref::borrow(PyList_GET_ITEM(obj, i));
                auto v = convert_typed(item.get(), type.element_type(), map);
                if (!v) return std::nullopt;
                items.push_back(std::move(*v));
            }
            return type.kind() == TypeKind::List ? ThriftValue::make_list(std::move(items))
                                                 : ThriftValue::make_set(std::move(items));
        }
        case TypeKind::Map: {
            if (!PyDict_Check(obj)) {
                raise_not_instance(obj, "dict");
                return std::nullopt;
            }
            RecursionGuard guard;
            if (!guard.ok()) return std::nullopt;
            ThriftValue::Entries entries;
            PyObject *k, *v;
            Py_ssize_t pos = 0;
            while (PyDict_Next(obj, &pos, &k, &v)) {
                Ref key_ref = Ref::borrow(k), value_ref = Ref::borrow(v);
                auto key = convert_typed(k, type.key_type(), map);
                if (!key) return std::nullopt;
                auto value = convert_typed(v, type.value_type(), map);
                if (!value) return std::nullopt;
                entries.emplace_back(std::move(*key), std::move(*value));
            }
            return ThriftValue::make_map(std::move(entries));
        }
        case TypeKind::Struct: {
            if (InstancePayload* inst = instance_payload(obj)) return struct_from_instance(*inst, &type, map);
            if (PyDict_Check(obj)) return struct_from_dict(obj, type.struct_name(), map);
            return convert_untyped(obj);
        }
    }
    return convert_untyped(obj);
}

std::optional<ThriftValue> struct_from_instance(InstancePayload& inst, const ThriftType* declared,
                                                const SharedStructMap& map) noexcept {
    SharedBorrow access(inst.borrow);
    if (!access.ok()) return std::nullopt;
    RecursionGuard guard;
    if (!guard.ok()) return std::nullopt;
    return guard_result([&]() -> std::optional<ThriftValue> {
        const FieldsByName* types = inst.fields_by_name.get();
        if (declared && map) {
            if (const StructRecord* r = map->find(declared->struct_name())) types = r->fields_by_name.get();
        }
        ThriftValue::Fields fields;
        const Layout& layout = *inst.layout;
        for (std::uint32_t slot = 0; slot < layout.slot_count(); ++slot) {
            const Slot& s = inst.slots[slot];
            const std::string* name = &layout.slot_keys[slot];
            if (!s.py && !s.value) continue;
            std::optional<ThriftValue> converted;
            if (s.py) {
                auto field = types->find(*name);
                converted = field != types->end()
                                ? convert_typed(s.py.get(), field->second.field_type, map ? map : inst.struct_map)
                                : convert_untyped(s.py.get());
                if (!converted) PyErr_Clear();
            }
            if (!converted && s.value) converted = *s.value;
            if (converted) fields.insert_or_assign(*name, std::move(*converted));
        }
        return ThriftValue::make_struct(inst.struct_name, std::move(fields));
    });
}

std::optional<ThriftValue> struct_from_dict(PyObject* dict, const std::string& name, const SharedStructMap& map) noexcept {
    RecursionGuard guard;
    if (!guard.ok()) return std::nullopt;
    return guard_result([&]() -> std::optional<ThriftValue> {
        const StructRecord* record = nullptr;
        if (map) record = map->find(name);
        Ref keep = Ref::borrow(dict);
        ThriftValue::Fields fields;
        PyObject *k, *v;
        Py_ssize_t pos = 0;
        while (PyDict_Next(dict, &pos, &k, &v)) {
            Ref key_ref = Ref::borrow(k), value_ref = Ref::borrow(v);
            std::string_view key;
            if (!PyUnicode_Check(k)) {
                raise_not_instance(k, "str");
                return std::nullopt;
            }
            Utf8View text = utf8(k);
            if (!text.ok) return std::nullopt;
            key = text.text;
            std::optional<ThriftValue> value;
            if (record) {
                auto field = record->fields_by_name->find(key);
                if (field != record->fields_by_name->end()) {
                    value = convert_typed(v, field->second.field_type, map);
                    if (!value) PyErr_Clear();
                }
                if (!value) value = convert_untyped(v);
                if (!value) {
                    PyErr_Clear();
                    value = ThriftValue::make_string({});
                }
            } else {
                value = convert_untyped(v);
                if (!value) return std::nullopt;
            }
            fields.insert_or_assign(std::string(key), std::move(*value));
        }
        return ThriftValue::make_struct(name, std::move(fields));
    });
}

}  // namespace

void raise_not_instance(PyObject* obj, const char* expected) noexcept {
    if (obj == Py_None)
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    else
        PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", Py_TYPE(obj)->tp_name, expected);
}

bool extract_bool(PyObject* obj, bool& out) noexcept {
    if (obj == Py_True || obj == Py_False) {
        out = obj == Py_True;
        return true;
    }
    if (!is_bool_like(obj)) {
        raise_not_instance(obj, "bool");
        return false;
    }
    int t = PyObject_IsTrue(obj);
    if (t < 0) return false;
    out = t != 0;
    return true;
}

bool extract_integer(PyObject* obj, std::int64_t lo, std::int64_t hi, std::int64_t& out) noexcept {
    long long v = PyLong_AsLongLong(obj);
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < lo || v > hi) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    out = v;
    return true;
}

bool extract_double(PyObject* obj, double& out) noexcept {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    double d = PyFloat_AsDouble(obj);
    if (d == -1.0 && PyErr_Occurred()) return false;
    out = d;
    return true;
}

bool extract_str(PyObject* obj, std::string_view& out) noexcept {
    if (!PyUnicode_Check(obj)) {
        raise_not_instance(obj, "str");
        return false;
    }
    Utf8View v = utf8(obj);
    if (!v.ok) return false;
    out = v.text;
    return true;
}

bool extract_binary(PyObject* obj, std::string& storage, std::string_view& out) noexcept {
    if (PyBytes_Check(obj)) {
        out = std::string_view(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        return true;
    }
    if (PyByteArray_Check(obj)) {
        out = std::string_view(PyByteArray_AS_STRING(obj), static_cast<std::size_t>(PyByteArray_GET_SIZE(obj)));
        return true;
    }
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "'str' object cannot be extracted as a byte sequence");
        return false;
    }
    if (!PySequence_Check(obj)) {
        raise_not_instance(obj, "Sequence");
        return false;
    }
    Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) return false;
    return guard(false, [&] {
        storage.clear();
        for (Py_ssize_t i = 0; i < n; ++i) {
            Ref item = Ref::steal(PySequence_GetItem(obj, i));
            if (!item) return false;
            std::int64_t v;
            if (!extract_integer(item.get(), 0, 255, v)) return false;
            storage.push_back(static_cast<char>(v));
        }
        out = storage;
        return true;
    });
}

std::optional<ThriftValue> py_any_to_thrift_value(PyObject* obj) noexcept {
    return guard_result([&] { return convert_untyped(obj); });
}

std::optional<ThriftValue> py_any_to_thrift_value_with_type(PyObject* obj, const ThriftType& type,
                                                            const SharedStructMap& map) noexcept {
    return guard_result([&] { return convert_typed(obj, type, map); });
}

PyObject* thrift_value_to_py(const ThriftValue& value, const SharedStructMap& map) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        switch (value.kind()) {
            case ValueKind::Bool: return boolean(value.as_bool()).release();
            case ValueKind::Byte: return PyLong_FromLong(value.as_byte());
            case ValueKind::I16: return PyLong_FromLong(value.as_i16());
            case ValueKind::I32: return PyLong_FromLong(value.as_i32());
            case ValueKind::I64: return PyLong_FromLongLong(value.as_i64());
            case ValueKind::Double: return PyFloat_FromDouble(value.as_double());
            case ValueKind::String: return str(value.as_string()).release();
            case ValueKind::Binary: {
                const std::string& b = value.as_binary();
                return PyBytes_FromStringAndSize(b.data(), static_cast<Py_ssize_t>(b.size()));
            }
            case ValueKind::List:
            case ValueKind::Set: {
                const auto& items = value.kind() == ValueKind::List ? value.as_list() : value.as_set();
                Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
                if (!list) return nullptr;
                for (std::size_t i = 0; i < items.size(); ++i) {
                    PyObject* o = thrift_value_to_py(items[i], map);
                    if (!o) return nullptr;
                    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), o);
                }
                return list.release();
            }
            case ValueKind::Map: {
                Ref dict = Ref::steal(PyDict_New());
                if (!dict) return nullptr;
                for (const auto& [k, v] : value.as_map()) {
                    Ref key = Ref::steal(thrift_value_to_py(k, map));
                    if (!key) return nullptr;
                    Ref val = Ref::steal(thrift_value_to_py(v, map));
                    if (!val) return nullptr;
                    if (PyDict_SetItem(dict.get(), key.get(), val.get()) < 0) return nullptr;
                }
                return dict.release();
            }
            case ValueKind::Struct: {
                const StructValue& sv = value.as_struct();
                std::string name = sv.name.value_or(std::string());
                const StructRecord* record = nullptr;
                if (map) record = map->find(name);
                SharedLayout layout;
                std::shared_ptr<const FieldsByName> by_name;
                if (record) {
                    layout = record->layout;
                    by_name = record->fields_by_name;
                } else {
                    FieldOrder order;
                    order.reserve(sv.fields.size());
                    for (const auto& entry : sv.fields) order.push_back(entry.first);
                    layout = make_layout(std::move(order));
                    by_name = empty_fields_by_name();
                }
                InstancePayload inst(std::move(name), std::move(layout), std::move(by_name),
                                     map ? map : empty_struct_map());
                for (const auto& [field_name, field_value] : sv.fields) {
                    std::int64_t slot = inst.layout->find(field_name);
                    if (slot >= 0) inst.slots[static_cast<std::size_t>(slot)].value = field_value;
                }
                return wrap_instance(std::move(inst));
            }
        }
        PyErr_SetString(PyExc_SystemError, "unknown Thrift value kind");
        return nullptr;
    });
}

}  // namespace velmora::py
