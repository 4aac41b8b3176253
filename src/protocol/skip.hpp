// skip_value: passes over one value of a given wire type with any reader, for fields nobody asked for.
#pragma once

#include <cstdint>

#include "protocol/types.hpp"

namespace velmora::protocol {

// True for the codes that skip_value passes over without reading anything (STOP, VOID, the
// non-codes 5, 7, 9 and anything above LIST).
constexpr bool skips_as_empty(std::uint8_t ttype) noexcept {
    switch (ttype) {
        case TType::BOOL:
        case TType::BYTE:
        case TType::DOUBLE:
        case TType::I16:
        case TType::I32:
        case TType::I64:
        case TType::STRING:
        case TType::STRUCT:
        case TType::MAP:
        case TType::SET:
        case TType::LIST: return false;
        default: return true;
    }
}

template <TInputProtocol R>
ProtocolStatus skip_fields(R& r);

// Scalars are read with the protocol's own rule; strings are passed over as bytes (a reader may
// offer skip_string() for a cheaper way). Containers with a size of 0 or less are empty. Nesting is bounded by the
// reader's depth counter (the one the codec's reads also go through), so hostile input cannot
// recurse without limit, and containers of elements that read nothing are not looped over.
template <TInputProtocol R>
ProtocolStatus skip_value(R& r, std::uint8_t ttype) {
    switch (ttype) {
        case TType::BOOL: {
            auto v = r.read_bool();
            if (!v) return Err{std::move(v).error()};
            return Unit{};
        }
        case TType::BYTE: {
            auto v = r.read_byte();
            if (!v) return Err{std::move(v).error()};
            return Unit{};
        }
        case TType::I16: {
            auto v = r.read_i16();
            if (!v) return Err{std::move(v).error()};
            return Unit{};
        }
        case TType::I32: {
            auto v = r.read_i32();
            if (!v) return Err{std::move(v).error()};
            return Unit{};
        }
        case TType::I64: {
            auto v = r.read_i64();
            if (!v) return Err{std::move(v).error()};
            return Unit{};
        }
        case TType::DOUBLE: {
            auto v = r.read_double();
            if (!v) return Err{std::move(v).error()};
            return Unit{};
        }
        case TType::STRING: {
            // STRING carries binary values too: skipped bytes are not held to UTF-8, so an
            // unknown binary field does not make a valid message unreadable.
            if constexpr (requires { r.skip_string(); }) {
                return r.skip_string();
            } else {
                auto v = r.read_binary();
                if (!v) return Err{std::move(v).error()};
                return Unit{};
            }
        }
        case TType::STRUCT: {
            VELMORA_TRY(r.read_struct_begin());
            VELMORA_TRY(skip_fields(r));
            r.read_struct_end();
            return Unit{};
        }
        case TType::MAP: {
            auto h = r.read_map_begin();
            if (!h) return Err{std::move(h).error()};
            if (!(skips_as_empty(h->key_type) && skips_as_empty(h->value_type))) {
                for (std::int32_t i = 0; i < h->size; ++i) {
                    VELMORA_TRY(skip_value(r, h->key_type));
                    VELMORA_TRY(skip_value(r, h->value_type));
                }
            }
            r.read_map_end();
            return Unit{};
        }
        case TType::SET:
        case TType::LIST: {
            auto h = r.read_list_begin();
            if (!h) return Err{std::move(h).error()};
            if (!skips_as_empty(h->elem_type)) {
                for (std::int32_t i = 0; i < h->size; ++i) VELMORA_TRY(skip_value(r, h->elem_type));
            }
            r.read_list_end();
            return Unit{};
        }
        default: return Unit{};
    }
}

// Reads field headers up to and including STOP, skipping every value: the rest of a struct
// whose fields nobody needs (a message body after read_message_begin, or a struct body after
// read_struct_begin).
template <TInputProtocol R>
ProtocolStatus skip_fields(R& r) {
    for (;;) {
        auto field = r.read_field_begin();
        if (!field) return Err{std::move(field).error()};
        if (field->type == TType::STOP) return Unit{};
        VELMORA_TRY(skip_value(r, field->type));
    }
}

}  // namespace velmora::protocol
