// Struct records, the shared struct map, and service/method records built from a document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "parser/model.hpp"
#include "python/py.hpp"

namespace velmora::py {

// Hash and equality that let maps keyed by std::string be searched with a string_view.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
template <class V>
using TextMap = std::unordered_map<std::string, V, TextHash, std::equal_to<>>;

using FieldOrder = std::vector<std::string>;

// The field names of an instance and where each one's value lives. Immutable and shared:
// every instance of one struct record uses the same layout.
struct Layout {
    FieldOrder order;                      // field names in order, duplicates kept
    TextMap<std::uint32_t> slot_of;        // distinct name -> slot
    std::vector<std::uint32_t> order_slot; // slot of each entry of `order`
    std::vector<PyObject*> slot_names;     // interned str of each slot, kept for the process
    std::vector<std::string> slot_keys;    // the name of each slot

    std::uint32_t slot_count() const noexcept { return static_cast<std::uint32_t>(slot_names.size()); }
    // The slot of a field name, or -1.
    std::int64_t find(std::string_view name) const noexcept {
        auto it = slot_of.find(name);
        return it == slot_of.end() ? -1 : static_cast<std::int64_t>(it->second);
    }
};
using SharedLayout = std::shared_ptr<const Layout>;

// Builds a layout over `order` (interpreter lock held). Throws std::bad_alloc, or
// PythonError when an interned name cannot be created.
SharedLayout make_layout(FieldOrder order);

struct StructRecord;
class StructMap;
// Immutable once built; shared between threads by atomic reference count.
using SharedStructMap = std::shared_ptr<const StructMap>;
using FieldsByName = TextMap<ThriftField>;

// One struct definition with its lookup tables. Copying a record copies name, fields and
// field_index and shares the last three members, which are never modified.
struct StructRecord {
    std::string name;
    std::vector<ThriftField> fields;
    std::unordered_map<std::int16_t, std::uint32_t> field_index;  // id -> position; later wins
    SharedStructMap struct_map;
    std::shared_ptr<const FieldsByName> fields_by_name;  // later duplicate name wins
    SharedLayout layout;                                  // field_order: names in order, duplicates kept

    // Faster forms of field_index and of a per-field property, derived when the record is
    // built: positions by id in an array when the ids are close together, and whether a
    // field's values must be kept as Thrift values (see has_unhashable_keys).
    std::vector<std::int32_t> dense_index;
    std::int32_t dense_base = 0;
    std::vector<bool> keep_as_value;

    // The position of the field with this id (the later one for duplicates), or -1.
    std::int64_t position_of(std::int16_t id) const noexcept {
        if (!dense_index.empty()) {
            const std::int64_t i = static_cast<std::int64_t>(id) - dense_base;
            return i >= 0 && i < static_cast<std::int64_t>(dense_index.size()) ? dense_index[static_cast<std::size_t>(i)]
                                                                               : -1;
        }
        auto it = field_index.find(id);
        return it == field_index.end() ? -1 : static_cast<std::int64_t>(it->second);
    }
};

// A type whose values have no faithful Python form: somewhere inside it a map is keyed by a
// list, set or map, and Python cannot hash those keys. Fields of such types keep Thrift values.
bool has_unhashable_keys(const ThriftType& type) noexcept;

// Struct name or include-prefixed alias -> record. An alias "<prefix>.<Name>" exists for
// every include prefix and every struct; aliases are resolved on lookup rather than stored,
// so a document with many includes and many structs costs nothing extra (struct names
// never contain dots, so an alias never shadows a name).
class StructMap {
public:
    // The record under `key`, or nullptr.
    const StructRecord* find(std::string_view key) const noexcept;
    bool empty() const noexcept { return records_.empty(); }

private:
    friend SharedStructMap build_struct_map(const ThriftDocument* document);
    TextMap<StructRecord> records_;   // by struct name
    TextMap<bool> include_prefixes_;  // prefixes that form aliases
};

// The shared empty map held by records reached through a nested map and by fresh clients.
const SharedStructMap& empty_struct_map();
const std::shared_ptr<const FieldsByName>& empty_fields_by_name();

// Builds the record of one definition (interpreter lock held); its struct_map is the shared
// empty map.
StructRecord make_struct_record(const ThriftStruct& definition);

// The struct map of a document (empty for none): every struct under its name, plus for each
// include path an alias "<prefix>.<name>" for every struct. The records handed out carry,
// as their own struct_map, a map with the same keys whose records carry the empty map.
SharedStructMap build_struct_map(const ThriftDocument* document);

// Text after the last '/', without a final ".thrift" (when at least 7 bytes remain).
std::string_view include_prefix(std::string_view path) noexcept;


struct MethodRecord {
    std::string name;
    std::vector<ThriftField> arguments;
    std::vector<ThriftField> exceptions;
    ThriftType return_type;
    std::unordered_map<std::int16_t, std::size_t> argument_index;  // id -> position; later wins
    bool oneway = false;
};

struct ServiceRecord {
    std::string name;
    // Records are immutable, so methods are shared between service and method objects.
    std::vector<std::shared_ptr<const MethodRecord>> methods;

    // The first method of that name, or nullptr.
    const std::shared_ptr<const MethodRecord>* find_method(std::string_view method_name) const noexcept;
};

ServiceRecord make_service_record(const ThriftService& service);

}  // namespace velmora::py
