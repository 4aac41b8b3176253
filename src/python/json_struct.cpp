// JSON struct deserialization: the payload form and the struct-object form.
#include "python/serialize.hpp"

namespace velmora::py {

PyObject* deserialize_json_struct(const StructRecord&, std::span<const std::uint8_t>) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "JSON struct deserialization is not available yet");
    return nullptr;
}

}  // namespace velmora::py
