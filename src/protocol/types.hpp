// Vocabulary shared by the wire protocols: type codes, message types, header records,
// ProtocolError, the nesting-depth bound and the reader/writer concepts the codec is written against.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/io_error.hpp"
#include "result.hpp"

namespace velmora::protocol {

// Thrift type codes; one unsigned byte on every wire.
struct TType {
    static constexpr std::uint8_t STOP = 0;
    static constexpr std::uint8_t VOID = 1;
    static constexpr std::uint8_t BOOL = 2;
    static constexpr std::uint8_t BYTE = 3;
    static constexpr std::uint8_t DOUBLE = 4;
    static constexpr std::uint8_t I16 = 6;
    static constexpr std::uint8_t I32 = 8;
    static constexpr std::uint8_t I64 = 10;
    static constexpr std::uint8_t STRING = 11;  // text and binary alike
    static constexpr std::uint8_t STRUCT = 12;  // structs, unions and exceptions
    static constexpr std::uint8_t MAP = 13;
    static constexpr std::uint8_t SET = 14;
    static constexpr std::uint8_t LIST = 15;
    // Used inside the program only: "no type known". Never written to a wire.
    static constexpr std::uint8_t UNKNOWN = 16;
};

struct MessageType {
    static constexpr std::uint8_t CALL = 1;
    static constexpr std::uint8_t REPLY = 2;
    static constexpr std::uint8_t EXCEPTION = 3;
    static constexpr std::uint8_t ONEWAY = 4;
};

struct MessageHeader {
    std::string name;
    std::uint8_t message_type = 0;
    std::int32_t seq_id = 0;
    friend bool operator==(const MessageHeader&, const MessageHeader&) = default;
};

// A header whose type is STOP ends the struct; its id is then 0. Field names never travel
// in the three protocols, so the record carries none.
struct FieldHeader {
    std::uint8_t type = TType::STOP;
    std::int16_t id = 0;
    friend bool operator==(const FieldHeader&, const FieldHeader&) = default;
};

// Lists and sets share this header. The size is returned as read: it may be negative.
struct ListHeader {
    std::uint8_t elem_type = TType::STOP;
    std::int32_t size = 0;
    friend bool operator==(const ListHeader&, const ListHeader&) = default;
};

struct MapHeader {
    std::uint8_t key_type = TType::STOP;
    std::uint8_t value_type = TType::STOP;
    std::int32_t size = 0;
    friend bool operator==(const MapHeader&, const MapHeader&) = default;
};

// The error of every protocol operation. Exactly three variants with fixed display texts.
class ProtocolError {
public:
    enum class Kind : std::uint8_t { Io, InvalidType, InvalidFieldType };

    [[gnu::cold]] static ProtocolError io(IoError e) { return ProtocolError(Kind::Io, 0, std::move(e)); }
    [[gnu::cold]] static ProtocolError io(IoErrorKind kind, std::string message) {
        return io(IoError{kind, std::move(message)});
    }
    [[gnu::cold]] static ProtocolError invalid_type(std::uint8_t code) {
        return ProtocolError(Kind::InvalidType, code, {});
    }
    [[gnu::cold]] static ProtocolError invalid_field_type() {
        return ProtocolError(Kind::InvalidFieldType, 0, {});
    }
    // The single short-read error: "IO error: failed to fill whole buffer".
    [[gnu::cold]] static ProtocolError eof() { return io(IoErrorKind::UnexpectedEof, kEofMessage); }

    Kind kind() const noexcept { return kind_; }
    // The offending code of an InvalidType error.
    std::uint8_t type_code() const noexcept { return code_; }
    // The wrapped error of an Io error (empty for the other variants).
    const IoError& io_error() const noexcept { return io_; }

    // Display form: "IO error: <message>", "Invalid type: <code>" or "Invalid field type".
    std::string text() const {
        switch (kind_) {
            case Kind::Io: return "IO error: " + io_.message;
            case Kind::InvalidType: return "Invalid type: " + std::to_string(code_);
            case Kind::InvalidFieldType: break;
        }
        return "Invalid field type";
    }

    // Io yields its own error unchanged; the other variants become InvalidData errors whose
    // message is the variant's text.
    IoError to_io_error() const& {
        if (kind_ == Kind::Io) return io_;
        return IoError{IoErrorKind::InvalidData, text()};
    }
    IoError to_io_error() && {
        if (kind_ == Kind::Io) return std::move(io_);
        return IoError{IoErrorKind::InvalidData, text()};
    }

    friend bool operator==(const ProtocolError&, const ProtocolError&) = default;

private:
    ProtocolError(Kind kind, std::uint8_t code, IoError io) : kind_(kind), code_(code), io_(std::move(io)) {}

    Kind kind_;
    std::uint8_t code_;
    IoError io_;
};

template <class T>
using ProtocolResult = Result<T, ProtocolError>;
using ProtocolStatus = Status<ProtocolError>;

[[gnu::cold, gnu::noinline]] inline ProtocolError negative_length_error(std::int64_t length) {
    return ProtocolError::io(IoErrorKind::InvalidData, "Negative length: " + std::to_string(length));
}

// A reader that builds a container from a header calls this: a negative size is malformed
// input, never "empty" (only skipping treats it as empty).
inline ProtocolResult<std::uint32_t> checked_size(std::int32_t size) {
    if (size < 0) [[unlikely]]
        return Err{ProtocolError::io(IoErrorKind::InvalidData, "Negative size: " + std::to_string(size))};
    return static_cast<std::uint32_t>(size);
}

// Structs, lists, sets and maps may nest this deep on input. Every reader counts the levels
// opened by read_struct_begin / read_list_begin / read_map_begin, so the codec and
// skip_value share one bound without passing a counter around.
inline constexpr int kMaxNestingDepth = 64;

class NestingDepth {
public:
    ProtocolStatus enter() {
        if (depth_ >= kMaxNestingDepth) [[unlikely]]
            return Err{too_deep()};
        ++depth_;
        return Unit{};
    }
    void leave() noexcept {
        if (depth_ > 0) --depth_;
    }
    int value() const noexcept { return depth_; }

private:
    [[gnu::cold, gnu::noinline]] static ProtocolError too_deep() {
        return ProtocolError::io(IoErrorKind::InvalidData,
                                 "Nesting depth exceeds " + std::to_string(kMaxNestingDepth));
    }
    int depth_ = 0;
};

// The reader operation set. Views returned by read_string / read_binary stay valid while the
// reader lives and until its next read (the Binary and Compact readers point into the input,
// so theirs last as long as the input buffer).
template <class R>
concept TInputProtocol = requires(R& r, const R& cr, std::int32_t n) {
    { r.read_message_begin() } -> std::same_as<ProtocolResult<MessageHeader>>;
    { r.read_struct_begin() } -> std::same_as<ProtocolStatus>;
    { r.read_struct_end() } -> std::same_as<void>;
    { r.read_field_begin() } -> std::same_as<ProtocolResult<FieldHeader>>;
    { r.read_list_begin() } -> std::same_as<ProtocolResult<ListHeader>>;
    { r.read_list_end() } -> std::same_as<void>;
    { r.read_map_begin() } -> std::same_as<ProtocolResult<MapHeader>>;
    { r.read_map_end() } -> std::same_as<void>;
    { r.read_bool() } -> std::same_as<ProtocolResult<bool>>;
    { r.read_byte() } -> std::same_as<ProtocolResult<std::int8_t>>;
    { r.read_i16() } -> std::same_as<ProtocolResult<std::int16_t>>;
    { r.read_i32() } -> std::same_as<ProtocolResult<std::int32_t>>;
    { r.read_i64() } -> std::same_as<ProtocolResult<std::int64_t>>;
    { r.read_double() } -> std::same_as<ProtocolResult<double>>;
    { r.read_string() } -> std::same_as<ProtocolResult<std::string_view>>;
    { r.read_binary() } -> std::same_as<ProtocolResult<std::span<const std::uint8_t>>>;
    // How many elements of a just-opened container of `n` declared elements it is safe to
    // reserve room for: never more than the input could still hold.
    { cr.reserve_hint(n) } noexcept -> std::same_as<std::size_t>;
    { cr.nesting_depth() } noexcept -> std::same_as<int>;
};

// The writer operation set. Only the end operations can fail (the JSON writer's "stack
// underflow"); everything else appends to the caller's vector.
template <class W>
concept TOutputProtocol = requires(W& w, std::string_view s, std::span<const std::uint8_t> b, std::uint8_t t,
                                   std::int16_t id, std::int32_t n) {
    { w.write_message_begin(s, t, n) } -> std::same_as<void>;
    { w.write_message_end() } -> std::same_as<ProtocolStatus>;
    { w.write_struct_begin() } -> std::same_as<void>;
    { w.write_struct_end() } -> std::same_as<ProtocolStatus>;
    { w.write_field_begin(t, id) } -> std::same_as<void>;
    { w.write_field_stop() } -> std::same_as<void>;
    { w.write_list_begin(t, n) } -> std::same_as<void>;
    { w.write_list_end() } -> std::same_as<ProtocolStatus>;
    { w.write_map_begin(t, t, n) } -> std::same_as<void>;
    { w.write_map_end() } -> std::same_as<ProtocolStatus>;
    { w.write_bool(true) } -> std::same_as<void>;
    { w.write_byte(std::int8_t{}) } -> std::same_as<void>;
    { w.write_i16(id) } -> std::same_as<void>;
    { w.write_i32(n) } -> std::same_as<void>;
    { w.write_i64(std::int64_t{}) } -> std::same_as<void>;
    { w.write_double(0.0) } -> std::same_as<void>;
    { w.write_string(s) } -> std::same_as<void>;
    { w.write_binary(b) } -> std::same_as<void>;
};

}  // namespace velmora::protocol
