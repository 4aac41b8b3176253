// Struct serialization and deserialization with a protocol chosen at run time.
#include "python/codec.hpp"

#include "protocol/binary.hpp"
#include "protocol/compact.hpp"
#include "protocol/json.hpp"
#include "python/bytes_output.hpp"
#include "python/serialize.hpp"

namespace velmora::py {

void raise_io_error(std::string_view prefix, const protocol::IoError& error) noexcept {
    std::string text;
    text.reserve(prefix.size() + error.text().size());
    text.append(prefix).append(error.text());
    PyErr_SetString(PyExc_OSError, text.c_str());
}

namespace {

// Binary and Compact write straight into the resulting bytes object; JSON prints its tree
// into a vector once the struct closes, which is then copied.
template <class Out>
PyObject* finish_output(Out& out) {
    if constexpr (std::is_same_v<Out, BytesOutput>) {
        return out.finish();
    } else {
        return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(out.data()), static_cast<Py_ssize_t>(out.size()));
    }
}

template <template <class> class Writer, class Out>
PyObject* serialize_with(const StructRecord& record, PyObject* data, bool wrap_in_struct, Out& out) {
    Writer<Out> w(out);
    PyWriter<Writer<Out>> writer(w, record.struct_map);
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
    return finish_output(out);
}

// The JSON writer is not a template over its output.
template <class Out>
using JSONWriter = protocol::JSONProtocolWriter;

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
        // Room for small structs without growing: 128 bytes plus 16 per declared field.
        const std::size_t capacity = 128 + 16 * record.fields.size();
        switch (protocol) {
            case ProtocolType::Binary: {
                BytesOutput out(capacity);
                return serialize_with<protocol::BasicBinaryProtocolWriter>(record, data, false, out);
            }
            case ProtocolType::Compact: {
                BytesOutput out(capacity);
                return serialize_with<protocol::BasicCompactProtocolWriter>(record, data, true, out);
            }
            case ProtocolType::JSON: {
                std::vector<std::uint8_t> out;
                out.reserve(capacity);
                return serialize_with<JSONWriter>(record, data, true, out);
            }
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
