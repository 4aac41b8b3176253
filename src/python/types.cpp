// Struct type objects, struct instances and the read-only schema description objects.
#include "python/classes.hpp"

namespace velmora::py {
namespace {

struct ShellObject {
    PyObject_HEAD
};

// Description objects are only handed out by the module; Python cannot construct them.
TypeDecl declare_description(const char* name) {
    return TypeDecl{.name = name, .basicsize = sizeof(ShellObject)};
}

PyObject* instance_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "ThriftStructInstance is not available in this build yet");
    return nullptr;
}

TypeDecl declare_instance() {
    return TypeDecl{
        .name = "ThriftStructInstance",
        .basicsize = sizeof(ShellObject),
        .doc = "ThriftStructInstance(struct_name, **kwargs)\n--\n\n"
               "A live instance of a Thrift struct.\n\n"
               "Fields are accessible as Python attributes (``instance.field_name``).\n"
               "Unknown attribute names raise ``AttributeError``.",
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&instance_new)}},
    };
}

LazyType struct_lazy{[] { return declare_description("ThriftStruct"); }};
LazyType field_lazy{[] { return declare_description("ThriftField"); }};
LazyType instance_lazy{&declare_instance};
LazyType service_lazy{[] { return declare_description("PyThriftService"); }};
LazyType method_lazy{[] { return declare_description("PyThriftMethod"); }};

}  // namespace

PyTypeObject* thrift_struct_type() noexcept { return struct_lazy.get(); }
PyTypeObject* thrift_field_type() noexcept { return field_lazy.get(); }
PyTypeObject* thrift_struct_instance_type() noexcept { return instance_lazy.get(); }
PyTypeObject* py_thrift_service_type() noexcept { return service_lazy.get(); }
PyTypeObject* py_thrift_method_type() noexcept { return method_lazy.get(); }

}  // namespace velmora::py
