// The fuzz body shared by the three protocol harnesses: arbitrary bytes through a reader, and
// whatever it accepts copied through the matching writer and read back again.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "protocol/skip.hpp"
#include "protocol/types.hpp"

namespace velmora::protocol::fuzz {

// Copies one value of wire type `type` from a reader to a writer; false when the reader fails.
template <class R, class W>
bool copy_value(R& r, W& w, std::uint8_t type) {
    switch (type) {
        case TType::BOOL: {
            auto v = r.read_bool();
            if (!v) return false;
            w.write_bool(*v);
            return true;
        }
        case TType::BYTE: {
            auto v = r.read_byte();
            if (!v) return false;
            w.write_byte(*v);
            return true;
        }
        case TType::I16: {
            auto v = r.read_i16();
            if (!v) return false;
            w.write_i16(*v);
            return true;
        }
        case TType::I32: {
            auto v = r.read_i32();
            if (!v) return false;
            w.write_i32(*v);
            return true;
        }
        case TType::I64: {
            auto v = r.read_i64();
            if (!v) return false;
            w.write_i64(*v);
            return true;
        }
        case TType::DOUBLE: {
            auto v = r.read_double();
            if (!v) return false;
            w.write_double(*v);
            return true;
        }
        case TType::STRING: {
            // JSON strings are text; Binary and Compact strings are copied as bytes.
            if constexpr (requires { r.skip_string(); }) {
                auto v = r.read_string();
                if (!v) return false;
                w.write_string(*v);
            } else {
                auto v = r.read_binary();
                if (!v) return false;
                w.write_binary(*v);
            }
            return true;
        }
        case TType::STRUCT: {
            if (!r.read_struct_begin()) return false;
            w.write_struct_begin();
            for (;;) {
                auto f = r.read_field_begin();
                if (!f) return false;
                if (f->type == TType::STOP) break;
                w.write_field_begin(f->type, f->id);
                if (!copy_value(r, w, f->type)) return false;
            }
            w.write_field_stop();
            r.read_struct_end();
            return w.write_struct_end().ok();
        }
        case TType::MAP: {
            auto h = r.read_map_begin();
            if (!h) return false;
            w.write_map_begin(h->key_type, h->value_type, h->size);
            if (!(skips_as_empty(h->key_type) && skips_as_empty(h->value_type))) {
                for (std::int32_t i = 0; i < h->size; ++i)
                    if (!copy_value(r, w, h->key_type) || !copy_value(r, w, h->value_type)) return false;
            }
            r.read_map_end();
            return w.write_map_end().ok();
        }
        case TType::SET:
        case TType::LIST: {
            auto h = r.read_list_begin();
            if (!h) return false;
            w.write_list_begin(h->elem_type, h->size);
            if (!skips_as_empty(h->elem_type)) {
                for (std::int32_t i = 0; i < h->size; ++i)
                    if (!copy_value(r, w, h->elem_type)) return false;
            }
            r.read_list_end();
            return w.write_list_end().ok();
        }
        default: return true;
    }
}

// Reads a message and writes it again; false when the reader refuses the input.
template <class R, class W>
bool copy_message(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
    R r(in);
    auto h = r.read_message_begin();
    if (!h) return false;
    W w(out);
    w.write_message_begin(h->name, h->message_type, h->seq_id);
    w.write_struct_begin();
    for (;;) {
        auto f = r.read_field_begin();
        if (!f) return false;
        if (f->type == TType::STOP) break;
        w.write_field_begin(f->type, f->id);
        if (!copy_value(r, w, f->type)) return false;
    }
    w.write_field_stop();
    return w.write_message_end().ok();
}

[[noreturn]] inline void fail() { std::abort(); }

// `Streaming` readers (Binary, Compact) must read back everything their writer produced
// from accepted input, byte for byte. JSON may legitimately refuse its own output (a struct
// used as a map key comes back as text), so it must only be stable from the second copy on.
template <class R, class W, bool Streaming>
int fuzz_protocol(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> in(data, size);

    {
        R r(in);
        if (r.read_message_begin()) (void)skip_fields(r);
        if (r.position() > size) fail();
    }
    {
        R r(in);
        const auto skipped = skip_value(r, TType::STRUCT);
        if (skipped.ok() && r.nesting_depth() != 0) fail();
    }

    std::vector<std::uint8_t> w1, w2, w3;
    if (!copy_message<R, W>(in, w1)) return 0;
    const bool second = copy_message<R, W>(w1, w2);
    if constexpr (Streaming) {
        if (!second || w1 != w2) fail();
    } else {
        if (!second) return 0;
        if (!copy_message<R, W>(w2, w3) || w2 != w3) fail();
    }
    return 0;
}

}  // namespace velmora::protocol::fuzz
