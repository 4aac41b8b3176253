// ThriftClient and ThriftApplicationException, the Python face of remote calls.
#include "parser/model.hpp"
#include "python/classes.hpp"

namespace velmora::py {
namespace {

// ---------------------------------------------------------------------------------------
// ThriftApplicationException: an Exception whose args are (message, type_).

struct AppExceptionObject {
    PyBaseExceptionObject base;
    PyObject* message;  // str, owned
    std::int32_t type;
};

AppExceptionObject* as_app(PyObject* o) noexcept { return reinterpret_cast<AppExceptionObject*>(o); }

PyObject* app_exception_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[2];
    if (!parse_args("ThriftApplicationException", args, kwargs, {{"message"}, {"type_"}}, a)) return nullptr;
    std::string_view text;
    std::int32_t code = 0;
    if (!arg_str("message", a[0], text) || !arg_i32("type_", a[1], code)) return nullptr;
    Ref code_obj = Ref::steal(PyLong_FromLong(code));
    if (!code_obj) return nullptr;
    Ref normalized = Ref::steal(PyTuple_Pack(2, a[0], code_obj.get()));
    if (!normalized) return nullptr;
    PyObject* self = reinterpret_cast<PyTypeObject*>(PyExc_Exception)->tp_new(type, normalized.get(), nullptr);
    if (!self) return nullptr;
    // BaseException's constructor stores the args it is given; make sure they are ours.
    if (PyObject_SetAttrString(self, "args", normalized.get()) < 0) {
        Py_DECREF(self);
        return nullptr;
    }
    as_app(self)->message = Ref::borrow(a[0]).release();
    as_app(self)->type = code;
    return self;
}

// Construction is complete in tp_new; BaseException's own init would reject keywords.
int app_exception_init(PyObject*, PyObject*, PyObject*) noexcept { return 0; }

int app_exception_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(as_app(self)->message);
    return reinterpret_cast<PyTypeObject*>(PyExc_Exception)->tp_traverse(self, visit, arg);
}

int app_exception_clear(PyObject* self) noexcept {
    Py_CLEAR(as_app(self)->message);
    return reinterpret_cast<PyTypeObject*>(PyExc_Exception)->tp_clear(self);
}

void app_exception_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_app(self)->message);
    reinterpret_cast<PyTypeObject*>(PyExc_Exception)->tp_dealloc(self);
    Py_DECREF(type);
}

PyObject* app_exception_str(PyObject* self) noexcept {
    PyObject* m = as_app(self)->message;
    return m ? Ref::borrow(m).release() : PyUnicode_FromString("");
}

PyObject* app_exception_repr(PyObject* self) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        std::string_view text;
        if (PyObject* m = as_app(self)->message) {
            Utf8View v = utf8(m);
            if (!v.ok) return nullptr;
            text = v.text;
        }
        std::string r = "ThriftApplicationException(type=" + std::to_string(as_app(self)->type) +
                        ", message=" + debug_quoted(text) + ")";
        return str(r).release();
    });
}

PyObject* app_exception_get_message(PyObject* self, void*) noexcept { return app_exception_str(self); }
PyObject* app_exception_get_type(PyObject* self, void*) noexcept { return PyLong_FromLong(as_app(self)->type); }

PyGetSetDef app_exception_getset[] = {
    {"message", &app_exception_get_message, nullptr, nullptr, nullptr},
    {"type_", &app_exception_get_type, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

TypeDecl declare_app_exception() {
    return TypeDecl{
        .name = "ThriftApplicationException",
        .basicsize = sizeof(AppExceptionObject),
        .doc = "ThriftApplicationException(message, type_)\n--\n\n"
               "A Thrift application-level exception returned by the remote server.",
        .base = PyExc_Exception,
        .constructible = true,
        .gc = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&app_exception_new)},
                  {Py_tp_init, reinterpret_cast<void*>(&app_exception_init)},
                  {Py_tp_traverse, reinterpret_cast<void*>(&app_exception_traverse)},
                  {Py_tp_clear, reinterpret_cast<void*>(&app_exception_clear)},
                  {Py_tp_dealloc, reinterpret_cast<void*>(&app_exception_dealloc)},
                  {Py_tp_str, reinterpret_cast<void*>(&app_exception_str)},
                  {Py_tp_repr, reinterpret_cast<void*>(&app_exception_repr)}},
        .getset = app_exception_getset,
    };
}

LazyType app_exception_lazy{&declare_app_exception};

// ---------------------------------------------------------------------------------------
// ThriftClient: registered with its final name, flags and docstring; calls come later.

struct ClientObject {
    PyObject_HEAD
};

PyObject* client_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "ThriftClient is not available in this build yet");
    return nullptr;
}

TypeDecl declare_client() {
    return TypeDecl{
        .name = "ThriftClient",
        .basicsize = sizeof(ClientObject),
        .doc = "ThriftClient(service, host, port, transport=..., protocol=...)\n--\n\n"
               "An asynchronous Thrift Binary Protocol client that runs its network I/O on the "
               "module's own asynchronous runtime.",
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&client_new)}},
    };
}

LazyType client_lazy{&declare_client};

}  // namespace

PyTypeObject* thrift_application_exception_type() noexcept { return app_exception_lazy.get(); }
PyTypeObject* thrift_client_type() noexcept { return client_lazy.get(); }

PyObject* raise_application_exception(std::string_view message, std::int32_t type) noexcept {
    PyTypeObject* t = thrift_application_exception_type();
    if (!t) return nullptr;
    Ref exc = Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(t), "s#i", message.data(),
                                               static_cast<Py_ssize_t>(message.size()), type));
    if (exc) PyErr_SetObject(reinterpret_cast<PyObject*>(t), exc.get());
    return nullptr;
}

}  // namespace velmora::py
