// Thrift Binary protocol: fixed-width big-endian integers, 32-bit length prefixes, strict message header.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_order.hpp"
#include "protocol/input_cursor.hpp"
#include "protocol/types.hpp"

namespace velmora::protocol {

class BinaryProtocolReader {
public:
    explicit BinaryProtocolReader(std::span<const std::uint8_t> input) noexcept : in_(input) {}
    // The reader keeps a view of its input: a temporary buffer would dangle.
    explicit BinaryProtocolReader(std::vector<std::uint8_t>&&) = delete;

    std::size_t position() const noexcept { return in_.position(); }
    std::size_t reserve_hint(std::int32_t size) const noexcept {
        // Every element takes at least one byte on this wire.
        return size <= 0 ? 0 : std::min(static_cast<std::size_t>(size), in_.remaining());
    }
    int nesting_depth() const noexcept { return depth_.value(); }

    // Version word 0x8001 in the upper half, message type in the low byte (the third byte is
    // ignored); then the name and the sequence id. The unversioned legacy header, which starts
    // with a name length, is refused by the same check.
    ProtocolResult<MessageHeader> read_message_begin() {
        const std::uint8_t* p = in_.take(4);
        if (!p) return Err{ProtocolError::eof()};
        const std::uint32_t word = detail::load_be<std::uint32_t>(p);
        if ((word >> 16) != 0x8001u) return Err{bad_version(word)};
        auto len = read_i32();
        if (!len) return Err{std::move(len).error()};
        auto name = in_.take_text(*len);
        if (!name) return Err{std::move(name).error()};
        auto seq = read_i32();
        if (!seq) return Err{std::move(seq).error()};
        return MessageHeader{std::string(*name), static_cast<std::uint8_t>(word & 0xFF), *seq};
    }

    ProtocolStatus read_struct_begin() { return depth_.enter(); }
    void read_struct_end() noexcept { depth_.leave(); }

    ProtocolResult<FieldHeader> read_field_begin() {
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        const std::uint8_t type = p[0];
        if (type == TType::STOP) return FieldHeader{TType::STOP, 0};
        if (!is_wire_type(type)) [[unlikely]]
            return Err{ProtocolError::invalid_type(type)};
        auto id = read_i16();
        if (!id) return Err{std::move(id).error()};
        return FieldHeader{type, *id};
    }

    ProtocolResult<ListHeader> read_list_begin() {
        const std::uint8_t* p = in_.take(5);
        if (!p) return Err{ProtocolError::eof()};
        if (!is_element_type(p[0])) [[unlikely]]
            return Err{ProtocolError::invalid_field_type()};
        auto entered = depth_.enter();
        if (!entered) return Err{std::move(entered).error()};
        return ListHeader{p[0], static_cast<std::int32_t>(detail::load_be<std::uint32_t>(p + 1))};
    }
    void read_list_end() noexcept { depth_.leave(); }

    ProtocolResult<MapHeader> read_map_begin() {
        const std::uint8_t* p = in_.take(6);
        if (!p) return Err{ProtocolError::eof()};
        if (!is_element_type(p[0]) || !is_element_type(p[1])) [[unlikely]]
            return Err{ProtocolError::invalid_field_type()};
        auto entered = depth_.enter();
        if (!entered) return Err{std::move(entered).error()};
        return MapHeader{p[0], p[1], static_cast<std::int32_t>(detail::load_be<std::uint32_t>(p + 2))};
    }
    void read_map_end() noexcept { depth_.leave(); }

    // Any non-zero byte is true.
    ProtocolResult<bool> read_bool() {
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        return p[0] != 0;
    }
    ProtocolResult<std::int8_t> read_byte() {
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        return static_cast<std::int8_t>(p[0]);
    }
    ProtocolResult<std::int16_t> read_i16() { return read_fixed<std::int16_t, std::uint16_t>(); }
    ProtocolResult<std::int32_t> read_i32() { return read_fixed<std::int32_t, std::uint32_t>(); }
    ProtocolResult<std::int64_t> read_i64() { return read_fixed<std::int64_t, std::uint64_t>(); }
    ProtocolResult<double> read_double() {
        const std::uint8_t* p = in_.take(8);
        if (!p) return Err{ProtocolError::eof()};
        return std::bit_cast<double>(detail::load_be<std::uint64_t>(p));
    }

    // A view into the input: valid as long as the input buffer.
    // Strings travel as length-prefixed bytes, so a caller that validates UTF-8 itself may
    // read them with read_binary.
    static constexpr bool kStringsAreRawBytes = true;

    ProtocolResult<std::string_view> read_string() {
        auto len = read_i32();
        if (!len) return Err{std::move(len).error()};
        return in_.take_text(*len);
    }
    ProtocolResult<std::span<const std::uint8_t>> read_binary() {
        auto len = read_i32();
        if (!len) return Err{std::move(len).error()};
        return in_.take_bytes(*len);
    }

    // Type codes a field header may carry (STOP is handled before this check).
    static constexpr bool is_wire_type(std::uint8_t t) noexcept {
        return t <= 15 && t != 5 && t != 7 && t != 9;
    }
    // Element, key and value types of container headers: the same set, STOP included.
    static constexpr bool is_element_type(std::uint8_t t) noexcept { return is_wire_type(t); }

private:
    template <class S, class U>
    ProtocolResult<S> read_fixed() {
        const std::uint8_t* p = in_.take(sizeof(U));
        if (!p) return Err{ProtocolError::eof()};
        return static_cast<S>(detail::load_be<U>(p));
    }

    [[gnu::cold, gnu::noinline]] static ProtocolError bad_version(std::uint32_t word) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(word));
        return ProtocolError::io(IoErrorKind::InvalidData, std::string("Bad version: 0x") + hex);
    }

    InputCursor in_;
    NestingDepth depth_;
};

// Writes to any byte output: a std::vector, or the module's output that grows a bytes object
// in place so a serialized struct needs no final copy.
template <class Out>
class BasicBinaryProtocolWriter {
public:
    // Appends after whatever the vector already holds; the caller sizes it in advance.
    explicit BasicBinaryProtocolWriter(Out& out) noexcept : out_(out) {}

    void write_message_begin(std::string_view name, std::uint8_t message_type, std::int32_t seq_id) {
        const std::uint8_t version[4] = {0x80, 0x01, 0x00, message_type};
        detail::append_bytes(out_, version, 4);
        write_string(name);
        write_i32(seq_id);
    }
    ProtocolStatus write_message_end() noexcept { return Unit{}; }
    void write_struct_begin() noexcept {}
    ProtocolStatus write_struct_end() noexcept { return Unit{}; }

    void write_field_begin(std::uint8_t type, std::int16_t id) {
        std::uint8_t b[3] = {type};
        detail::store_be(b + 1, static_cast<std::uint16_t>(id));
        detail::append_bytes(out_, b, 3);
    }
    void write_field_stop() { out_.push_back(TType::STOP); }

    void write_list_begin(std::uint8_t elem_type, std::int32_t size) {
        std::uint8_t b[5] = {elem_type};
        detail::store_be(b + 1, static_cast<std::uint32_t>(size));
        detail::append_bytes(out_, b, 5);
    }
    ProtocolStatus write_list_end() noexcept { return Unit{}; }
    void write_map_begin(std::uint8_t key_type, std::uint8_t value_type, std::int32_t size) {
        std::uint8_t b[6] = {key_type, value_type};
        detail::store_be(b + 2, static_cast<std::uint32_t>(size));
        detail::append_bytes(out_, b, 6);
    }
    ProtocolStatus write_map_end() noexcept { return Unit{}; }

    void write_bool(bool v) { out_.push_back(v ? 1 : 0); }
    void write_byte(std::int8_t v) { out_.push_back(static_cast<std::uint8_t>(v)); }
    void write_i16(std::int16_t v) { append_be(static_cast<std::uint16_t>(v)); }
    void write_i32(std::int32_t v) { append_be(static_cast<std::uint32_t>(v)); }
    void write_i64(std::int64_t v) { append_be(static_cast<std::uint64_t>(v)); }
    void write_double(double v) { append_be(std::bit_cast<std::uint64_t>(v)); }

    // Lengths are 32-bit on this wire; longer values are outside what the protocol carries.
    void write_string(std::string_view s) {
        write_i32(static_cast<std::int32_t>(s.size()));
        detail::append_bytes(out_, s.data(), s.size());
    }
    void write_binary(std::span<const std::uint8_t> b) {
        write_i32(static_cast<std::int32_t>(b.size()));
        detail::append_bytes(out_, b.data(), b.size());
    }

private:
    template <class U>
    void append_be(U v) {
        std::uint8_t b[sizeof(U)];
        detail::store_be(b, v);
        detail::append_bytes(out_, b, sizeof(U));
    }

    Out& out_;
};

static_assert(TInputProtocol<BinaryProtocolReader>);
using BinaryProtocolWriter = BasicBinaryProtocolWriter<std::vector<std::uint8_t>>;
static_assert(TOutputProtocol<BinaryProtocolWriter>);

}  // namespace velmora::protocol
