// Conversions between Python objects and Thrift values, and the extraction rules that the
// writer shares with them.
#pragma once

#include <optional>

#include "python/records.hpp"

namespace velmora::py {

// Every function here runs with the interpreter lock held and reports failure with a Python
// exception set (nullopt / false / nullptr).

// py_any_to_thrift_value: the value's kind follows from the object's Python type.
std::optional<ThriftValue> py_any_to_thrift_value(PyObject* obj) noexcept;
// py_any_to_thrift_value_with_type: the object as a value of a declared type.
std::optional<ThriftValue> py_any_to_thrift_value_with_type(PyObject* obj, const ThriftType& type,
                                                            const SharedStructMap& map) noexcept;
// thrift_value_to_py: a new Python object (struct values become lazy instances).
PyObject* thrift_value_to_py(const ThriftValue& value, const SharedStructMap& map) noexcept;

// Extraction of one Python object for a declared scalar type, with the exceptions of the
// typed conversion ("'x' object is not an instance of 'y'", the interpreter's own integer
// and float conversion errors, "out of range integral type conversion attempted").
bool extract_bool(PyObject* obj, bool& out) noexcept;
bool extract_integer(PyObject* obj, std::int64_t lo, std::int64_t hi, std::int64_t& out) noexcept;
bool extract_double(PyObject* obj, double& out) noexcept;
bool extract_str(PyObject* obj, std::string_view& out) noexcept;

// Bytes of a `binary` value: bytes and bytearray directly, any other sequence item by item
// (each an integer 0..255). `storage` holds converted items; `out` may point into `obj`.
bool extract_binary(PyObject* obj, std::string& storage, std::string_view& out) noexcept;

// TypeError "'<type>' object is not an instance of '<expected>'" (for None: "'None' is not
// an instance of '<expected>'").
void raise_not_instance(PyObject* obj, const char* expected) noexcept;

}  // namespace velmora::py
