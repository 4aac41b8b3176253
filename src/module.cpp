// Module entry: the init function and the registration of the fourteen classes.
#include "python/classes.hpp"

namespace {

using velmora::py::Ref;

using TypeGetter = PyTypeObject* (*)() noexcept;

// Registration order is part of the module's interface.
constexpr TypeGetter module_classes[] = {
    &velmora::py::thrift_parser_type,
    &velmora::py::binary_protocol_type,
    &velmora::py::thrift_struct_type,
    &velmora::py::thrift_field_type,
    &velmora::py::thrift_struct_instance_type,
    &velmora::py::py_thrift_service_type,
    &velmora::py::py_thrift_method_type,
    &velmora::py::thrift_server_type,
    &velmora::py::protocol_type_type,
    &velmora::py::compact_protocol_type,
    &velmora::py::json_protocol_type,
    &velmora::py::transport_type_type,
    &velmora::py::thrift_client_type,
    &velmora::py::thrift_application_exception_type,
};

int exec_module(PyObject* module) noexcept {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "velmora: module execution needs a module object");
        return -1;
    }
    for (TypeGetter get : module_classes) {
        PyTypeObject* type = get();
        if (!type) return -1;
        const char* name = type->tp_name;
        Ref key = velmora::py::str(name);
        if (!key) return -1;
        if (PyObject_SetAttr(module, key.get(), reinterpret_cast<PyObject*>(type)) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "velmora",
    "Thrift IDL parsing, serialization and RPC for Python, without generated code.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_velmora() { return PyModuleDef_Init(&module_def); }
