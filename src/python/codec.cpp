// Struct serialization and deserialization with a protocol chosen at run time.
#include "python/codec.hpp"

#include "protocol/binary.hpp"
#include "protocol/compact.hpp"
#include "protocol/json.hpp"
#include "python/serialize.hpp"

namespace velmora::py {

void raise_io_error(std::string_view prefix, const protocol::IoError& error) noexcept {
    std::string text;
    text.reserve(prefix.size() + error.text().size());
    text.append(prefix).append(error.text());
    PyErr_SetString(PyExc_OSError, text.c_str());
}

bool has_unhashable_keys(const ThriftType& type) noexcept {
    switch (type.kind()) {
        case TypeKind::List:
        case TypeKind::Set: return has_unhashable_keys(type.element_type());
        case TypeKind::Map: {
            TypeKind k = type.key_type().kind();
            if (k == TypeKind::List || k == TypeKind::Set || k == TypeKind::Map) return true;
            return has_unhashable_keys(type.key_type()) || has_unhashable_keys(type.value_type());
        }
        default: return false;
    }
}

namespace {

template <class Writer>
PyObject* serialize_with(const StructRecord& record, PyObject* data, bool wrap_in_struct) {
    std::vector<std::uint8_t> out;
    out.reserve(128 + 16 * record.fields.size());
    Writer w(out);
    PyWriter<Writer> writer(w, record.struct_map);
    if (wrap_in_struct) w.write_struct_begin();
    if (!writer.serialize_struct_any(record, data)) return nullptr;
    w.write_field_stop();
    if (wrap_in_struct) {
        auto st = w.write_struct_end();
        if (!st) {
            raise_protocol_error("Write error: ", st.error());
            return nullptr;
        }
    }
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(out.data()), static_cast<Py_ssize_t>(out.size()));
}

// The top-level struct is opened like a nested one in every protocol (Binary reads no bytes
// for it), so it counts as one level of the nesting bound wherever the data comes from.
template <class Reader>
PyObject* deserialize_with(const StructRecord& record, std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    auto begun = r.read_struct_begin();
    if (!begun) {
        raise_protocol_error("Read error: ", begun.error());
        return nullptr;
    }
    PyReader<Reader> reader(r, record.struct_map, ReadStyle::Instance);
    return reader.read_instance(record);
}

}  // namespace

PyObject* serialize_with_protocol(const StructRecord& record, PyObject* data, ProtocolType protocol) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        switch (protocol) {
            case ProtocolType::Binary: return serialize_with<protocol::BinaryProtocolWriter>(record, data, false);
            case ProtocolType::Compact: return serialize_with<protocol::CompactProtocolWriter>(record, data, true);
            case ProtocolType::JSON: return serialize_with<protocol::JSONProtocolWriter>(record, data, true);
        }
        PyErr_SetString(PyExc_SystemError, "unknown protocol");
        return nullptr;
    });
}

PyObject* deserialize_with_protocol(const StructRecord& record, PyObject* data, ProtocolType protocol) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        // The bytes object is immutable and kept alive by the caller for the whole read.
        std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data)),
                                            static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
        switch (protocol) {
            case ProtocolType::Binary: return deserialize_with<protocol::BinaryProtocolReader>(record, bytes);
            case ProtocolType::Compact: return deserialize_with<protocol::CompactProtocolReader>(record, bytes);
            case ProtocolType::JSON: return deserialize_json_struct(record, bytes);
        }
        PyErr_SetString(PyExc_SystemError, "unknown protocol");
        return nullptr;
    });
}

}  // namespace velmora::py
