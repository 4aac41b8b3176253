// Accessors for the module's fourteen classes and the enumeration singletons.
#pragma once

#include "python/py.hpp"

namespace velmora::py {

// Each returns a borrowed type object, created on first use, or nullptr with the error set.
PyTypeObject* thrift_parser_type() noexcept;
PyTypeObject* binary_protocol_type() noexcept;
PyTypeObject* thrift_struct_type() noexcept;
PyTypeObject* thrift_field_type() noexcept;
PyTypeObject* thrift_struct_instance_type() noexcept;
PyTypeObject* py_thrift_service_type() noexcept;
PyTypeObject* py_thrift_method_type() noexcept;
PyTypeObject* thrift_server_type() noexcept;
PyTypeObject* protocol_type_type() noexcept;
PyTypeObject* compact_protocol_type() noexcept;
PyTypeObject* json_protocol_type() noexcept;
PyTypeObject* transport_type_type() noexcept;
PyTypeObject* thrift_client_type() noexcept;
PyTypeObject* thrift_application_exception_type() noexcept;

// One-byte enumerations shared with the client, the server and protocol selection.
enum class TransportType : std::uint8_t { Framed = 0, Buffered = 1 };
enum class ProtocolType : std::uint8_t { Binary = 0, Compact = 1, JSON = 2 };

// The per-variant singleton (new reference), or nullptr with the error set.
Ref transport_type_object(TransportType t) noexcept;
Ref protocol_type_object(ProtocolType p) noexcept;

// Reads the variant of an instance of the class; TypeError naming `arg` otherwise.
bool transport_type_from(const char* arg, PyObject* obj, TransportType& out) noexcept;
bool protocol_type_from(const char* arg, PyObject* obj, ProtocolType& out) noexcept;

// Variant names ("Framed", "Binary", ...), as the server prints them.
const char* transport_type_name(TransportType t) noexcept;
const char* protocol_type_name(ProtocolType p) noexcept;

// Raises ThriftApplicationException(message, type_); returns nullptr for convenience.
PyObject* raise_application_exception(std::string_view message, std::int32_t type) noexcept;

}  // namespace velmora::py
