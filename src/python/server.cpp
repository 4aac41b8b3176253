// ThriftServer, the multi-threaded RPC server driven by Python handlers.
#include "python/classes.hpp"

namespace velmora::py {
namespace {

struct ServerObject {
    PyObject_HEAD
};

PyObject* server_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "ThriftServer is not available in this build yet");
    return nullptr;
}

TypeDecl declare_server() {
    return TypeDecl{
        .name = "ThriftServer",
        .basicsize = sizeof(ServerObject),
        .doc = "ThriftServer(service, transport=..., workers=1, protocol=...)\n--\n\n",
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&server_new)}},
    };
}

LazyType server_lazy{&declare_server};

}  // namespace

PyTypeObject* thrift_server_type() noexcept { return server_lazy.get(); }

}  // namespace velmora::py
