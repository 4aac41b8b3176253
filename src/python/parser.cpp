// ThriftParser, the Python entry point of the schema front end, and the protocol classes.
#include "parser/parser.hpp"
#include "python/parser_object.hpp"
#include "python/serialize.hpp"
#include "python/types.hpp"

namespace velmora::py {
namespace {

using ParserObject = Object<ParserPayload>;

// Shared access to a parser that has a document; false with the error set otherwise.
class DocumentAccess {
public:
    explicit DocumentAccess(PyObject* self) noexcept
        : payload_(ParserObject::of(self)), borrow_(payload_.borrow) {}
    bool ok() noexcept {
        if (!borrow_.ok()) return false;
        if (!payload_.document) {
            PyErr_SetString(PyExc_ValueError, "No document parsed yet");
            return false;
        }
        return true;
    }
    const ThriftDocument& document() const noexcept { return *payload_.document; }
    ParserPayload& payload() noexcept { return payload_; }

private:
    ParserPayload& payload_;
    SharedBorrow borrow_;
};

template <class Map>
PyObject* key_list(const Map& map) noexcept {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(map.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& entry : map) {
        PyObject* key = str(entry.first).release();
        if (!key) return nullptr;
        PyList_SET_ITEM(list.get(), i++, key);
    }
    return list.release();
}

// Reads the single `str` argument of a lookup method.
bool name_argument(const char* func, PyObject* args, PyObject* kwargs, std::string_view& name) noexcept {
    PyObject* a[1];
    return parse_args(func, args, kwargs, {{"name"}}, a) && arg_str("name", a[0], name);
}

PyObject* parser_parse(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        ParserPayload& p = ParserObject::of(self);
        ExclusiveBorrow access(p.borrow);
        if (!access.ok()) return nullptr;
        PyObject* a[1];
        std::string_view content;
        if (!parse_args("parse", args, kwargs, {{"content"}}, a) || !arg_str("content", a[0], content))
            return nullptr;
        auto parsed = parse(content);
        if (!parsed.ok()) {
            std::string text = "Parse error: " + parsed.error().text();
            PyErr_SetString(PyExc_ValueError, text.c_str());
            return nullptr;
        }
        p.document = std::make_shared<const ThriftDocument>(std::move(parsed).value());
        p.struct_map.reset();
        Py_RETURN_NONE;
    });
}

PyObject* parser_list_structs(PyObject* self, PyObject*) noexcept {
    DocumentAccess d(self);
    return d.ok() ? key_list(d.document().structs) : nullptr;
}

PyObject* parser_list_services(PyObject* self, PyObject*) noexcept {
    DocumentAccess d(self);
    return d.ok() ? key_list(d.document().services) : nullptr;
}

PyObject* parser_list_enums(PyObject* self, PyObject*) noexcept {
    DocumentAccess d(self);
    return d.ok() ? key_list(d.document().enums) : nullptr;
}

PyObject* parser_list_includes(PyObject* self, PyObject*) noexcept {
    DocumentAccess d(self);
    if (!d.ok()) return nullptr;
    const auto& includes = d.document().includes;
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(includes.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < includes.size(); ++i) {
        PyObject* item = str(includes[i]).release();
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* parser_namespaces(PyObject* self, PyObject*) noexcept {
    DocumentAccess d(self);
    if (!d.ok()) return nullptr;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [scope, target] : d.document().namespaces) {
        Ref k = str(scope), v = str(target);
        if (!k || !v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* parser_get_struct(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        std::string_view name;
        if (!name_argument("get_struct", args, kwargs, name)) return nullptr;
        DocumentAccess d(self);
        if (!d.ok()) return nullptr;
        const SharedStructMap& map = d.payload().shared_struct_map();
        const StructRecord* record = map->find(name);
        if (!record) Py_RETURN_NONE;
        return wrap_struct(*record);
    });
}

PyObject* parser_get_enum(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        std::string_view name;
        if (!name_argument("get_enum", args, kwargs, name)) return nullptr;
        DocumentAccess d(self);
        if (!d.ok()) return nullptr;
        auto it = d.document().enums.find(std::string(name));
        if (it == d.document().enums.end()) Py_RETURN_NONE;
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) return nullptr;
        for (const auto& [value_name, value] : it->second.values) {
            Ref k = str(value_name);
            Ref v = Ref::steal(PyLong_FromLong(value));
            if (!k || !v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
        }
        return dict.release();
    });
}

PyObject* parser_get_service(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        std::string_view name;
        if (!name_argument("get_service", args, kwargs, name)) return nullptr;
        DocumentAccess d(self);
        if (!d.ok()) return nullptr;
        auto it = d.document().services.find(std::string(name));
        if (it == d.document().services.end()) Py_RETURN_NONE;
        return wrap_service(make_service_record(it->second));
    });
}

template <class F>
constexpr PyCFunction as_cfunction(F f) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(f));
}

PyMethodDef parser_methods[] = {
    {"parse", as_cfunction(&parser_parse), METH_VARARGS | METH_KEYWORDS, "parse($self, content)\n--\n\n"},
    {"list_structs", as_cfunction(&parser_list_structs), METH_NOARGS, "list_structs($self)\n--\n\n"},
    {"get_struct", as_cfunction(&parser_get_struct), METH_VARARGS | METH_KEYWORDS, "get_struct($self, name)\n--\n\n"},
    {"list_services", as_cfunction(&parser_list_services), METH_NOARGS, "list_services($self)\n--\n\n"},
    {"list_includes", as_cfunction(&parser_list_includes), METH_NOARGS, "list_includes($self)\n--\n\n"},
    {"namespaces", as_cfunction(&parser_namespaces), METH_NOARGS, "namespaces($self)\n--\n\n"},
    {"list_enums", as_cfunction(&parser_list_enums), METH_NOARGS, "list_enums($self)\n--\n\n"},
    {"get_enum", as_cfunction(&parser_get_enum), METH_VARARGS | METH_KEYWORDS, "get_enum($self, name)\n--\n\n"},
    {"get_service", as_cfunction(&parser_get_service), METH_VARARGS | METH_KEYWORDS, "get_service($self, name)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* parser_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    if (!parse_args("ThriftParser", args, kwargs, {}, nullptr)) return nullptr;
    return make_object<ParserPayload>(type);
}

LazyType parser_lazy{[] {
    return TypeDecl{
        .name = "ThriftParser",
        .basicsize = sizeof(ParserObject),
        .doc = "ThriftParser()\n--\n\n",
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&parser_new)},
                  {Py_tp_dealloc, reinterpret_cast<void*>(&destroy_object<ParserPayload>)}},
        .methods = parser_methods,
    };
}};

// ---------------------------------------------------------------------------------------
// BinaryProtocol, CompactProtocol, JSONProtocol

struct ProtocolObject {
    PyObject_HEAD
};

template <ProtocolType P>
PyObject* protocol_serialize_struct(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[2];
    if (!parse_args("serialize_struct", args, kwargs, {{"struct_def"}, {"data"}}, a)) return nullptr;
    const StructRecord* record = struct_record(a[0]);
    return record ? serialize_with_protocol(*record, a[1], P) : nullptr;
}

template <ProtocolType P>
PyObject* protocol_deserialize_struct(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* a[2];
    if (!parse_args("deserialize_struct", args, kwargs, {{"struct_def"}, {"data"}}, a)) return nullptr;
    const StructRecord* record = struct_record(a[0]);
    if (!record) return nullptr;
    if (!PyBytes_Check(a[1])) {
        raise_arg_type("data", "bytes", a[1]);
        return nullptr;
    }
    return deserialize_with_protocol(*record, a[1], P);
}

template <ProtocolType P>
PyMethodDef protocol_methods[] = {
    {"serialize_struct", as_cfunction(&protocol_serialize_struct<P>), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "serialize_struct(struct_def, data)\n--\n\n"},
    {"deserialize_struct", as_cfunction(&protocol_deserialize_struct<P>), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "deserialize_struct(struct_def, data)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

template <ProtocolType P>
TypeDecl declare_protocol_class(const char* name, const char* doc) {
    return TypeDecl{
        .name = name,
        .basicsize = sizeof(ProtocolObject),
        .doc = doc,
        .constructible = true,
        .slots = {{Py_tp_new, reinterpret_cast<void*>(&new_without_arguments)}},
        .methods = protocol_methods<P>,
    };
}

LazyType binary_lazy{[] { return declare_protocol_class<ProtocolType::Binary>("BinaryProtocol", "BinaryProtocol()\n--\n\n"); }};
LazyType compact_lazy{[] { return declare_protocol_class<ProtocolType::Compact>("CompactProtocol", "CompactProtocol()\n--\n\n"); }};
LazyType json_lazy{[] { return declare_protocol_class<ProtocolType::JSON>("JSONProtocol", "JSONProtocol()\n--\n\n"); }};

}  // namespace

const SharedStructMap& ParserPayload::shared_struct_map() {
    if (!struct_map) struct_map = build_struct_map(document.get());
    return struct_map;
}

SharedStructMap parser_struct_map(PyObject* parser) noexcept {
    return guard<SharedStructMap>(nullptr, [&] { return ParserObject::of(parser).shared_struct_map(); });
}

PyTypeObject* thrift_parser_type() noexcept { return parser_lazy.get(); }
PyTypeObject* binary_protocol_type() noexcept { return binary_lazy.get(); }
PyTypeObject* compact_protocol_type() noexcept { return compact_lazy.get(); }
PyTypeObject* json_protocol_type() noexcept { return json_lazy.get(); }

}  // namespace velmora::py
