// ThriftStructInstance: attribute access over the instance record, to_dict, field_names, repr.
#include "python/instance.hpp"

#include "python/classes.hpp"
#include "python/convert.hpp"

namespace velmora::py {

namespace {

InstancePayload& payload_of(PyObject* self) noexcept { return InstanceObject::of(self); }

// AttributeError "'<struct>' object has no attribute '<name>'".
void raise_no_attribute(const InstancePayload& inst, std::string_view name) noexcept {
    std::string text = "'" + inst.struct_name + "' object has no attribute '" + std::string(name) + "'";
    PyErr_SetString(PyExc_AttributeError, text.c_str());
}

PyObject* instance_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        Py_ssize_t npos = PyTuple_GET_SIZE(args);
        PyObject* name_obj = npos > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr;
        if (npos > 1) {
            PyErr_Format(PyExc_TypeError, "ThriftStructInstance() takes 1 positional argument but %zd were given", npos);
            return nullptr;
        }
        FieldOrder order;
        std::vector<PyObject*> values;
        if (kwargs) {
            PyObject *k, *v;
            Py_ssize_t pos = 0;
            while (PyDict_Next(kwargs, &pos, &k, &v)) {
                if (!PyUnicode_Check(k)) continue;
                if (PyUnicode_CompareWithASCIIString(k, "struct_name") == 0) {
                    if (name_obj) {
                        PyErr_SetString(PyExc_TypeError,
                                        "ThriftStructInstance() got multiple values for argument 'struct_name'");
                        return nullptr;
                    }
                    name_obj = v;
                    continue;
                }
                Utf8View key = utf8(k);
                if (!key.ok) return nullptr;
                order.emplace_back(key.text);
                values.push_back(v);
            }
        }
        if (!name_obj) {
            PyErr_SetString(PyExc_TypeError, "ThriftStructInstance() missing required argument 'struct_name'");
            return nullptr;
        }
        std::string_view name;
        if (!arg_str("struct_name", name_obj, name)) return nullptr;
        SharedLayout layout = make_layout(std::move(order));
        InstancePayload inst(std::string(name), layout, empty_fields_by_name(), empty_struct_map());
        for (std::size_t i = 0; i < values.size(); ++i) inst.slots[layout->order_slot[i]].py = Ref::borrow(values[i]);
        return make_object<InstancePayload>(type, std::move(inst));
    });
}

int instance_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    for (Slot& s : payload_of(self).slots) Py_VISIT(s.py.get());
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int instance_clear(PyObject* self) noexcept {
    for (Slot& s : payload_of(self).slots) s.py.reset();
    return 0;
}

PyObject* instance_getattro(PyObject* self, PyObject* name) noexcept {
    // Members of the type (methods, struct_name, object's own attributes) come first. Without
    // an instance __dict__, ordinary lookup can only find what the type defines, so a name the
    // type lacks goes straight to the fields instead of raising and discarding an error.
    if (!PyUnicode_Check(name) || _PyType_Lookup(Py_TYPE(self), name)) {
        PyObject* found = PyObject_GenericGetAttr(self, name);
        if (found || !PyErr_ExceptionMatches(PyExc_AttributeError)) return found;
        PyErr_Clear();
    }
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        InstancePayload& inst = payload_of(self);
        ExclusiveBorrow access(inst.borrow);
        if (!access.ok()) return nullptr;
        std::string_view text;
        if (!arg_str("name", name, text)) return nullptr;
        std::int64_t slot = inst.layout->find(text);
        if (slot < 0) {
            raise_no_attribute(inst, text);
            return nullptr;
        }
        return get_slot(inst, static_cast<std::uint32_t>(slot));
    });
}

int instance_setattro(PyObject* self, PyObject* name, PyObject* value) noexcept {
    return guard(-1, [&] {
        if (!value) {
            PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
            return -1;
        }
        InstancePayload& inst = payload_of(self);
        ExclusiveBorrow access(inst.borrow);
        if (!access.ok()) return -1;
        std::string_view text;
        if (!arg_str("name", name, text)) return -1;
        std::int64_t slot = inst.layout->find(text);
        if (slot < 0) {
            raise_no_attribute(inst, text);
            return -1;
        }
        assign_slot(inst, static_cast<std::uint32_t>(slot), value, OnFailedConversion::DropValue);
        return 0;
    });
}

PyObject* instance_get_struct_name(PyObject* self, void*) noexcept {
    InstancePayload& inst = payload_of(self);
    SharedBorrow access(inst.borrow);
    if (!access.ok()) return nullptr;
    return str(inst.struct_name).release();
}

PyObject* instance_to_dict(PyObject* self, PyObject*) noexcept {
    InstancePayload& inst = payload_of(self);
    ExclusiveBorrow access(inst.borrow);
    if (!access.ok()) return nullptr;
    const Layout& layout = *inst.layout;
    Ref dict = Ref::steal(_PyDict_NewPresized(static_cast<Py_ssize_t>(layout.order.size())));
    if (!dict) return nullptr;
    for (std::uint32_t slot : layout.order_slot) {
        Ref value = Ref::steal(get_slot(inst, slot));
        if (!value || PyDict_SetItem(dict.get(), layout.slot_names[slot], value.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* instance_field_names(PyObject* self, PyObject*) noexcept {
    InstancePayload& inst = payload_of(self);
    SharedBorrow access(inst.borrow);
    if (!access.ok()) return nullptr;
    const FieldOrder& order = inst.layout->order;
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(order.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < order.size(); ++i) {
        PyObject* s = str(order[i]).release();
        if (!s) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list.release();
}

PyObject* instance_repr(PyObject* self) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        InstancePayload& inst = payload_of(self);
        ExclusiveBorrow access(inst.borrow);
        if (!access.ok()) return nullptr;
        const Layout& layout = *inst.layout;
        std::string out = inst.struct_name + "(";
        for (std::size_t i = 0; i < layout.order.size(); ++i) {
            if (i) out += ", ";
            out += layout.order[i];
            out += "=";
            Ref value = Ref::steal(get_slot(inst, layout.order_slot[i]));
            if (!value) return nullptr;
            Ref text = Ref::steal(PyObject_Repr(value.get()));
            if (!text) return nullptr;
            Utf8View v = utf8(text.get());
            if (!v.ok) return nullptr;
            out += v.text;
        }
        out += ")";
        return str(out).release();
    });
}

PyGetSetDef instance_getset[] = {
    {"struct_name", &instance_get_struct_name, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef instance_methods[] = {
    {"to_dict", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(&instance_to_dict)), METH_NOARGS,
     "to_dict($self)\n--\n\n"},
    {"field_names", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(&instance_field_names)), METH_NOARGS,
     "field_names($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

LazyType instance_lazy{[] {
    return TypeDecl{
        .name = "ThriftStructInstance",
        .basicsize = sizeof(InstanceObject),
        .doc = "ThriftStructInstance(struct_name, **kwargs)\n--\n\n"
               "A live instance of a Thrift struct.\n\n"
               "Fields are accessible as Python attributes (``instance.field_name``).\n"
               "Unknown attribute names raise ``AttributeError``.",
        .constructible = true,
        .gc = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&instance_new)},
                  {Py_tp_dealloc, reinterpret_cast<void*>(&destroy_object<InstancePayload>)},
                  {Py_tp_traverse, reinterpret_cast<void*>(&instance_traverse)},
                  {Py_tp_clear, reinterpret_cast<void*>(&instance_clear)},
                  {Py_tp_getattro, reinterpret_cast<void*>(&instance_getattro)},
                  {Py_tp_setattro, reinterpret_cast<void*>(&instance_setattro)},
                  {Py_tp_repr, reinterpret_cast<void*>(&instance_repr)}},
        .methods = instance_methods,
        .getset = instance_getset,
    };
}};

}  // namespace

PyTypeObject* thrift_struct_instance_type() noexcept { return instance_lazy.get(); }

InstancePayload empty_instance_of(const StructRecord& record, const SharedStructMap& map) {
    return InstancePayload(record.name, record.layout, record.fields_by_name, map);
}

InstancePayload instance_with_defaults(const StructRecord& record) {
    InstancePayload inst = empty_instance_of(record, record.struct_map);
    for (const ThriftField& f : record.fields) {
        if (!f.default_value) continue;
        std::int64_t slot = record.layout->find(f.name);
        inst.slots[static_cast<std::size_t>(slot)].value = *f.default_value;
    }
    return inst;
}

PyObject* wrap_instance(InstancePayload&& payload) noexcept {
    return make_object<InstancePayload>(instance_lazy.get(), std::move(payload));
}

PyObject* new_instance_object(const StructRecord& record, const SharedStructMap& map) noexcept {
    return make_object<InstancePayload>(instance_lazy.get(), record.name, record.layout, record.fields_by_name, map);
}

InstancePayload* instance_payload(PyObject* obj) noexcept {
    PyTypeObject* type = instance_lazy.get();
    if (!type) {
        PyErr_Clear();
        return nullptr;
    }
    return Py_TYPE(obj) == type ? &payload_of(obj) : nullptr;
}

PyObject* get_slot(InstancePayload& inst, std::uint32_t slot) noexcept {
    Slot& s = inst.slots[slot];
    if (s.py) return Ref(s.py).release();
    if (s.value) {
        PyObject* converted = thrift_value_to_py(*s.value, inst.struct_map);
        if (!converted) {
            // The stored value stays: it still serializes, it just has no Python form.
            if (PyErr_ExceptionMatches(PyExc_MemoryError)) return nullptr;
            PyErr_Clear();
            Py_RETURN_NONE;
        }
        s.py = Ref::borrow(converted);
        return converted;
    }
    s.py = none();
    Py_RETURN_NONE;
}

void assign_slot(InstancePayload& inst, std::uint32_t slot, PyObject* value, OnFailedConversion on_failure) noexcept {
    Slot& s = inst.slots[slot];
    s.py = Ref::borrow(value);
    const ThriftField* field = inst.declared_field(inst.layout->slot_keys[slot]);
    std::optional<ThriftValue> converted = field
        ? py_any_to_thrift_value_with_type(value, field->field_type, inst.struct_map)
        : py_any_to_thrift_value(value);
    if (converted) {
        s.value = std::move(converted);
    } else {
        PyErr_Clear();
        if (on_failure == OnFailedConversion::DropValue) s.value.reset();
    }
}

}  // namespace velmora::py
