// Small RAII layer over the CPython C API: references, interpreter-lock guards, the borrow
// flag, heap-type construction and argument parsing shared by every class of the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::py {

// ---------------------------------------------------------------------------------------
// References. `Ref` owns one strong reference; raw `PyObject*` is a borrowed handle and is
// only used at C API call sites. The choice is always explicit: `Ref::steal` takes over a
// new reference returned by the C API, `Ref::borrow` adds one to a borrowed pointer.

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    // Hands the reference to the caller (for returning from a C API slot).
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { Py_CLEAR(p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

inline Ref none() noexcept { return Ref::borrow(Py_None); }
inline Ref boolean(bool b) noexcept { return Ref::borrow(b ? Py_True : Py_False); }
inline Ref str(std::string_view s) noexcept {
    return Ref::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

// Reads a Python str as UTF-8 without copying; nullopt-like failure is signalled by
// `ok == false` with the Python error set (e.g. lone surrogates).
struct Utf8View {
    std::string_view text;
    bool ok;
};
inline Utf8View utf8(PyObject* s) noexcept {
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(s, &n);
    if (!p) return {{}, false};
    return {{p, static_cast<std::size_t>(n)}, true};
}

// ---------------------------------------------------------------------------------------
// Interpreter lock. `ReleaseGil` is used on caller threads around waiting; `AcquireGil` on
// the module's own threads before touching any Python object.

class ReleaseGil {
public:
    ReleaseGil() noexcept : state_(PyEval_SaveThread()) {}
    ~ReleaseGil() { PyEval_RestoreThread(state_); }
    ReleaseGil(const ReleaseGil&) = delete;
    ReleaseGil& operator=(const ReleaseGil&) = delete;

private:
    PyThreadState* state_;
};

class AcquireGil {
public:
    AcquireGil() noexcept : state_(PyGILState_Ensure()) {}
    ~AcquireGil() { PyGILState_Release(state_); }
    AcquireGil(const AcquireGil&) = delete;
    AcquireGil& operator=(const AcquireGil&) = delete;

private:
    PyGILState_STATE state_;
};

// ---------------------------------------------------------------------------------------
// Borrow flag: each object that hands out access to its record keeps one. Any number of
// shared accesses, or one exclusive access, may be active at a time; a conflicting request
// raises RuntimeError. All transitions happen with the interpreter lock held.

class BorrowFlag {
public:
    bool try_shared() noexcept {
        if (state_ < 0) {
            PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
            return false;
        }
        ++state_;
        return true;
    }
    bool try_exclusive() noexcept {
        if (state_ != 0) {
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
            return false;
        }
        state_ = -1;
        return true;
    }
    void release_shared() noexcept { --state_; }
    void release_exclusive() noexcept { state_ = 0; }

private:
    std::int32_t state_ = 0;  // 0 free, >0 shared count, -1 exclusive
};

// Scoped accesses. Check `ok()` right after construction; on false the error is set.
class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& f) noexcept : f_(&f), ok_(f.try_shared()) {}
    ~SharedBorrow() {
        if (ok_) f_->release_shared();
    }
    bool ok() const noexcept { return ok_; }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

private:
    BorrowFlag* f_;
    bool ok_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& f) noexcept : f_(&f), ok_(f.try_exclusive()) {}
    ~ExclusiveBorrow() {
        if (ok_) f_->release_exclusive();
    }
    bool ok() const noexcept { return ok_; }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

private:
    BorrowFlag* f_;
    bool ok_;
};

// ---------------------------------------------------------------------------------------
// C++ exceptions never cross into CPython. Every slot body runs through `guard`, which
// turns std::bad_alloc into MemoryError and anything else into SystemError, returning
// `on_error` (nullptr / -1) in that case.

// Thrown where a C API call failed deep inside C++ code and the Python error is already set;
// the boundary leaves that error in place.
struct PythonError {};

void set_error_from_current_exception() noexcept;

template <class R, class F>
R guard(R on_error, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return on_error;
    }
}

// The same for bodies returning std::optional (or anything whose empty value means failure).
template <class F>
auto guard_result(F&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return {};
    }
}

// ---------------------------------------------------------------------------------------
// Heap types. Every class of the module is built from one declaration: bare type name, not
// subclassable, no instance __dict__, no weak references, docstring in text-signature form
// ("Name(args)\n--\n\nprose") or none at all.

struct TypeDecl {
    const char* name;                 // bare class name, no module qualifier
    int basicsize;                    // sizeof the object struct
    const char* doc = nullptr;        // full docstring (signature form) or nullptr
    PyObject* base = nullptr;         // base type; nullptr means object
    bool constructible = false;       // whether Python may call the class
    bool gc = false;                  // the object holds references that can form cycles
    std::vector<PyType_Slot> slots{};  // tp_new / tp_repr / ... (without the terminator)
    PyMethodDef* methods = nullptr;   // null-terminated table, declaration order
    PyGetSetDef* getset = nullptr;    // null-terminated table, declaration order
    // Called after creation to fill the type's dict (class attributes); may fail.
    bool (*init_dict)(PyTypeObject*) = nullptr;
};

// Creates the heap type; returns a new reference or nullptr with the error set.
PyTypeObject* make_type(const TypeDecl& decl) noexcept;

// A type object created once, on first use, and kept for the life of the process. All
// callers hold the interpreter lock and creation never releases it, so `get` is race-free.
class LazyType {
public:
    explicit LazyType(TypeDecl (*declare)()) noexcept : declare_(declare) {}
    // Borrowed pointer, or nullptr with the error set.
    PyTypeObject* get() noexcept;

private:
    TypeDecl (*declare_)();
    PyTypeObject* type_ = nullptr;
};

// A Python object whose state is the C++ value `Payload`, constructed in place after the
// header and destroyed with the object.
template <class Payload>
struct Object {
    PyObject_HEAD
    Payload payload;

    static Payload& of(PyObject* self) noexcept { return reinterpret_cast<Object*>(self)->payload; }
};

// Allocates an instance of `type` (whose basicsize is sizeof(Object<Payload>)) and builds its
// payload from `args`. Objects of garbage-collected types come back already tracked; their
// traverse sees the zeroed payload (empty containers) until it is built, and building it
// runs no Python code. Returns a new reference, or nullptr with the error set.
template <class Payload, class... A>
PyObject* make_object(PyTypeObject* type, A&&... args) noexcept {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    try {
        new (&reinterpret_cast<Object<Payload>*>(self)->payload) Payload(std::forward<A>(args)...);
    } catch (...) {
        // The payload was never built: free the bare object without running its destructor.
        type->tp_free(self);
        Py_DECREF(type);
        set_error_from_current_exception();
        return nullptr;
    }
    return self;
}

// tp_dealloc of Object<Payload>.
template <class Payload>
void destroy_object(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    if (PyType_HasFeature(type, Py_TPFLAGS_HAVE_GC)) PyObject_GC_UnTrack(self);
    reinterpret_cast<Object<Payload>*>(self)->payload.~Payload();
    type->tp_free(self);
    Py_DECREF(type);
}

// ---------------------------------------------------------------------------------------
// Arguments. `parse_args` matches positional and keyword arguments against named parameters
// (TypeError for unknown, duplicate, surplus or missing ones, naming the function and the
// argument). The converters raise TypeError / OverflowError naming the argument.

struct Param {
    const char* name;
    bool required = true;
};

// Fills `out` (one slot per parameter) with borrowed pointers; absent optional ones stay
// nullptr. Returns false with the error set.
bool parse_args(const char* func, PyObject* args, PyObject* kwargs,
                std::initializer_list<Param> params, PyObject** out) noexcept;

// TypeError "argument '<name>': '<type of obj>' object is not an instance of '<what>'".
void raise_arg_type(const char* name, const char* what, PyObject* obj) noexcept;

bool arg_str(const char* name, PyObject* obj, std::string_view& out) noexcept;
bool arg_i32(const char* name, PyObject* obj, std::int32_t& out) noexcept;
bool arg_i64(const char* name, PyObject* obj, std::int64_t& out) noexcept;
bool arg_u16(const char* name, PyObject* obj, std::uint16_t& out) noexcept;
bool arg_usize(const char* name, PyObject* obj, std::size_t& out) noexcept;
bool arg_instance(const char* name, PyObject* obj, PyTypeObject* type) noexcept;


}  // namespace velmora::py

namespace velmora::py {

// tp_new for classes whose constructor takes no arguments and whose object needs no set-up
// beyond zeroed memory.
PyObject* new_without_arguments(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

}  // namespace velmora::py
