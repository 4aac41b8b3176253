// Compact protocol: varints and zigzag, field-id deltas, folded booleans, container and message
// headers byte for byte, reads back, and the reader's errors.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "protocol/compact.hpp"
#include "test_util.hpp"

namespace velmora::protocol {
namespace {

using test::Bytes;
using test::error_text;
using test::hex;
using test::to_hex;

struct LayoutCase {
    const char* name;
    std::function<void(CompactProtocolWriter&)> write;
    const char* bytes;
    std::function<void(CompactProtocolReader&)> read_back;
};

constexpr auto kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto kI32Max = std::numeric_limits<std::int32_t>::max();

const LayoutCase kLayout[] = {
    {"i32 0", [](auto& w) { w.write_i32(0); }, "00", [](auto& r) { EXPECT_EQ(*r.read_i32(), 0); }},
    {"i32 -1", [](auto& w) { w.write_i32(-1); }, "01", [](auto& r) { EXPECT_EQ(*r.read_i32(), -1); }},
    {"i32 1", [](auto& w) { w.write_i32(1); }, "02", [](auto& r) { EXPECT_EQ(*r.read_i32(), 1); }},
    {"i32 300", [](auto& w) { w.write_i32(300); }, "D8 04", [](auto& r) { EXPECT_EQ(*r.read_i32(), 300); }},
    {"i32 max", [](auto& w) { w.write_i32(kI32Max); }, "FE FF FF FF 0F",
     [](auto& r) { EXPECT_EQ(*r.read_i32(), kI32Max); }},
    {"i16 -300", [](auto& w) { w.write_i16(-300); }, "D7 04", [](auto& r) { EXPECT_EQ(*r.read_i16(), -300); }},
    {"i64 min", [](auto& w) { w.write_i64(kI64Min); }, "FF FF FF FF FF FF FF FF FF 01",
     [](auto& r) { EXPECT_EQ(*r.read_i64(), kI64Min); }},
    {"i64 2^40", [](auto& w) { w.write_i64(1LL << 40); }, "80 80 80 80 80 40",
     [](auto& r) { EXPECT_EQ(*r.read_i64(), 1LL << 40); }},
    {"byte", [](auto& w) { w.write_byte(-1); }, "FF", [](auto& r) { EXPECT_EQ(*r.read_byte(), -1); }},
    {"double is big-endian", [](auto& w) { w.write_double(1.0); }, "3F F0 00 00 00 00 00 00",
     [](auto& r) { EXPECT_EQ(*r.read_double(), 1.0); }},
    {"string length is zigzag", [](auto& w) { w.write_string("abc"); }, "06 61 62 63",
     [](auto& r) { EXPECT_EQ(*r.read_string(), "abc"); }},
    {"binary", [](auto& w) { w.write_binary(test::hex("FF")); }, "02 FF",
     [](auto& r) { EXPECT_EQ(to_hex(*r.read_binary()), "FF"); }},
    {"bool elements", [](auto& w) {
         w.write_list_begin(TType::BOOL, 2);
         w.write_bool(true);
         w.write_bool(false);
     },
     "21 01 02",
     [](auto& r) {
         EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::BOOL, 2}));
         EXPECT_TRUE(*r.read_bool());
         EXPECT_FALSE(*r.read_bool());
     }},
    {"list of 3 i32", [](auto& w) { w.write_list_begin(TType::I32, 3); }, "35",
     [](auto& r) { EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::I32, 3})); }},
    {"list of 14 strings", [](auto& w) { w.write_list_begin(TType::STRING, 14); }, "E8",
     [](auto& r) { EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::STRING, 14})); }},
    {"list of 20 i32 (long form, zigzag size)", [](auto& w) { w.write_list_begin(TType::I32, 20); }, "F5 28",
     [](auto& r) { EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::I32, 20})); }},
    {"set of structs", [](auto& w) { w.write_list_begin(TType::STRUCT, 1); }, "1C",
     [](auto& r) { EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::STRUCT, 1})); }},
    {"empty map", [](auto& w) { w.write_map_begin(TType::I32, TType::STRING, 0); }, "00",
     [](auto& r) { EXPECT_EQ(*r.read_map_begin(), (MapHeader{TType::STOP, TType::STOP, 0})); }},
    {"map i32 -> string of 2", [](auto& w) { w.write_map_begin(TType::I32, TType::STRING, 2); }, "04 58",
     [](auto& r) { EXPECT_EQ(*r.read_map_begin(), (MapHeader{TType::I32, TType::STRING, 2})); }},
    {"fields 1 and 2", [](auto& w) {
         w.write_field_begin(TType::I32, 1);
         w.write_i32(0);
         w.write_field_begin(TType::I32, 2);
         w.write_i32(0);
         w.write_field_stop();
     },
     "15 00 15 00 00",
     [](auto& r) {
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::I32, 1}));
         EXPECT_EQ(*r.read_i32(), 0);
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::I32, 2}));
         EXPECT_EQ(*r.read_i32(), 0);
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::STOP, 0}));
     }},
    {"fields 1, 20, 21: long form id is 2 bytes big-endian", [](auto& w) {
         for (std::int16_t id : {1, 20, 21}) {
             w.write_field_begin(TType::I32, id);
             w.write_i32(0);
         }
     },
     "15 00 05 00 14 00 15 00",
     [](auto& r) {
         for (std::int16_t id : {1, 20, 21}) {
             EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::I32, id}));
             EXPECT_EQ(*r.read_i32(), 0);
         }
     }},
    {"delta 15 is the last short form, 16 the first long one", [](auto& w) {
         w.write_field_begin(TType::I32, 15);
         w.write_i32(0);
         w.write_field_begin(TType::I32, 31);
         w.write_i32(0);
     },
     "F5 00 05 00 1F 00",
     [](auto& r) {
         for (std::int16_t id : {15, 31}) {
             EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::I32, id}));
             EXPECT_EQ(*r.read_i32(), 0);
         }
     }},
    {"decreasing and negative ids use the long form", [](auto& w) {
         w.write_field_begin(TType::BYTE, 5);
         w.write_byte(0);
         w.write_field_begin(TType::BYTE, -1);
         w.write_byte(0);
     },
     "53 00 03 FF FF 00",
     [](auto& r) {
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BYTE, 5}));
         EXPECT_EQ(*r.read_byte(), 0);
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BYTE, -1}));
         EXPECT_EQ(*r.read_byte(), 0);
     }},
    {"bool field true folds into the header", [](auto& w) {
         w.write_field_begin(TType::BOOL, 1);
         w.write_bool(true);
     },
     "11",
     [](auto& r) {
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BOOL, 1}));
         EXPECT_TRUE(*r.read_bool());
     }},
    {"bool field false folds into the header", [](auto& w) {
         w.write_field_begin(TType::BOOL, 1);
         w.write_bool(false);
     },
     "12",
     [](auto& r) {
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BOOL, 1}));
         EXPECT_FALSE(*r.read_bool());
     }},
    {"nested struct restarts the id deltas", [](auto& w) {
         w.write_field_begin(TType::STRUCT, 3);
         w.write_struct_begin();
         w.write_field_begin(TType::BYTE, 1);
         w.write_byte(7);
         w.write_field_stop();
         EXPECT_TRUE(w.write_struct_end().ok());
         w.write_field_begin(TType::BYTE, 4);
         w.write_byte(8);
     },
     "3C 13 07 00 13 08",
     [](auto& r) {
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::STRUCT, 3}));
         ASSERT_TRUE(r.read_struct_begin().ok());
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BYTE, 1}));
         EXPECT_EQ(*r.read_byte(), 7);
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::STOP, 0}));
         r.read_struct_end();
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BYTE, 4}));
         EXPECT_EQ(*r.read_byte(), 8);
     }},
    {"message header", [](auto& w) { w.write_message_begin("ping", MessageType::CALL, 1); },
     "82 21 02 08 70 69 6E 67",
     [](auto& r) { EXPECT_EQ(*r.read_message_begin(), (MessageHeader{"ping", MessageType::CALL, 1})); }},
    {"message header, negative sequence id", [](auto& w) { w.write_message_begin("", MessageType::ONEWAY, -1); },
     "82 81 01 00",
     [](auto& r) { EXPECT_EQ(*r.read_message_begin(), (MessageHeader{"", MessageType::ONEWAY, -1})); }},
};

TEST(CompactProtocol, LayoutOfEveryElement) {
    for (const auto& c : kLayout) {
        SCOPED_TRACE(c.name);
        Bytes out;
        CompactProtocolWriter w(out);
        c.write(w);
        EXPECT_EQ(to_hex(out), c.bytes);
        CompactProtocolReader r(out);
        c.read_back(r);
        EXPECT_EQ(r.position(), out.size());
    }
}

TEST(CompactProtocol, ReaderDecodingRules) {
    // Only the byte 1 is a true bool element.
    const Bytes bools_in = hex("01 02 00 05");
    CompactProtocolReader bools(bools_in);
    EXPECT_TRUE(*bools.read_bool());
    EXPECT_FALSE(*bools.read_bool());
    EXPECT_FALSE(*bools.read_bool());
    EXPECT_FALSE(*bools.read_bool());

    // Compact type 2 is accepted as a bool element type.
    const Bytes list_in = hex("32");
    CompactProtocolReader list(list_in);
    EXPECT_EQ(*list.read_list_begin(), (ListHeader{TType::BOOL, 3}));

    // A varint longer than its width drops the bits beyond it; an i16 is the low 16 bits of
    // the decoded 32-bit value (65535 here).
    const Bytes wide_in = hex("82 80 80 80 80 7F  FE FF 07");
    CompactProtocolReader wide(wide_in);
    EXPECT_EQ(*wide.read_i32(), 1);
    EXPECT_EQ(*wide.read_i16(), -1);

    // A list size in long form may be negative; a zigzag map size too.
    const Bytes negative_in = hex("F8 01 01 58");
    CompactProtocolReader negative(negative_in);
    EXPECT_EQ(negative.read_list_begin()->size, -1);
    EXPECT_EQ(*negative.read_map_begin(), (MapHeader{TType::I32, TType::STRING, -1}));
}

struct ErrorCase {
    const char* name;
    const char* input;
    std::function<std::string(CompactProtocolReader&)> op;
    const char* text;
    bool at_end;
};

template <class F>
std::function<std::string(CompactProtocolReader&)> op(F f) {
    return [f](CompactProtocolReader& r) { return error_text(f(r)); };
}

const ErrorCase kErrors[] = {
    {"bad protocol id", "80 01 00 01", op([](auto& r) { return r.read_message_begin(); }), "IO error: Bad protocol id",
     false},
    {"bad protocol version", "82 02 00 00", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: Bad protocol version", false},
    {"message cut in the sequence id", "82 21 80", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: failed to fill whole buffer", true},
    {"message name past the end", "82 21 02 08 70", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: failed to fill whole buffer", true},
    {"varint cut short", "FF FF", op([](auto& r) { return r.read_i64(); }), "IO error: failed to fill whole buffer",
     true},
    {"long-form field id cut short", "05 00", op([](auto& r) { return r.read_field_begin(); }),
     "IO error: failed to fill whole buffer", true},
    {"string past the end", "0A 61 62", op([](auto& r) { return r.read_string(); }),
     "IO error: failed to fill whole buffer", true},
    {"double cut short", "3F F0", op([](auto& r) { return r.read_double(); }), "IO error: failed to fill whole buffer",
     true},
    {"negative string length", "01", op([](auto& r) { return r.read_string(); }), "IO error: Negative length: -1",
     false},
    {"negative binary length", "03", op([](auto& r) { return r.read_binary(); }), "IO error: Negative length: -2",
     false},
    {"field compact type 13", "1D", op([](auto& r) { return r.read_field_begin(); }), "Invalid field type", false},
    {"list element compact type 15", "3F", op([](auto& r) { return r.read_list_begin(); }), "Invalid field type",
     false},
    {"map key compact type 13", "02 D5", op([](auto& r) { return r.read_map_begin(); }), "Invalid field type", false},
    {"map value compact type 14", "02 5E", op([](auto& r) { return r.read_map_begin(); }), "Invalid field type",
     false},
    {"invalid UTF-8", "04 C3 28", op([](auto& r) { return r.read_string(); }),
     "IO error: invalid utf-8 sequence of 1 bytes from index 0", false},
    {"invalid UTF-8 in a message name", "82 21 02 02 ED", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: incomplete utf-8 byte sequence from index 0", false},
};

TEST(CompactProtocol, ReaderErrors) {
    for (const auto& c : kErrors) {
        SCOPED_TRACE(c.name);
        const Bytes in = hex(c.input);
        CompactProtocolReader r(in);
        EXPECT_EQ(c.op(r), c.text);
        if (c.at_end) {
            EXPECT_EQ(r.position(), in.size());
        }
    }
}

TEST(CompactProtocol, UnbalancedStructEndIsRefused) {
    Bytes out;
    CompactProtocolWriter w(out);
    EXPECT_EQ(error_text(w.write_struct_end()), "IO error: stack underflow");
}

}  // namespace
}  // namespace velmora::protocol
