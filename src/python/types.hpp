// Python objects around struct, field and service records, shared by the parser and codec.
#pragma once

#include "python/classes.hpp"
#include "python/records.hpp"

namespace velmora::py {

// State of a ThriftStruct object.
struct StructPayload {
    explicit StructPayload(StructRecord r) : record(std::move(r)) {}
    StructRecord record;
    BorrowFlag borrow;
};
using StructObject = Object<StructPayload>;

// New Python objects holding copies of the records (nullptr with the error set).
PyObject* wrap_field(const ThriftField& field) noexcept;
PyObject* wrap_service(ServiceRecord service) noexcept;
PyObject* wrap_struct(StructRecord record) noexcept;
// The record of a ThriftStruct object; TypeError naming `struct_def` for anything else.
const StructRecord* struct_record(PyObject* obj) noexcept;

}  // namespace velmora::py
