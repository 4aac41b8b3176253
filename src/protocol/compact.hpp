// Thrift Compact protocol as this program writes it: 4-bit field-id deltas, booleans folded
// into field headers, zigzag varints. Five points differ from the published Compact encoding
// and are part of our format (readers and writers agree on them):
//   - string and binary lengths are zigzag varints (published: plain varints);
//   - long-form list/set sizes and map sizes are zigzag varints (published: plain varints);
//   - the message sequence id is a zigzag varint (published: plain varint);
//   - a long-form field id is 2 bytes big-endian (published: zigzag varint);
//   - a double is its 8 bytes big-endian (published: little-endian).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_order.hpp"
#include "protocol/input_cursor.hpp"
#include "protocol/types.hpp"

namespace velmora::protocol {

// 4-bit compact type codes. Field headers fold a boolean's value into the type: 1 true,
// 2 false. Container headers write BOOL as 1 and accept 1 or 2.
struct CompactType {
    static constexpr std::uint8_t STOP = 0;
    static constexpr std::uint8_t BOOL_TRUE = 1;
    static constexpr std::uint8_t BOOL_FALSE = 2;
    static constexpr std::uint8_t BYTE = 3;
    static constexpr std::uint8_t I16 = 4;
    static constexpr std::uint8_t I32 = 5;
    static constexpr std::uint8_t I64 = 6;
    static constexpr std::uint8_t DOUBLE = 7;
    static constexpr std::uint8_t BINARY = 8;
    static constexpr std::uint8_t LIST = 9;
    static constexpr std::uint8_t SET = 10;
    static constexpr std::uint8_t MAP = 11;
    static constexpr std::uint8_t STRUCT = 12;
};

namespace detail {

// Compact code (0..12) -> Thrift type code.
inline constexpr std::array<std::uint8_t, 13> kCompactToTType = {
    TType::STOP, TType::BOOL, TType::BOOL, TType::BYTE, TType::I16,  TType::I32,    TType::I64,
    TType::DOUBLE, TType::STRING, TType::LIST, TType::SET, TType::MAP, TType::STRUCT};

// Thrift type code -> compact code. Codes without a compact form (STOP, VOID, 5, 7, 9 and
// anything above LIST) map to 0; the codec never asks for them.
constexpr std::uint8_t compact_type_of(std::uint8_t ttype) noexcept {
    switch (ttype) {
        case TType::BOOL: return CompactType::BOOL_TRUE;
        case TType::BYTE: return CompactType::BYTE;
        case TType::I16: return CompactType::I16;
        case TType::I32: return CompactType::I32;
        case TType::I64: return CompactType::I64;
        case TType::DOUBLE: return CompactType::DOUBLE;
        case TType::STRING: return CompactType::BINARY;
        case TType::LIST: return CompactType::LIST;
        case TType::SET: return CompactType::SET;
        case TType::MAP: return CompactType::MAP;
        case TType::STRUCT: return CompactType::STRUCT;
        default: return CompactType::STOP;
    }
}

constexpr std::uint32_t zigzag32(std::int32_t n) noexcept {
    return (static_cast<std::uint32_t>(n) << 1) ^ static_cast<std::uint32_t>(n >> 31);
}
constexpr std::uint64_t zigzag64(std::int64_t n) noexcept {
    return (static_cast<std::uint64_t>(n) << 1) ^ static_cast<std::uint64_t>(n >> 63);
}
constexpr std::int32_t unzigzag32(std::uint32_t n) noexcept {
    return static_cast<std::int32_t>((n >> 1) ^ (~(n & 1) + 1));
}
constexpr std::int64_t unzigzag64(std::uint64_t n) noexcept {
    return static_cast<std::int64_t>((n >> 1) ^ (~(n & 1) + 1));
}

}  // namespace detail

class CompactProtocolReader {
public:
    // The id stack starts with one entry, which serves a message body.
    explicit CompactProtocolReader(std::span<const std::uint8_t> input) noexcept : in_(input) {}
    // The reader keeps a view of its input: a temporary buffer would dangle.
    explicit CompactProtocolReader(std::vector<std::uint8_t>&&) = delete;

    std::size_t position() const noexcept { return in_.position(); }
    std::size_t reserve_hint(std::int32_t size) const noexcept {
        // Every element takes at least one byte on this wire (booleans in containers included).
        return size <= 0 ? 0 : std::min(static_cast<std::size_t>(size), in_.remaining());
    }
    int nesting_depth() const noexcept { return depth_.value(); }

    // 0x82, then (type << 5) | version 1, the sequence id, the name. Does not push an id
    // entry: the constructor's entry serves the body.
    ProtocolResult<MessageHeader> read_message_begin() {
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        if (p[0] != 0x82) return Err{ProtocolError::io(IoErrorKind::InvalidData, "Bad protocol id")};
        p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        const std::uint8_t v = p[0];
        if ((v & 0x1F) != 1) return Err{ProtocolError::io(IoErrorKind::InvalidData, "Bad protocol version")};
        auto seq = read_varint32();
        if (!seq) return Err{std::move(seq).error()};
        auto name = read_string();
        if (!name) return Err{std::move(name).error()};
        return MessageHeader{std::string(*name), static_cast<std::uint8_t>(v >> 5), detail::unzigzag32(*seq)};
    }

    ProtocolStatus read_struct_begin() {
        auto entered = depth_.enter();
        if (!entered) return entered;
        // The depth bound keeps the stack within its fixed capacity.
        ids_[++top_] = 0;
        return Unit{};
    }
    void read_struct_end() noexcept {
        if (top_ > 0) --top_;
        depth_.leave();
    }

    // Short form: (delta << 4) | type with the id relative to the previous field of this
    // struct. Long form: delta nibble 0, then the id as 2 bytes big-endian.
    ProtocolResult<FieldHeader> read_field_begin() {
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        const std::uint8_t b = p[0];
        const std::uint8_t ctype = b & 0x0F;
        if (ctype == CompactType::STOP) return FieldHeader{TType::STOP, 0};
        std::int16_t id;
        if ((b >> 4) == 0) {
            const std::uint8_t* q = in_.take(2);
            if (!q) return Err{ProtocolError::eof()};
            id = static_cast<std::int16_t>(detail::load_be<std::uint16_t>(q));
        } else {
            id = static_cast<std::int16_t>(static_cast<std::uint16_t>(ids_[top_]) + (b >> 4));
        }
        ids_[top_] = id;
        if (ctype > CompactType::STRUCT) [[unlikely]]
            return Err{ProtocolError::invalid_field_type()};
        if (ctype == CompactType::BOOL_TRUE || ctype == CompactType::BOOL_FALSE)
            pending_bool_ = (ctype == CompactType::BOOL_TRUE);
        return FieldHeader{detail::kCompactToTType[ctype], id};
    }

    // (size << 4) | type for sizes 0..14; 0xF0 | type then a zigzag varint size otherwise.
    ProtocolResult<ListHeader> read_list_begin() {
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        const std::uint8_t h = p[0];
        std::int32_t size = h >> 4;
        if (size == 15) {
            auto n = read_varint32();
            if (!n) return Err{std::move(n).error()};
            size = detail::unzigzag32(*n);
        }
        if ((h & 0x0F) > CompactType::STRUCT) [[unlikely]]
            return Err{ProtocolError::invalid_field_type()};
        auto entered = depth_.enter();
        if (!entered) return Err{std::move(entered).error()};
        return ListHeader{detail::kCompactToTType[h & 0x0F], size};
    }
    void read_list_end() noexcept { depth_.leave(); }

    // A zigzag varint size; an empty map is that single 0 byte, otherwise a byte
    // (key type << 4) | value type follows.
    ProtocolResult<MapHeader> read_map_begin() {
        auto n = read_varint32();
        if (!n) return Err{std::move(n).error()};
        const std::int32_t size = detail::unzigzag32(*n);
        MapHeader h{TType::STOP, TType::STOP, 0};
        if (size != 0) {
            const std::uint8_t* p = in_.take(1);
            if (!p) return Err{ProtocolError::eof()};
            const std::uint8_t k = p[0] >> 4, v = p[0] & 0x0F;
            if (k > CompactType::STRUCT || v > CompactType::STRUCT) [[unlikely]]
                return Err{ProtocolError::invalid_field_type()};
            h = MapHeader{detail::kCompactToTType[k], detail::kCompactToTType[v], size};
        }
        auto entered = depth_.enter();
        if (!entered) return Err{std::move(entered).error()};
        return h;
    }
    void read_map_end() noexcept { depth_.leave(); }

    // A boolean field's value came with its header; elsewhere it is one byte and only 1 is true.
    ProtocolResult<bool> read_bool() {
        if (pending_bool_) {
            const bool v = *pending_bool_;
            pending_bool_.reset();
            return v;
        }
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        return p[0] == 1;
    }
    ProtocolResult<std::int8_t> read_byte() {
        const std::uint8_t* p = in_.take(1);
        if (!p) return Err{ProtocolError::eof()};
        return static_cast<std::int8_t>(p[0]);
    }
    // The low 16 bits of the decoded 32-bit value.
    ProtocolResult<std::int16_t> read_i16() {
        auto n = read_varint32();
        if (!n) return Err{std::move(n).error()};
        return static_cast<std::int16_t>(detail::unzigzag32(*n));
    }
    ProtocolResult<std::int32_t> read_i32() {
        auto n = read_varint32();
        if (!n) return Err{std::move(n).error()};
        return detail::unzigzag32(*n);
    }
    ProtocolResult<std::int64_t> read_i64() {
        auto n = read_varint64();
        if (!n) return Err{std::move(n).error()};
        return detail::unzigzag64(*n);
    }
    ProtocolResult<double> read_double() {
        const std::uint8_t* p = in_.take(8);
        if (!p) return Err{ProtocolError::eof()};
        return std::bit_cast<double>(detail::load_be<std::uint64_t>(p));
    }

    // Strings travel as length-prefixed bytes, so a caller that validates UTF-8 itself may
    // read them with read_binary.
    static constexpr bool kStringsAreRawBytes = true;

    ProtocolResult<std::string_view> read_string() {
        auto n = read_varint32();
        if (!n) return Err{std::move(n).error()};
        return in_.take_text(detail::unzigzag32(*n));
    }
    ProtocolResult<std::span<const std::uint8_t>> read_binary() {
        auto n = read_varint32();
        if (!n) return Err{std::move(n).error()};
        return in_.take_bytes(detail::unzigzag32(*n));
    }

    // Varints: 7 bits per byte, low group first, high bit = more follows. The byte count is
    // not limited; bits beyond the width are dropped.
    ProtocolResult<std::uint32_t> read_varint32() {
        auto v = read_varint<32>();
        if (!v) return Err{std::move(v).error()};
        return static_cast<std::uint32_t>(*v);
    }
    ProtocolResult<std::uint64_t> read_varint64() { return read_varint<64>(); }

private:
    template <unsigned Width>
    ProtocolResult<std::uint64_t> read_varint() {
        const std::uint8_t* p = in_.peek();
        const std::size_t avail = in_.remaining();
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < avail; ++i) {
            const std::uint8_t b = p[i];
            if (i * 7 < Width) v |= static_cast<std::uint64_t>(b & 0x7F) << (i * 7);
            if (!(b & 0x80)) {
                in_.advance(i + 1);
                if constexpr (Width < 64) v &= (std::uint64_t{1} << Width) - 1;
                return v;
            }
        }
        in_.move_to_end();
        return Err{ProtocolError::eof()};
    }

    InputCursor in_;
    NestingDepth depth_;
    // Last field id per open struct; index 0 serves the message body or top-level struct.
    std::array<std::int16_t, kMaxNestingDepth + 1> ids_{};
    int top_ = 0;
    std::optional<bool> pending_bool_;
};

// Writes to any byte output: a std::vector, or the module's output that grows a bytes object
// in place so a serialized struct needs no final copy.
template <class Out>
class BasicCompactProtocolWriter {
public:
    // Appends after whatever the vector already holds. The id stack starts with one entry.
    explicit BasicCompactProtocolWriter(Out& out) noexcept : out_(out) {}

    void write_message_begin(std::string_view name, std::uint8_t message_type, std::int32_t seq_id) {
        out_.push_back(0x82);
        out_.push_back(static_cast<std::uint8_t>((message_type << 5) | 1));
        write_varint(detail::zigzag32(seq_id));
        write_string(name);
    }
    ProtocolStatus write_message_end() noexcept { return Unit{}; }

    void write_struct_begin() { ids_.push(); }
    ProtocolStatus write_struct_end() {
        // The constructor's entry is never popped: an unbalanced end is a caller error.
        if (ids_.size() <= 1) [[unlikely]]
            return Err{ProtocolError::io(IoErrorKind::Other, "stack underflow")};
        ids_.pop();
        return Unit{};
    }

    // A boolean field's header waits for its value (write_bool folds it in).
    void write_field_begin(std::uint8_t type, std::int16_t id) {
        if (type == TType::BOOL) {
            pending_bool_id_ = id;
            return;
        }
        write_field_header(detail::compact_type_of(type), id);
    }
    void write_field_stop() { out_.push_back(CompactType::STOP); }

    void write_list_begin(std::uint8_t elem_type, std::int32_t size) {
        const std::uint8_t ct = detail::compact_type_of(elem_type);
        if (size >= 0 && size <= 14) {
            out_.push_back(static_cast<std::uint8_t>((size << 4) | ct));
        } else {
            out_.push_back(static_cast<std::uint8_t>(0xF0 | ct));
            write_varint(detail::zigzag32(size));
        }
    }
    ProtocolStatus write_list_end() noexcept { return Unit{}; }

    void write_map_begin(std::uint8_t key_type, std::uint8_t value_type, std::int32_t size) {
        if (size == 0) {
            out_.push_back(0);
            return;
        }
        write_varint(detail::zigzag32(size));
        out_.push_back(static_cast<std::uint8_t>((detail::compact_type_of(key_type) << 4) |
                                                 detail::compact_type_of(value_type)));
    }
    ProtocolStatus write_map_end() noexcept { return Unit{}; }

    void write_bool(bool v) {
        if (pending_bool_id_) {
            write_field_header(v ? CompactType::BOOL_TRUE : CompactType::BOOL_FALSE, *pending_bool_id_);
            pending_bool_id_.reset();
            return;
        }
        out_.push_back(v ? 1 : 2);
    }
    void write_byte(std::int8_t v) { out_.push_back(static_cast<std::uint8_t>(v)); }
    void write_i16(std::int16_t v) { write_varint(detail::zigzag32(v)); }
    void write_i32(std::int32_t v) { write_varint(detail::zigzag32(v)); }
    void write_i64(std::int64_t v) { write_varint(detail::zigzag64(v)); }
    void write_double(double v) {
        std::uint8_t b[8];
        detail::store_be(b, std::bit_cast<std::uint64_t>(v));
        detail::append_bytes(out_, b, 8);
    }
    void write_string(std::string_view s) {
        write_varint(detail::zigzag32(static_cast<std::int32_t>(s.size())));
        detail::append_bytes(out_, s.data(), s.size());
    }
    void write_binary(std::span<const std::uint8_t> b) {
        write_varint(detail::zigzag32(static_cast<std::int32_t>(b.size())));
        detail::append_bytes(out_, b.data(), b.size());
    }

private:
    void write_field_header(std::uint8_t ctype, std::int16_t id) {
        const auto delta = static_cast<std::int16_t>(static_cast<std::uint16_t>(id) -
                                                     static_cast<std::uint16_t>(ids_.top()));
        if (delta >= 1 && delta <= 15) {
            out_.push_back(static_cast<std::uint8_t>((delta << 4) | ctype));
        } else {
            std::uint8_t b[3] = {ctype};
            detail::store_be(b + 1, static_cast<std::uint16_t>(id));
            detail::append_bytes(out_, b, 3);
        }
        ids_.top() = id;
    }

    void write_varint(std::uint64_t v) {
        std::uint8_t b[10];
        std::size_t n = 0;
        while (v >= 0x80) {
            b[n++] = static_cast<std::uint8_t>(v | 0x80);
            v >>= 7;
        }
        b[n++] = static_cast<std::uint8_t>(v);
        detail::append_bytes(out_, b, n);
    }

    // Last field id per open struct, starting with the one entry that serves a message body.
    // Writers have no depth bound, so levels beyond the inline ones spill to the heap.
    class IdStack {
    public:
        std::int16_t& top() noexcept { return size_ <= kInline ? inline_[size_ - 1] : spill_[size_ - kInline - 1]; }
        std::size_t size() const noexcept { return size_; }
        void push() {
            if (size_ < kInline)
                inline_[size_] = 0;
            else
                spill_.push_back(0);
            ++size_;
        }
        void pop() noexcept {
            if (size_ > kInline) spill_.pop_back();
            --size_;
        }

    private:
        static constexpr std::size_t kInline = 32;
        std::array<std::int16_t, kInline> inline_{};
        std::vector<std::int16_t> spill_;
        std::size_t size_ = 1;
    };

    Out& out_;
    IdStack ids_;
    std::optional<std::int16_t> pending_bool_id_;
};

static_assert(TInputProtocol<CompactProtocolReader>);
using CompactProtocolWriter = BasicCompactProtocolWriter<std::vector<std::uint8_t>>;
static_assert(TOutputProtocol<CompactProtocolWriter>);

}  // namespace velmora::protocol
