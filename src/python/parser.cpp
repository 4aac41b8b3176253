// ThriftParser, the Python entry point of the schema front end, and the protocol classes.
#include "python/classes.hpp"

namespace velmora::py {
namespace {

struct ParserObject {
    PyObject_HEAD
    BorrowFlag borrow;
};

TypeDecl declare_parser() {
    return TypeDecl{
        .name = "ThriftParser",
        .basicsize = sizeof(ParserObject),
        .doc = "ThriftParser()\n--\n\n",
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&new_without_arguments)}},
    };
}

struct ProtocolObject {
    PyObject_HEAD
};

template <const char* Doc>
TypeDecl declare_protocol_class(const char* name) {
    return TypeDecl{
        .name = name,
        .basicsize = sizeof(ProtocolObject),
        .doc = Doc,
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&new_without_arguments)}},
    };
}

constexpr char binary_doc[] = "BinaryProtocol()\n--\n\n";
constexpr char compact_doc[] = "CompactProtocol()\n--\n\n";
constexpr char json_doc[] = "JSONProtocol()\n--\n\n";

LazyType parser_lazy{&declare_parser};
LazyType binary_lazy{[] { return declare_protocol_class<binary_doc>("BinaryProtocol"); }};
LazyType compact_lazy{[] { return declare_protocol_class<compact_doc>("CompactProtocol"); }};
LazyType json_lazy{[] { return declare_protocol_class<json_doc>("JSONProtocol"); }};

}  // namespace

PyTypeObject* thrift_parser_type() noexcept { return parser_lazy.get(); }
PyTypeObject* binary_protocol_type() noexcept { return binary_lazy.get(); }
PyTypeObject* compact_protocol_type() noexcept { return compact_lazy.get(); }
PyTypeObject* json_protocol_type() noexcept { return json_lazy.get(); }

}  // namespace velmora::py
