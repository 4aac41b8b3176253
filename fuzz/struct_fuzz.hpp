// Shared body of the struct codec harnesses: arbitrary bytes deserialized by a schema with
// every type, recursion and containers of structs, inside an embedded interpreter.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" PyObject* PyInit_velmora();

namespace velmora_fuzz {

inline constexpr const char* kSchema = R"(
enum E { A = 1, B = 2 }
struct Leaf { 1: string s, 2: binary b, 3: double d }
struct Node {
  1: bool b, 2: byte y, 3: i16 h, 4: i32 i, 5: i64 l, 6: double d, 7: string s, 8: binary bin,
  9: list<Node> children, 10: set<i32> si, 11: map<string, Leaf> leaves, 12: Node next,
  13: list<list<string>> nested, 14: map<i32, set<i64>> ms, 15: E e, 16: map<list<i32>, i32> weird,
  17: list<Leaf> leaf_list, 18: required string name = "n"
}
)";

struct Harness {
    PyObject* node = nullptr;      // the Node struct type object
    PyObject* protocol = nullptr;  // the ProtocolType singleton under test
};

[[noreturn]] inline void die(const char* what) {
    std::fprintf(stderr, "fuzz harness set-up failed: %s\n", what);
    if (PyErr_Occurred()) PyErr_Print();
    std::abort();
}

inline Harness start(const char* protocol_name) {
    // The interpreter's small-object allocator would hide heap errors from the sanitizers.
    setenv("PYTHONMALLOC", "malloc", 1);
    if (PyImport_AppendInittab("velmora", &PyInit_velmora) < 0) die("inittab");
    Py_InitializeEx(0);
    PyObject* module = PyImport_ImportModule("velmora");
    if (!module) die("import");
    PyObject* parser = PyObject_CallMethod(module, "ThriftParser", nullptr);
    if (!parser) die("parser");
    PyObject* ok = PyObject_CallMethod(parser, "parse", "s", kSchema);
    if (!ok) die("parse");
    Py_DECREF(ok);
    Harness h;
    h.node = PyObject_CallMethod(parser, "get_struct", "s", "Node");
    PyObject* protocols = PyObject_GetAttrString(module, "ProtocolType");
    h.protocol = protocols ? PyObject_GetAttrString(protocols, protocol_name) : nullptr;
    if (!h.node || h.node == Py_None || !h.protocol) die("schema objects");
    return h;
}

// Deserializes the input; whatever comes back is read in full (to_dict of every nested
// instance through repr) and serialized again, and that output must deserialize.
inline void run(const Harness& h, const std::uint8_t* data, std::size_t size) {
    PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data), static_cast<Py_ssize_t>(size));
    if (!bytes) die("bytes");
    PyObject* inst = PyObject_CallMethod(h.node, "deserialize_with_protocol", "OO", bytes, h.protocol);
    Py_DECREF(bytes);
    if (!inst) {
        PyErr_Clear();
        return;
    }
    PyObject* text = PyObject_Repr(inst);
    if (!text) PyErr_Clear();
    Py_XDECREF(text);
    PyObject* again = PyObject_CallMethod(h.node, "serialize_with_protocol", "OO", inst, h.protocol);
    Py_DECREF(inst);
    if (!again) {
        PyErr_Clear();
        return;
    }
    PyObject* back = PyObject_CallMethod(h.node, "deserialize_with_protocol", "OO", again, h.protocol);
    Py_DECREF(again);
    if (!back) {
        PyErr_Print();
        die("a serialized instance did not deserialize");
    }
    Py_DECREF(back);
}

}  // namespace velmora_fuzz
