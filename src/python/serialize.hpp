// Protocol-selected serialization of one struct body, used by ThriftStruct and the protocol classes.
#pragma once

#include <span>

#include "python/classes.hpp"
#include "python/records.hpp"

namespace velmora::py {

// `data` is an instance or a dict; returns bytes (nullptr with the error set).
PyObject* serialize_with_protocol(const StructRecord& record, PyObject* data, ProtocolType protocol) noexcept;
// `data` must be a bytes object; returns a new ThriftStructInstance.
PyObject* deserialize_with_protocol(const StructRecord& record, PyObject* data, ProtocolType protocol) noexcept;

// The JSON document forms of a struct body: the payload form {"payload": {...}} (optionally
// behind a 4-byte length) and the struct-object form {"<id>": [type, value], ...}.
PyObject* deserialize_json_struct(const StructRecord& record, std::span<const std::uint8_t> bytes) noexcept;

}  // namespace velmora::py
