// Binary protocol: byte-exact layout of every element, reads back, and the reader's errors.
#include <gtest/gtest.h>

#include <functional>

#include "protocol/binary.hpp"
#include "test_util.hpp"

namespace velmora::protocol {
namespace {

using test::Bytes;
using test::error_text;
using test::hex;
using test::to_hex;

struct LayoutCase {
    const char* name;
    std::function<void(BinaryProtocolWriter&)> write;
    const char* bytes;
    std::function<void(BinaryProtocolReader&)> read_back;
};

const std::uint8_t kBin[] = {0x00, 0xFF};

const LayoutCase kLayout[] = {
    {"bool true", [](auto& w) { w.write_bool(true); }, "01", [](auto& r) { EXPECT_EQ(*r.read_bool(), true); }},
    {"bool false", [](auto& w) { w.write_bool(false); }, "00", [](auto& r) { EXPECT_EQ(*r.read_bool(), false); }},
    {"byte", [](auto& w) { w.write_byte(-2); }, "FE", [](auto& r) { EXPECT_EQ(*r.read_byte(), -2); }},
    {"i16", [](auto& w) { w.write_i16(-2); }, "FF FE", [](auto& r) { EXPECT_EQ(*r.read_i16(), -2); }},
    {"i32", [](auto& w) { w.write_i32(0x01020304); }, "01 02 03 04",
     [](auto& r) { EXPECT_EQ(*r.read_i32(), 0x01020304); }},
    {"i64", [](auto& w) { w.write_i64(-0x0102030405060708LL); }, "FE FD FC FB FA F9 F8 F8",
     [](auto& r) { EXPECT_EQ(*r.read_i64(), -0x0102030405060708LL); }},
    {"double", [](auto& w) { w.write_double(1.0); }, "3F F0 00 00 00 00 00 00",
     [](auto& r) { EXPECT_EQ(*r.read_double(), 1.0); }},
    {"string", [](auto& w) { w.write_string("h\xC3\xA9"); }, "00 00 00 03 68 C3 A9",
     [](auto& r) { EXPECT_EQ(*r.read_string(), "h\xC3\xA9"); }},
    {"binary (not UTF-8)", [](auto& w) { w.write_binary(kBin); }, "00 00 00 02 00 FF",
     [](auto& r) { EXPECT_EQ(to_hex(*r.read_binary()), "00 FF"); }},
    {"field header", [](auto& w) { w.write_field_begin(TType::I32, 258); }, "08 01 02",
     [](auto& r) { EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::I32, 258})); }},
    {"field stop", [](auto& w) { w.write_field_stop(); }, "00",
     [](auto& r) { EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::STOP, 0})); }},
    {"list header", [](auto& w) { w.write_list_begin(TType::STRING, 3); }, "0B 00 00 00 03",
     [](auto& r) { EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::STRING, 3})); }},
    {"set header", [](auto& w) { w.write_list_begin(TType::I64, 0); }, "0A 00 00 00 00",
     [](auto& r) { EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::I64, 0})); }},
    {"map header", [](auto& w) { w.write_map_begin(TType::I32, TType::STRING, 2); }, "08 0B 00 00 00 02",
     [](auto& r) { EXPECT_EQ(*r.read_map_begin(), (MapHeader{TType::I32, TType::STRING, 2})); }},
    {"message header", [](auto& w) { w.write_message_begin("ping", MessageType::CALL, 1); },
     "80 01 00 01 00 00 00 04 70 69 6E 67 00 00 00 01",
     [](auto& r) { EXPECT_EQ(*r.read_message_begin(), (MessageHeader{"ping", MessageType::CALL, 1})); }},
    {"struct and container ends write nothing",
     [](auto& w) {
         w.write_struct_begin();
         EXPECT_TRUE(w.write_struct_end().ok());
         EXPECT_TRUE(w.write_list_end().ok());
         EXPECT_TRUE(w.write_map_end().ok());
         EXPECT_TRUE(w.write_message_end().ok());
     },
     "", [](auto&) {}},
};

TEST(BinaryProtocol, LayoutOfEveryElement) {
    for (const auto& c : kLayout) {
        SCOPED_TRACE(c.name);
        Bytes out;
        BinaryProtocolWriter w(out);
        c.write(w);
        EXPECT_EQ(to_hex(out), c.bytes);
        BinaryProtocolReader r(out);
        c.read_back(r);
        EXPECT_EQ(r.position(), out.size());
    }
}

TEST(BinaryProtocol, WriterAppendsAfterExistingBytes) {
    Bytes out = {0xAA};
    BinaryProtocolWriter w(out);
    w.write_i16(1);
    EXPECT_EQ(to_hex(out), "AA 00 01");
}

TEST(BinaryProtocol, ReaderLeniencies) {
    // Any non-zero bool byte is true; the third byte of the version word is ignored; VOID is a
    // field type the reader accepts.
    const Bytes bools_in = hex("02 00");
    BinaryProtocolReader bools(bools_in);
    EXPECT_TRUE(*bools.read_bool());
    EXPECT_FALSE(*bools.read_bool());

    const Bytes msg_in = hex("80 01 7F 02 00 00 00 00 00 00 00 09");
    BinaryProtocolReader msg(msg_in);
    EXPECT_EQ(*msg.read_message_begin(), (MessageHeader{"", MessageType::REPLY, 9}));

    const Bytes void_field_in = hex("01 00 05");
    BinaryProtocolReader void_field(void_field_in);
    EXPECT_EQ(*void_field.read_field_begin(), (FieldHeader{TType::VOID, 5}));
}

struct ErrorCase {
    const char* name;
    const char* input;
    std::function<std::string(BinaryProtocolReader&)> op;
    const char* text;
    bool at_end;  // a short read leaves the position at the end
};

template <class F>
std::function<std::string(BinaryProtocolReader&)> op(F f) {
    return [f](BinaryProtocolReader& r) { return error_text(f(r)); };
}

const ErrorCase kErrors[] = {
    {"legacy unversioned header", "00 00 00 04 70 69 6E 67", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: Bad version: 0x00000004", false},
    {"wrong version", "80 02 00 01", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: Bad version: 0x80020001", false},
    {"truncated version word", "80 01", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: failed to fill whole buffer", true},
    {"message name past the end", "80 01 00 01 00 00 00 09 61", op([](auto& r) { return r.read_message_begin(); }),
     "IO error: failed to fill whole buffer", true},
    {"string past the end", "00 00 00 05 61 62", op([](auto& r) { return r.read_string(); }),
     "IO error: failed to fill whole buffer", true},
    {"binary past the end", "7F FF FF FF 61", op([](auto& r) { return r.read_binary(); }),
     "IO error: failed to fill whole buffer", true},
    {"truncated i64", "00 00 00", op([](auto& r) { return r.read_i64(); }), "IO error: failed to fill whole buffer",
     true},
    {"truncated field id", "08 00", op([](auto& r) { return r.read_field_begin(); }),
     "IO error: failed to fill whole buffer", true},
    {"truncated map header", "08 0B 00", op([](auto& r) { return r.read_map_begin(); }),
     "IO error: failed to fill whole buffer", true},
    {"negative string length", "FF FF FF FF", op([](auto& r) { return r.read_string(); }),
     "IO error: Negative length: -1", false},
    {"negative binary length", "80 00 00 00", op([](auto& r) { return r.read_binary(); }),
     "IO error: Negative length: -2147483648", false},
    {"field type 7", "07 00 01", op([](auto& r) { return r.read_field_begin(); }), "Invalid type: 7", false},
    {"field type 5", "05 00 01", op([](auto& r) { return r.read_field_begin(); }), "Invalid type: 5", false},
    {"field type 16", "10 00 01", op([](auto& r) { return r.read_field_begin(); }), "Invalid type: 16", false},
    {"list element type 7", "07 00 00 00 01", op([](auto& r) { return r.read_list_begin(); }),
     "Invalid field type", false},
    {"map key type 9", "09 08 00 00 00 01", op([](auto& r) { return r.read_map_begin(); }), "Invalid field type",
     false},
    {"map value type 200", "08 C8 00 00 00 01", op([](auto& r) { return r.read_map_begin(); }),
     "Invalid field type", false},
    {"invalid UTF-8 in a string", "00 00 00 03 61 80 62", op([](auto& r) { return r.read_string(); }),
     "IO error: invalid utf-8 sequence of 1 bytes from index 1", false},
    {"string ends inside a sequence", "00 00 00 02 61 E2", op([](auto& r) { return r.read_string(); }),
     "IO error: incomplete utf-8 byte sequence from index 1", false},
    {"invalid UTF-8 in a message name", "80 01 00 01 00 00 00 01 FF 00 00 00 01",
     op([](auto& r) { return r.read_message_begin(); }), "IO error: invalid utf-8 sequence of 1 bytes from index 0",
     false},
};

TEST(BinaryProtocol, ReaderErrors) {
    for (const auto& c : kErrors) {
        SCOPED_TRACE(c.name);
        const Bytes in = hex(c.input);
        BinaryProtocolReader r(in);
        EXPECT_EQ(c.op(r), c.text);
        if (c.at_end) {
            EXPECT_EQ(r.position(), in.size());
        }
    }
}

TEST(BinaryProtocol, ContainerSizesAreReturnedAsRead) {
    // Negative sizes reach the caller unchanged; building a value from one is refused by
    // checked_size, while skipping treats it as empty.
    const Bytes r_in = hex("08 FF FF FF FE");
    BinaryProtocolReader r(r_in);
    const auto h = r.read_list_begin();
    ASSERT_TRUE(h.ok());
    EXPECT_EQ(h->size, -2);
    EXPECT_EQ(error_text(checked_size(h->size)), "IO error: Negative size: -2");
}

}  // namespace
}  // namespace velmora::protocol
