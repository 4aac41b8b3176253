// Struct type objects, struct instances and the read-only schema description objects.
#include "python/types.hpp"

#include "python/instance.hpp"
#include "python/serialize.hpp"

namespace velmora::py {
namespace {

// Appends a Python list built from `items` with `make` for each; nullptr with the error set.
template <class Seq, class Make>
PyObject* list_of(const Seq& items, Make make) noexcept {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& item : items) {
        PyObject* o = make(item);
        if (!o) return nullptr;
        PyList_SET_ITEM(list.get(), i++, o);
    }
    return list.release();
}

PyObject* repr_from(std::string (*render)(PyObject*), PyObject* self) noexcept {
    return guard<PyObject*>(nullptr, [&] { return str(render(self)).release(); });
}

// ---------------------------------------------------------------------------------------
// ThriftField

using FieldObject = Object<ThriftField>;

PyObject* field_get_id(PyObject* self, void*) noexcept { return PyLong_FromLong(FieldObject::of(self).id); }
PyObject* field_get_name(PyObject* self, void*) noexcept { return str(FieldObject::of(self).name).release(); }
PyObject* field_get_required(PyObject* self, void*) noexcept { return boolean(FieldObject::of(self).required).release(); }

std::string render_field(PyObject* self) {
    const ThriftField& f = FieldObject::of(self);
    std::string out = "ThriftField(id=" + std::to_string(f.id) + ", name=";
    append_debug_quoted(out, f.name);
    out += f.required ? ", required=true, field_type=" : ", required=false, field_type=";
    append_debug(out, f.field_type);
    out += ")";
    return out;
}

PyObject* field_repr(PyObject* self) noexcept { return repr_from(&render_field, self); }

PyGetSetDef field_getset[] = {
    {"id", &field_get_id, nullptr, nullptr, nullptr},
    {"name", &field_get_name, nullptr, nullptr, nullptr},
    {"required", &field_get_required, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

LazyType field_lazy{[] {
    return TypeDecl{
        .name = "ThriftField",
        .basicsize = sizeof(FieldObject),
        .slots = {{Py_tp_dealloc, reinterpret_cast<void*>(&destroy_object<ThriftField>)},
                  {Py_tp_repr, reinterpret_cast<void*>(&field_repr)}},
        .getset = field_getset,
    };
}};

PyObject* fields_list(const std::vector<ThriftField>& fields) noexcept {
    return list_of(fields, [](const ThriftField& f) { return wrap_field(f); });
}

// ---------------------------------------------------------------------------------------
// PyThriftMethod

using MethodObject = Object<std::shared_ptr<const MethodRecord>>;

const MethodRecord& method_of(PyObject* self) noexcept { return *MethodObject::of(self); }

PyObject* method_get_name(PyObject* self, void*) noexcept { return str(method_of(self).name).release(); }
PyObject* method_get_arguments(PyObject* self, void*) noexcept { return fields_list(method_of(self).arguments); }
PyObject* method_get_exceptions(PyObject* self, void*) noexcept { return fields_list(method_of(self).exceptions); }
PyObject* method_get_oneway(PyObject* self, void*) noexcept { return boolean(method_of(self).oneway).release(); }

std::string render_method(PyObject* self) {
    const MethodRecord& m = method_of(self);
    std::string out = "ThriftMethod(name=";
    append_debug_quoted(out, m.name);
    out += ", return_type=";
    append_debug(out, m.return_type);
    out += ")";
    return out;
}

PyObject* method_repr(PyObject* self) noexcept { return repr_from(&render_method, self); }

PyGetSetDef method_getset[] = {
    {"name", &method_get_name, nullptr, nullptr, nullptr},
    {"arguments", &method_get_arguments, nullptr, nullptr, nullptr},
    {"exceptions", &method_get_exceptions, nullptr, nullptr, nullptr},
    {"oneway", &method_get_oneway, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

LazyType method_lazy{[] {
    return TypeDecl{
        .name = "PyThriftMethod",
        .basicsize = sizeof(MethodObject),
        .slots = {{Py_tp_dealloc, reinterpret_cast<void*>(&destroy_object<std::shared_ptr<const MethodRecord>>)},
                  {Py_tp_repr, reinterpret_cast<void*>(&method_repr)}},
        .getset = method_getset,
    };
}};

PyObject* wrap_method(const std::shared_ptr<const MethodRecord>& method) noexcept {
    return make_object<std::shared_ptr<const MethodRecord>>(method_lazy.get(), method);
}

// ---------------------------------------------------------------------------------------
// PyThriftService

using ServiceObject = Object<ServiceRecord>;

PyObject* service_get_name(PyObject* self, void*) noexcept { return str(ServiceObject::of(self).name).release(); }

PyObject* service_get_methods(PyObject* self, void*) noexcept {
    return list_of(ServiceObject::of(self).methods, [](const auto& m) { return wrap_method(m); });
}

PyObject* service_get_method(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[1];
    std::string_view name;
    if (!parse_args("get_method", args, kwargs, {{"name"}}, a) || !arg_str("name", a[0], name)) return nullptr;
    const auto* found = ServiceObject::of(self).find_method(name);
    if (!found) Py_RETURN_NONE;
    return wrap_method(*found);
}

std::string render_service(PyObject* self) {
    const ServiceRecord& s = ServiceObject::of(self);
    std::string out = "ThriftService(name=";
    append_debug_quoted(out, s.name);
    out += ", methods=[";
    for (std::size_t i = 0; i < s.methods.size(); ++i) {
        if (i) out += ", ";
        append_debug_quoted(out, s.methods[i]->name);
    }
    out += "])";
    return out;
}

PyObject* service_repr(PyObject* self) noexcept { return repr_from(&render_service, self); }

PyGetSetDef service_getset[] = {
    {"name", &service_get_name, nullptr, nullptr, nullptr},
    {"methods", &service_get_methods, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef service_methods[] = {
    {"get_method", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(&service_get_method)),
     METH_VARARGS | METH_KEYWORDS, "get_method($self, name)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

LazyType service_lazy{[] {
    return TypeDecl{
        .name = "PyThriftService",
        .basicsize = sizeof(ServiceObject),
        .slots = {{Py_tp_dealloc, reinterpret_cast<void*>(&destroy_object<ServiceRecord>)},
                  {Py_tp_repr, reinterpret_cast<void*>(&service_repr)}},
        .methods = service_methods,
        .getset = service_getset,
    };
}};

// ---------------------------------------------------------------------------------------
// ThriftStruct

PyObject* struct_get_name(PyObject* self, void*) noexcept { return str(StructObject::of(self).record.name).release(); }
PyObject* struct_get_fields(PyObject* self, void*) noexcept { return fields_list(StructObject::of(self).record.fields); }

std::string render_struct(PyObject* self) {
    const StructRecord& r = StructObject::of(self).record;
    std::string out = "ThriftStruct(name=";
    append_debug_quoted(out, r.name);
    out += ", fields=[";
    for (std::size_t i = 0; i < r.fields.size(); ++i) {
        if (i) out += ", ";
        append_debug(out, r.fields[i]);
    }
    out += "])";
    return out;
}

PyObject* struct_repr(PyObject* self) noexcept { return repr_from(&render_struct, self); }

const StructRecord& record_of(PyObject* self) noexcept { return StructObject::of(self).record; }

// new_instance_from_dict: unknown keys, non-str keys and values that do not convert are
// skipped without error (a value that does not convert is still kept as the object given).
PyObject* instance_from_dict(const StructRecord& record, PyObject* items) {
    InstancePayload inst = instance_with_defaults(record);
    const Py_ssize_t size = PyDict_GET_SIZE(items);
    PyObject *k, *v;
    Py_ssize_t pos = 0;
    while (PyDict_Next(items, &pos, &k, &v)) {
        Ref key = Ref::borrow(k), value = Ref::borrow(v);
        if (PyUnicode_Check(k)) {
            Utf8View name = utf8(k);
            if (!name.ok) return nullptr;
            std::int64_t slot = inst.layout->find(name.text);
            if (slot >= 0) assign_slot(inst, static_cast<std::uint32_t>(slot), v, OnFailedConversion::KeepValue);
        }
        if (PyDict_GET_SIZE(items) != size) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return nullptr;
        }
    }
    return wrap_instance(std::move(inst));
}

PyObject* struct_new_instance(PyObject* self, PyObject*) noexcept {
    return guard<PyObject*>(nullptr, [&] { return wrap_instance(instance_with_defaults(record_of(self))); });
}

PyObject* struct_new_instance_from_dict(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* a[1];
        if (!parse_args("new_instance_from_dict", args, kwargs, {{"items"}}, a)) return nullptr;
        if (!PyDict_Check(a[0])) {
            raise_arg_type("items", "dict", a[0]);
            return nullptr;
        }
        return instance_from_dict(record_of(self), a[0]);
    });
}

PyObject* struct_call(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        if (PyTuple_GET_SIZE(args) != 0) {
            PyErr_Format(PyExc_TypeError, "ThriftStruct() takes 0 positional arguments but %zd were given",
                         PyTuple_GET_SIZE(args));
            return nullptr;
        }
        if (!kwargs || PyDict_GET_SIZE(kwargs) == 0) return wrap_instance(instance_with_defaults(record_of(self)));
        return instance_from_dict(record_of(self), kwargs);
    });
}

bool bytes_argument(PyObject* obj) noexcept {
    if (PyBytes_Check(obj)) return true;
    raise_arg_type("data", "bytes", obj);
    return false;
}

PyObject* struct_serialize(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[1];
    if (!parse_args("serialize", args, kwargs, {{"data"}}, a)) return nullptr;
    return serialize_with_protocol(record_of(self), a[0], ProtocolType::Binary);
}

PyObject* struct_serialize_with_protocol(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[2];
    ProtocolType protocol;
    if (!parse_args("serialize_with_protocol", args, kwargs, {{"data"}, {"protocol"}}, a) ||
        !protocol_type_from("protocol", a[1], protocol))
        return nullptr;
    return serialize_with_protocol(record_of(self), a[0], protocol);
}

PyObject* struct_deserialize(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[1];
    if (!parse_args("deserialize", args, kwargs, {{"data"}}, a) || !bytes_argument(a[0])) return nullptr;
    return deserialize_with_protocol(record_of(self), a[0], ProtocolType::Binary);
}

PyObject* struct_deserialize_with_protocol(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[2];
    ProtocolType protocol;
    if (!parse_args("deserialize_with_protocol", args, kwargs, {{"data"}, {"protocol"}}, a) ||
        !bytes_argument(a[0]) || !protocol_type_from("protocol", a[1], protocol))
        return nullptr;
    return deserialize_with_protocol(record_of(self), a[0], protocol);
}

template <class F>
constexpr PyCFunction as_cfunction(F f) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(f));
}

PyMethodDef struct_methods[] = {
    {"new_instance", as_cfunction(&struct_new_instance), METH_NOARGS,
     "new_instance($self)\n--\n\nConstruct an empty ThriftStructInstance with all fields set to None."},
    {"new_instance_from_dict", as_cfunction(&struct_new_instance_from_dict), METH_VARARGS | METH_KEYWORDS,
     "new_instance_from_dict($self, items)\n--\n\n"},
    {"serialize", as_cfunction(&struct_serialize), METH_VARARGS | METH_KEYWORDS,
     "serialize($self, data)\n--\n\nSerialize a struct from either a `ThriftStructInstance` or a plain `dict`."},
    {"serialize_with_protocol", as_cfunction(&struct_serialize_with_protocol), METH_VARARGS | METH_KEYWORDS,
     "serialize_with_protocol($self, data, protocol)\n--\n\n"
     "Serialize a struct from either a `ThriftStructInstance` or a plain `dict` using specific protocol."},
    {"deserialize", as_cfunction(&struct_deserialize), METH_VARARGS | METH_KEYWORDS,
     "deserialize($self, data)\n--\n\nDeserialize bytes into a `ThriftStructInstance`."},
    {"deserialize_with_protocol", as_cfunction(&struct_deserialize_with_protocol), METH_VARARGS | METH_KEYWORDS,
     "deserialize_with_protocol($self, data, protocol)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef struct_getset[] = {
    {"name", &struct_get_name, nullptr, nullptr, nullptr},
    {"fields", &struct_get_fields, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

LazyType struct_lazy{[] {
    return TypeDecl{
        .name = "ThriftStruct",
        .basicsize = sizeof(StructObject),
        .slots = {{Py_tp_dealloc, reinterpret_cast<void*>(&destroy_object<StructPayload>)},
                  {Py_tp_repr, reinterpret_cast<void*>(&struct_repr)},
                  {Py_tp_call, reinterpret_cast<void*>(&struct_call)}},
        .methods = struct_methods,
        .getset = struct_getset,
    };
}};

}  // namespace

PyTypeObject* thrift_struct_type() noexcept { return struct_lazy.get(); }
PyTypeObject* thrift_field_type() noexcept { return field_lazy.get(); }
PyTypeObject* py_thrift_service_type() noexcept { return service_lazy.get(); }
PyTypeObject* py_thrift_method_type() noexcept { return method_lazy.get(); }

PyObject* wrap_field(const ThriftField& field) noexcept { return make_object<ThriftField>(field_lazy.get(), field); }
PyObject* wrap_service(ServiceRecord service) noexcept {
    return make_object<ServiceRecord>(service_lazy.get(), std::move(service));
}
PyObject* wrap_struct(StructRecord record) noexcept {
    return make_object<StructPayload>(struct_lazy.get(), std::move(record));
}

const StructRecord* struct_record(PyObject* obj) noexcept {
    PyTypeObject* type = struct_lazy.get();
    if (!type) return nullptr;
    if (Py_TYPE(obj) != type) {
        raise_arg_type("struct_def", "ThriftStruct", obj);
        return nullptr;
    }
    return &StructObject::of(obj).record;
}

}  // namespace velmora::py
