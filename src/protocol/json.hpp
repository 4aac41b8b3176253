// Thrift JSON protocol as this program writes it. Neither side streams: the writer builds a
// JSON tree and prints it when the outermost element closes; the reader parses the whole
// input first and then walks the tree. Points where our layout differs from the published
// Thrift JSON protocol (readers and writers agree on them):
//   - a field value is the array [type name, value], not the object {type name: value};
//   - an i64 is a JSON string of decimal digits, not a number;
//   - NaN and the infinities are written as the integer 0;
//   - struct fields are ordered by the text of their ids ("1", "10", "2");
//   - a map's count is the number of distinct rendered keys;
//   - the first element of a message (the version) is ignored on read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocol/json_value.hpp"
#include "protocol/types.hpp"

namespace velmora::protocol {

// Type names of headers. Codes 0 and 1 give "stop", codes without a name (5, 7, 9, 16 and
// above) give the empty name; these are written but never accepted back.
std::string_view json_type_name(std::uint8_t ttype) noexcept;
// TType::UNKNOWN for anything but the eleven names of types 2 to 15.
std::uint8_t json_name_to_ttype(std::string_view name) noexcept;

class JSONProtocolWriter {
public:
    explicit JSONProtocolWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void write_message_begin(std::string_view name, std::uint8_t message_type, std::int32_t seq_id);
    // Takes the still-open body as the message's last element and prints the message.
    ProtocolStatus write_message_end();
    void write_struct_begin();
    ProtocolStatus write_struct_end();
    void write_field_begin(std::uint8_t type, std::int16_t id);
    void write_field_stop() noexcept {}
    void write_list_begin(std::uint8_t elem_type, std::int32_t size);
    ProtocolStatus write_list_end();
    void write_map_begin(std::uint8_t key_type, std::uint8_t value_type, std::int32_t size);
    ProtocolStatus write_map_end();

    void write_bool(bool v) { push_value(JsonValue::unsigned_integer(v ? 1 : 0)); }
    void write_byte(std::int8_t v) { push_value(JsonValue::integer(v)); }
    void write_i16(std::int16_t v) { push_value(JsonValue::integer(v)); }
    void write_i32(std::int32_t v) { push_value(JsonValue::integer(v)); }
    void write_i64(std::int64_t v);
    void write_double(double v);
    void write_string(std::string_view s) { push_value(JsonValue::string(std::string(s))); }
    void write_binary(std::span<const std::uint8_t> b);

    // The single point where a finished value goes: into the innermost frame, or printed to
    // the output when no frame is open.
    void push_value(JsonValue v);

private:
    struct MessageFrame {
        std::string name;
        std::int32_t seq_id;
        std::uint8_t message_type;
    };
    struct StructFrame {
        JsonObject fields;  // unsorted until the frame closes
        std::int16_t pending_id = 0;
        std::uint8_t pending_type = TType::UNKNOWN;  // UNKNOWN: no field pending
    };
    struct ListFrame {
        JsonArray items;  // items[0] and items[1] are reserved for the header
        std::uint8_t elem_type;
    };
    struct MapFrame {
        std::vector<std::pair<JsonValue, JsonValue>> pairs;
        std::optional<JsonValue> pending_key;
        std::uint8_t key_type;
        std::uint8_t value_type;
    };
    using WriteFrame = std::variant<MessageFrame, StructFrame, ListFrame, MapFrame>;

    static JsonValue frame_to_value(WriteFrame&& frame);
    ProtocolResult<WriteFrame> pop_frame();
    void print(const JsonValue& v);

    std::vector<std::uint8_t>& out_;
    std::vector<WriteFrame> frames_;
};

class JSONProtocolReader {
public:
    explicit JSONProtocolReader(std::span<const std::uint8_t> input) noexcept : input_(input) {}
    // The reader keeps a view of its input: a temporary buffer would dangle.
    explicit JSONProtocolReader(std::vector<std::uint8_t>&&) = delete;
    // Frames point into the parsed tree held by this object: it stays where it was made.
    JSONProtocolReader(const JSONProtocolReader&) = delete;
    JSONProtocolReader& operator=(const JSONProtocolReader&) = delete;

    std::size_t position() const noexcept { return pos_; }
    std::size_t reserve_hint(std::int32_t size) const noexcept;
    int nesting_depth() const noexcept { return depth_.value(); }

    ProtocolResult<MessageHeader> read_message_begin();
    ProtocolStatus read_struct_begin();
    void read_struct_end() noexcept { pop_frame(); }
    ProtocolResult<FieldHeader> read_field_begin();
    ProtocolResult<ListHeader> read_list_begin();
    void read_list_end() noexcept { pop_frame(); }
    ProtocolResult<MapHeader> read_map_begin();
    void read_map_end() noexcept { pop_frame(); }

    // Scalars never fail on a wrong JSON kind: they yield 0, false or empty instead.
    ProtocolResult<bool> read_bool();
    ProtocolResult<std::int8_t> read_byte();
    ProtocolResult<std::int16_t> read_i16();
    ProtocolResult<std::int32_t> read_i32();
    ProtocolResult<std::int64_t> read_i64();
    ProtocolResult<double> read_double();
    // Views into the parsed tree or a reader-owned buffer: valid until the next read.
    ProtocolResult<std::string_view> read_string();
    ProtocolResult<std::span<const std::uint8_t>> read_binary();

    // Takes the next value without looking at it (skip_value's way over a STRING: a binary
    // value need not be decoded to be skipped).
    ProtocolStatus skip_string() {
        auto v = pop_scalar();
        if (!v) return Err{std::move(v).error()};
        return Unit{};
    }

    // Parses the rest of the input into the root value if that has not happened yet.
    ProtocolStatus ensure_parsed();
    // The next value of the current context; InvalidFieldType when none is left.
    ProtocolResult<const JsonValue*> pop_scalar();

private:
    struct StructRead {
        const JsonObject* members;
        std::size_t next;
        const JsonValue* pending;  // value of the field whose header was returned last
    };
    struct ListRead {
        const JsonArray* items;
        std::size_t next;  // starts after the two header items
        std::uint8_t elem_type;
    };
    struct MapRead {
        const JsonObject* entries;
        std::size_t index;
        bool value_next;
        std::uint8_t key_type;
        std::uint8_t value_type;
    };
    using ReadFrame = std::variant<StructRead, ListRead, MapRead>;

    void pop_frame() noexcept;
    const JsonValue* map_key(const MapRead& m);

    std::span<const std::uint8_t> input_;
    std::size_t pos_ = 0;
    std::optional<JsonValue> root_;
    bool root_taken_ = false;
    std::vector<ReadFrame> frames_;
    NestingDepth depth_;
    JsonValue key_scratch_;  // a map key converted from its text
    std::vector<std::uint8_t> binary_scratch_;
};

static_assert(TInputProtocol<JSONProtocolReader>);
static_assert(TOutputProtocol<JSONProtocolWriter>);

}  // namespace velmora::protocol
