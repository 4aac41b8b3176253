// Construction of struct records, struct maps and service records.
#include "python/records.hpp"

#include <algorithm>

namespace velmora::py {

const StructRecord* StructMap::find(std::string_view key) const noexcept {
    if (auto it = records_.find(key); it != records_.end()) return &it->second;
    const std::size_t dot = key.rfind('.');
    if (dot == std::string_view::npos || !include_prefixes_.contains(key.substr(0, dot))) return nullptr;
    auto it = records_.find(key.substr(dot + 1));
    return it == records_.end() ? nullptr : &it->second;
}

const SharedStructMap& empty_struct_map() {
    static const SharedStructMap empty = std::make_shared<const StructMap>();
    return empty;
}

const std::shared_ptr<const FieldsByName>& empty_fields_by_name() {
    static const std::shared_ptr<const FieldsByName> empty = std::make_shared<const FieldsByName>();
    return empty;
}

StructRecord make_struct_record(const ThriftStruct& definition) {
    StructRecord r;
    r.name = definition.name;
    r.fields = definition.fields;
    auto by_name = std::make_shared<FieldsByName>();
    FieldOrder order;
    order.reserve(r.fields.size());
    for (std::uint32_t i = 0; i < r.fields.size(); ++i) {
        const ThriftField& f = r.fields[i];
        r.field_index[f.id] = i;
        (*by_name)[f.name] = f;
        order.push_back(f.name);
    }
    r.struct_map = empty_struct_map();
    r.fields_by_name = std::move(by_name);
    r.layout = make_layout(std::move(order));

    r.keep_as_value.reserve(r.fields.size());
    for (const ThriftField& f : r.fields) r.keep_as_value.push_back(has_unhashable_keys(f.field_type));
    if (!r.fields.empty()) {
        auto [lo, hi] = std::minmax_element(r.fields.begin(), r.fields.end(),
                                            [](const ThriftField& a, const ThriftField& b) { return a.id < b.id; });
        const std::size_t span = static_cast<std::size_t>(hi->id - lo->id) + 1;
        if (span <= 4 * r.fields.size() + 32) {
            r.dense_base = lo->id;
            r.dense_index.assign(span, -1);
            for (std::size_t i = 0; i < r.fields.size(); ++i)
                r.dense_index[static_cast<std::size_t>(r.fields[i].id - lo->id)] = static_cast<std::int32_t>(i);
        }
    }
    return r;
}

std::string_view include_prefix(std::string_view path) noexcept {
    if (auto slash = path.rfind('/'); slash != std::string_view::npos) path.remove_prefix(slash + 1);
    constexpr std::string_view suffix = ".thrift";
    if (path.size() >= suffix.size() && path.ends_with(suffix)) path.remove_suffix(suffix.size());
    return path;
}

SharedStructMap build_struct_map(const ThriftDocument* document) {
    auto inner = std::make_shared<StructMap>();
    if (!document) return inner;
    for (const auto& [key, definition] : document->structs) inner->records_.emplace(key, make_struct_record(definition));
    for (const std::string& include : document->includes) inner->include_prefixes_.emplace(include_prefix(include), true);

    SharedStructMap shared_inner = inner;
    auto outer = std::make_shared<StructMap>();
    outer->include_prefixes_ = inner->include_prefixes_;
    outer->records_.reserve(inner->records_.size());
    for (const auto& [key, record] : inner->records_) {
        StructRecord copy = record;
        copy.struct_map = shared_inner;
        outer->records_.emplace(key, std::move(copy));
    }
    return outer;
}

namespace {

// Field names become Python str objects once per process: codec and attribute access reuse
// them (their hash is cached), and they are never freed, so records holding them may be
// released on any thread.
PyObject* intern_name(std::string_view name) {
    static TextMap<PyObject*> table;
    auto it = table.find(name);
    if (it != table.end()) return it->second;
    PyObject* s = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (!s) throw PythonError{};
    PyUnicode_InternInPlace(&s);
    table.emplace(std::string(name), s);
    return s;
}

}  // namespace

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

SharedLayout make_layout(FieldOrder order) {
    auto layout = std::make_shared<Layout>();
    layout->order_slot.reserve(order.size());
    for (const std::string& name : order) {
        auto [it, added] = layout->slot_of.try_emplace(name, layout->slot_count());
        if (added) {
            layout->slot_names.push_back(intern_name(name));
            layout->slot_keys.push_back(name);
        }
        layout->order_slot.push_back(it->second);
    }
    layout->order = std::move(order);
    return layout;
}

const std::shared_ptr<const MethodRecord>* ServiceRecord::find_method(std::string_view method_name) const noexcept {
    for (const auto& m : methods)
        if (m->name == method_name) return &m;
    return nullptr;
}

ServiceRecord make_service_record(const ThriftService& service) {
    ServiceRecord r;
    r.name = service.name;
    r.methods.reserve(service.methods.size());
    for (const ThriftMethod& m : service.methods) {
        auto rec = std::make_shared<MethodRecord>();
        rec->name = m.name;
        rec->arguments = m.arguments;
        rec->exceptions = m.exceptions;
        rec->return_type = m.return_type;
        rec->oneway = m.oneway;
        for (std::size_t i = 0; i < rec->arguments.size(); ++i) rec->argument_index[rec->arguments[i].id] = i;
        r.methods.push_back(std::move(rec));
    }
    return r;
}

}  // namespace velmora::py
