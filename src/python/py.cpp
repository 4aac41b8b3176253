// Out-of-line parts of the C API layer: type construction, argument parsing, error mapping.
#include "python/py.hpp"

#include <cstdio>
#include <deque>
#include <exception>
#include <limits>

namespace velmora::py {

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "internal error without a Python exception");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_SystemError, "internal error: %s", e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "internal error");
    }
}

PyTypeObject* make_type(const TypeDecl& decl) noexcept {
    return guard<PyTypeObject*>(nullptr, [&]() -> PyTypeObject* {
        std::vector<PyType_Slot> slots = decl.slots;
        if (decl.doc) slots.push_back({Py_tp_doc, const_cast<char*>(decl.doc)});
        if (decl.methods) slots.push_back({Py_tp_methods, decl.methods});
        if (decl.getset) slots.push_back({Py_tp_getset, decl.getset});
        slots.push_back({0, nullptr});

        unsigned flags = Py_TPFLAGS_DEFAULT;
        if (decl.gc) flags |= Py_TPFLAGS_HAVE_GC;
        if (!decl.constructible) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
        // The interpreter keeps a pointer to the type's qualified name, so it must outlive the type.
        static std::deque<std::string> qualified_names;
        const char* qualified = qualified_names.emplace_back(std::string("velmora.") + decl.name).c_str();
        PyType_Spec type_spec{qualified, decl.basicsize, 0, flags, slots.data()};

        Ref bases;
        if (decl.base) {
            bases = Ref::steal(PyTuple_Pack(1, decl.base));
            if (!bases) return nullptr;
        }
        PyObject* t = PyType_FromSpecWithBases(&type_spec, bases.get());
        if (!t) return nullptr;
        auto* type = reinterpret_cast<PyTypeObject*>(t);
        // Qualified for __module__, bare for the type name that error messages and reprs
        // show. Types live for the whole process, so both strings are never freed.
        type->tp_name = decl.name;
        if (decl.init_dict && !decl.init_dict(type)) {
            Py_DECREF(t);
            return nullptr;
        }
        PyType_Modified(type);
        return type;
    });
}

PyTypeObject* LazyType::get() noexcept {
    if (!type_) type_ = guard<PyTypeObject*>(nullptr, [&] { return make_type(declare_()); });
    return type_;
}

bool parse_args(const char* func, PyObject* args, PyObject* kwargs,
                std::initializer_list<Param> params, PyObject** out) noexcept {
    const Py_ssize_t nparams = static_cast<Py_ssize_t>(params.size());
    const Py_ssize_t npos = args ? PyTuple_GET_SIZE(args) : 0;
    for (Py_ssize_t i = 0; i < nparams; ++i) out[i] = nullptr;
    if (npos > nparams) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given", func,
                     nparams, nparams == 1 ? "" : "s", npos, npos == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < npos; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs) {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t it = 0;
        while (PyDict_Next(kwargs, &it, &key, &value)) {
            Py_ssize_t idx = -1;
            if (PyUnicode_Check(key)) {
                Py_ssize_t j = 0;
                for (const Param& p : params) {
                    if (PyUnicode_CompareWithASCIIString(key, p.name) == 0) {
                        idx = j;
                        break;
                    }
                    ++j;
                }
            }
            if (idx < 0) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", func, key);
                return false;
            }
            if (out[idx]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", func,
                             params.begin()[idx].name);
                return false;
            }
            out[idx] = value;
        }
    }
    Py_ssize_t j = 0;
    for (const Param& p : params) {
        if (p.required && !out[j]) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", func, p.name);
            return false;
        }
        ++j;
    }
    return true;
}

void raise_arg_type(const char* name, const char* what, PyObject* obj) noexcept {
    if (obj == Py_None)
        PyErr_Format(PyExc_TypeError, "argument '%s': 'None' is not an instance of '%s'", name, what);
    else
        PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object is not an instance of '%s'", name,
                     Py_TYPE(obj)->tp_name, what);
}

bool arg_str(const char* name, PyObject* obj, std::string_view& out) noexcept {
    if (!PyUnicode_Check(obj)) {
        raise_arg_type(name, "str", obj);
        return false;
    }
    Utf8View v = utf8(obj);
    if (!v.ok) return false;
    out = v.text;
    return true;
}

namespace {

// Converts an int-like argument to a signed 64-bit value, TypeError / OverflowError naming it.
bool arg_integer(const char* name, PyObject* obj, long long lo, long long hi, long long& out) noexcept {
    if (!PyLong_Check(obj) && !PyIndex_Check(obj)) {
        raise_arg_type(name, "int", obj);
        return false;
    }
    Ref n = Ref::steal(PyNumber_Index(obj));
    if (!n) return false;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(n.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow || v < lo || v > hi) {
        PyErr_Format(PyExc_OverflowError, "argument '%s': value out of range for %lld..%lld", name, lo, hi);
        return false;
    }
    out = v;
    return true;
}

}  // namespace

bool arg_i32(const char* name, PyObject* obj, std::int32_t& out) noexcept {
    long long v = 0;
    if (!arg_integer(name, obj, std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::int32_t>::max(), v))
        return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

bool arg_i64(const char* name, PyObject* obj, std::int64_t& out) noexcept {
    long long v = 0;
    if (!arg_integer(name, obj, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(), v))
        return false;
    out = v;
    return true;
}

bool arg_u16(const char* name, PyObject* obj, std::uint16_t& out) noexcept {
    long long v = 0;
    if (!arg_integer(name, obj, 0, 65535, v)) return false;
    out = static_cast<std::uint16_t>(v);
    return true;
}

bool arg_usize(const char* name, PyObject* obj, std::size_t& out) noexcept {
    long long v = 0;
    if (!arg_integer(name, obj, 0, std::numeric_limits<long long>::max(), v)) return false;
    out = static_cast<std::size_t>(v);
    return true;
}

bool arg_instance(const char* name, PyObject* obj, PyTypeObject* type) noexcept {
    if (!PyObject_TypeCheck(obj, type)) {
        raise_arg_type(name, type->tp_name, obj);
        return false;
    }
    return true;
}


}  // namespace velmora::py

namespace velmora::py {

PyObject* new_without_arguments(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    if (!parse_args(type->tp_name, args, kwargs, {}, nullptr)) return nullptr;
    return type->tp_alloc(type, 0);
}

}  // namespace velmora::py
