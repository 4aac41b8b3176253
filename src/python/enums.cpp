// TransportType and ProtocolType: one-byte enumerations exposed as per-variant singletons.
#include "python/classes.hpp"

#include <array>

namespace velmora::py {
namespace {

struct EnumObject {
    PyObject_HEAD
    std::uint8_t value;
};

// What differs between the two enumerations; everything else is shared code.
struct EnumInfo {
    const char* class_name;
    std::array<const char*, 3> variants;
    std::size_t count;
    PyTypeObject* (*type)() noexcept;
    std::array<PyObject*, 3> singletons;  // created on first use, kept for the process
};

EnumInfo transport_info{"TransportType", {"Framed", "Buffered", nullptr}, 2, &transport_type_type, {}};
EnumInfo protocol_info{"ProtocolType", {"Binary", "Compact", "JSON"}, 3, &protocol_type_type, {}};

std::uint8_t value_of(PyObject* self) noexcept { return reinterpret_cast<EnumObject*>(self)->value; }

PyObject* new_enum_object(PyTypeObject* type, std::uint8_t value) noexcept {
    auto* o = reinterpret_cast<EnumObject*>(type->tp_alloc(type, 0));
    if (!o) return nullptr;
    o->value = value;
    return reinterpret_cast<PyObject*>(o);
}

Ref singleton(EnumInfo& info, std::uint8_t value) noexcept {
    PyObject*& slot = info.singletons[value];
    if (!slot) {
        PyTypeObject* type = info.type();
        if (!type) return {};
        slot = new_enum_object(type, value);
        if (!slot) return {};
    }
    return Ref::borrow(slot);
}

// Class attributes, in variant order, each the variant's singleton.
bool fill_dict(EnumInfo& info, PyTypeObject* type) noexcept {
    for (std::size_t i = 0; i < info.count; ++i) {
        PyObject*& slot = info.singletons[i];
        if (!slot && !(slot = new_enum_object(type, static_cast<std::uint8_t>(i)))) return false;
        if (PyDict_SetItemString(type->tp_dict, info.variants[i], slot) < 0) return false;
    }
    return true;
}

template <EnumInfo& Info>
PyObject* enum_repr(PyObject* self) noexcept {
    return PyUnicode_FromFormat("%s.%s", Info.class_name, Info.variants[value_of(self)]);
}

PyObject* enum_int(PyObject* self) noexcept { return PyLong_FromLong(value_of(self)); }

PyObject* transport_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    if (!parse_args("TransportType", args, kwargs, {}, nullptr)) return nullptr;
    return new_enum_object(type, static_cast<std::uint8_t>(TransportType::Framed));
}

// Equality with another TransportType or with anything usable as an integer; no ordering.
PyObject* transport_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    long long mine = value_of(self);
    long long theirs = 0;
    if (Py_TYPE(other) == Py_TYPE(self)) {
        theirs = value_of(other);
    } else if (PyLong_Check(other) || PyIndex_Check(other)) {
        Ref n = Ref::steal(PyNumber_Index(other));
        if (!n) return nullptr;
        int overflow = 0;
        theirs = PyLong_AsLongLongAndOverflow(n.get(), &overflow);
        if (theirs == -1 && PyErr_Occurred()) return nullptr;
        if (overflow) theirs = -1;  // never equal to a variant value
    } else {
        Py_RETURN_NOTIMPLEMENTED;
    }
    return Ref::borrow(((mine == theirs) == (op == Py_EQ)) ? Py_True : Py_False).release();
}

TypeDecl declare_transport_type() {
    return TypeDecl{
        .name = "TransportType",
        .basicsize = sizeof(EnumObject),
        .doc = "TransportType()\n--\n\n"
               "Transport layer to use when reading/writing Thrift messages over TCP.\n\n"
               "* `Framed`   \u2013 each message is prefixed by a 4-byte big-endian frame length.\n"
               "* `Buffered` \u2013 messages are written directly to the socket with no framing.",
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&transport_new)},
                  {Py_tp_repr, reinterpret_cast<void*>(&enum_repr<transport_info>)},
                  {Py_nb_int, reinterpret_cast<void*>(&enum_int)},
                  {Py_tp_richcompare, reinterpret_cast<void*>(&transport_richcompare)},
                  {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)}},
        .init_dict = [](PyTypeObject* t) { return fill_dict(transport_info, t); },
    };
}

TypeDecl declare_protocol_type() {
    return TypeDecl{
        .name = "ProtocolType",
        .basicsize = sizeof(EnumObject),
        .slots = {{Py_tp_repr, reinterpret_cast<void*>(&enum_repr<protocol_info>)},
                  {Py_nb_int, reinterpret_cast<void*>(&enum_int)}},
        .init_dict = [](PyTypeObject* t) { return fill_dict(protocol_info, t); },
    };
}

LazyType transport_lazy{&declare_transport_type};
LazyType protocol_lazy{&declare_protocol_type};

}  // namespace

PyTypeObject* transport_type_type() noexcept { return transport_lazy.get(); }
PyTypeObject* protocol_type_type() noexcept { return protocol_lazy.get(); }

Ref transport_type_object(TransportType t) noexcept { return singleton(transport_info, static_cast<std::uint8_t>(t)); }
Ref protocol_type_object(ProtocolType p) noexcept { return singleton(protocol_info, static_cast<std::uint8_t>(p)); }

bool transport_type_from(const char* arg, PyObject* obj, TransportType& out) noexcept {
    PyTypeObject* type = transport_type_type();
    if (!type || !arg_instance(arg, obj, type)) return false;
    out = static_cast<TransportType>(value_of(obj));
    return true;
}

bool protocol_type_from(const char* arg, PyObject* obj, ProtocolType& out) noexcept {
    PyTypeObject* type = protocol_type_type();
    if (!type || !arg_instance(arg, obj, type)) return false;
    out = static_cast<ProtocolType>(value_of(obj));
    return true;
}

const char* transport_type_name(TransportType t) noexcept { return transport_info.variants[static_cast<std::size_t>(t)]; }
const char* protocol_type_name(ProtocolType p) noexcept { return protocol_info.variants[static_cast<std::size_t>(p)]; }

}  // namespace velmora::py
