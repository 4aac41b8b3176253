// ThriftStructInstance: the record of one live struct value and its Python object.
#pragma once

#include <optional>

#include "python/records.hpp"

namespace velmora::py {

// One field of an instance: the Python object handed out or given (takes precedence), and
// the Thrift value it was built with (a default, a value read from the wire, a converted
// assignment). Either may be absent; both absent reads as None.
struct Slot {
    Ref py;
    std::optional<ThriftValue> value;
};

struct InstancePayload {
    std::string struct_name;
    SharedLayout layout;                                 // field_order and name -> slot
    std::shared_ptr<const FieldsByName> fields_by_name;  // empty when no schema is behind it
    SharedStructMap struct_map;
    std::vector<Slot> slots;                             // one per distinct field name
    BorrowFlag borrow;

    InstancePayload(std::string name, SharedLayout l, std::shared_ptr<const FieldsByName> by_name,
                    SharedStructMap map)
        : struct_name(std::move(name)),
          layout(std::move(l)),
          fields_by_name(std::move(by_name)),
          struct_map(std::move(map)),
          slots(layout->slot_count()) {}

    // The declared field of a name, or nullptr (no schema, or not a field of it).
    const ThriftField* declared_field(std::string_view name) const noexcept {
        auto it = fields_by_name->find(name);
        return it == fields_by_name->end() ? nullptr : &it->second;
    }
};

using InstanceObject = Object<InstancePayload>;

// An instance of `record` with nothing set: the record's layout, fields and the given map.
InstancePayload empty_instance_of(const StructRecord& record, const SharedStructMap& map);
// new_instance_with_defaults: fields with a default start with it.
InstancePayload instance_with_defaults(const StructRecord& record);

// Wraps a payload into a new ThriftStructInstance (nullptr with the error set).
PyObject* wrap_instance(InstancePayload&& payload) noexcept;
// A new ThriftStructInstance of `record` with nothing set, built in place (for readers that
// fill its slots directly); nullptr with the error set.
PyObject* new_instance_object(const StructRecord& record, const SharedStructMap& map) noexcept;

// The payload of a ThriftStructInstance, or nullptr when `obj` is something else.
InstancePayload* instance_payload(PyObject* obj) noexcept;

// get_field: the value of slot `slot` as a Python object (new reference), converting a
// stored Thrift value on first read. A value that cannot become a Python object reads as
// None and stays stored, so serialization still writes it. nullptr only on memory failure.
PyObject* get_slot(InstancePayload& inst, std::uint32_t slot) noexcept;

// What happens to the stored Thrift value when an assigned object does not convert.
enum class OnFailedConversion { DropValue, KeepValue };

// Stores `value` into `slot`: the object itself is kept, and its conversion (typed when the
// field is declared) replaces the stored Thrift value; when it does not convert, the stored
// value is dropped (attribute assignment) or kept (filling from a dict, so a default stays).
// Never fails: a conversion error surfaces when the instance is serialized.
void assign_slot(InstancePayload& inst, std::uint32_t slot, PyObject* value, OnFailedConversion on_failure) noexcept;

}  // namespace velmora::py
