// JSON protocol: the texts the writer prints, how the reader walks and converts documents, and
// the errors of both.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "protocol/json.hpp"
#include "test_util.hpp"

namespace velmora::protocol {
namespace {

using test::as_text;
using test::Bytes;
using test::error_text;
using test::text_bytes;
using test::to_hex;

struct WriteCase {
    const char* name;
    std::function<void(JSONProtocolWriter&)> write;
    const char* text;
};

// A top-level struct holding one field.
template <class F>
std::function<void(JSONProtocolWriter&)> one_field(std::uint8_t type, F value) {
    return [type, value](JSONProtocolWriter& w) {
        w.write_struct_begin();
        w.write_field_begin(type, 1);
        value(w);
        w.write_field_stop();
        EXPECT_TRUE(w.write_struct_end().ok());
    };
}

const std::uint8_t kBin[] = {0x00, 0xFF};

const WriteCase kWrites[] = {
    {"message", [](auto& w) {
         w.write_message_begin("ping", MessageType::CALL, 7);
         w.write_struct_begin();
         w.write_field_begin(TType::I32, 1);
         w.write_i32(5);
         w.write_field_stop();
         EXPECT_TRUE(w.write_message_end().ok());
     },
     R"([1,"ping",1,7,{"1":["i32",5]}])"},
    {"fields ordered by the text of their ids", [](auto& w) {
         w.write_struct_begin();
         w.write_field_begin(TType::I32, 2);
         w.write_i32(1);
         w.write_field_begin(TType::I32, 10);
         w.write_i32(2);
         w.write_field_begin(TType::I16, -3);
         w.write_i16(3);
         EXPECT_TRUE(w.write_struct_end().ok());
     },
     R"({"-3":["i16",3],"10":["i32",2],"2":["i32",1]})"},
    {"a field written twice keeps the last value", [](auto& w) {
         w.write_struct_begin();
         w.write_field_begin(TType::I32, 1);
         w.write_i32(1);
         w.write_field_begin(TType::I32, 1);
         w.write_i32(2);
         EXPECT_TRUE(w.write_struct_end().ok());
     },
     R"({"1":["i32",2]})"},
    {"a value without a field header is dropped", [](auto& w) {
         w.write_struct_begin();
         w.write_i32(1);
         EXPECT_TRUE(w.write_struct_end().ok());
     },
     "{}"},
    {"bool", one_field(TType::BOOL, [](auto& w) { w.write_bool(true); }), R"({"1":["tf",1]})"},
    {"byte", one_field(TType::BYTE, [](auto& w) { w.write_byte(-8); }), R"({"1":["i8",-8]})"},
    {"i16", one_field(TType::I16, [](auto& w) { w.write_i16(300); }), R"({"1":["i16",300]})"},
    {"i64 is a string", one_field(TType::I64, [](auto& w) { w.write_i64(-5); }), R"({"1":["i64","-5"]})"},
    {"double", one_field(TType::DOUBLE, [](auto& w) { w.write_double(2.5); }), R"({"1":["dbl",2.5]})"},
    {"NaN is 0", one_field(TType::DOUBLE, [](auto& w) { w.write_double(std::nan("")); }), R"({"1":["dbl",0]})"},
    {"-infinity is 0",
     one_field(TType::DOUBLE, [](auto& w) { w.write_double(-std::numeric_limits<double>::infinity()); }),
     R"({"1":["dbl",0]})"},
    {"string with escapes", one_field(TType::STRING, [](auto& w) { w.write_string("a\"\\\n\x01\xC3\xA9"); }),
     R"({"1":["str","a\"\\\n\u0001é"]})"},
    {"binary is Base64", one_field(TType::STRING, [](auto& w) { w.write_binary(kBin); }), R"({"1":["str","AP8="]})"},
    {"nested struct", one_field(TType::STRUCT, [](auto& w) {
         w.write_struct_begin();
         w.write_field_begin(TType::BOOL, 4);
         w.write_bool(false);
         w.write_field_stop();
         EXPECT_TRUE(w.write_struct_end().ok());
     }),
     R"({"1":["rec",{"4":["tf",0]}]})"},
    {"list of strings", [](auto& w) {
         w.write_list_begin(TType::STRING, 2);
         w.write_string("a");
         w.write_string("b");
         EXPECT_TRUE(w.write_list_end().ok());
     },
     R"(["str",2,"a","b"])"},
    {"set counts the elements written", one_field(TType::SET, [](auto& w) {
         w.write_list_begin(TType::I32, 5);
         w.write_i32(1);
         EXPECT_TRUE(w.write_list_end().ok());
     }),
     R"({"1":["set",["i32",1,1]]})"},
    {"map with an i32 key", one_field(TType::MAP, [](auto& w) {
         w.write_map_begin(TType::I32, TType::STRING, 1);
         w.write_i32(3);
         w.write_string("x");
         EXPECT_TRUE(w.write_map_end().ok());
     }),
     R"({"1":["map",["i32","str",1,{"3":"x"}]]})"},
    {"map with bool keys", [](auto& w) {
         w.write_map_begin(TType::BOOL, TType::I32, 2);
         w.write_bool(true);
         w.write_i32(1);
         w.write_bool(false);
         w.write_i32(2);
         EXPECT_TRUE(w.write_map_end().ok());
     },
     R"(["tf","i32",2,{"0":2,"1":1}])"},
    {"equal rendered keys collapse to the last", [](auto& w) {
         w.write_map_begin(TType::STRING, TType::I32, 2);
         w.write_string("k");
         w.write_i32(1);
         w.write_string("k");
         w.write_i32(2);
         EXPECT_TRUE(w.write_map_end().ok());
     },
     R"(["str","i32",1,{"k":2}])"},
    {"i64, double, binary and struct keys", [](auto& w) {
         w.write_map_begin(TType::STRUCT, TType::I32, 4);
         w.write_i64(-7);
         w.write_i32(1);
         w.write_double(1.0);
         w.write_i32(2);
         w.write_binary(kBin);
         w.write_i32(3);
         w.write_struct_begin();
         w.write_field_begin(TType::I32, 1);
         w.write_i32(9);
         EXPECT_TRUE(w.write_struct_end().ok());
         w.write_i32(4);
         EXPECT_TRUE(w.write_map_end().ok());
     },
     R"(["rec","i32",4,{"-7":1,"1.0":2,"AP8=":3,"{\"1\":[\"i32\",9]}":4}])"},
};

TEST(JSONProtocolWriter, PrintsTheLayout) {
    for (const auto& c : kWrites) {
        SCOPED_TRACE(c.name);
        Bytes out;
        JSONProtocolWriter w(out);
        c.write(w);
        EXPECT_EQ(as_text(out), c.text);
    }
}

TEST(JSONProtocolWriter, UnbalancedEndsFailWithStackUnderflow) {
    Bytes out;
    JSONProtocolWriter w(out);
    EXPECT_EQ(error_text(w.write_struct_end()), "IO error: stack underflow");
    EXPECT_EQ(error_text(w.write_list_end()), "IO error: stack underflow");
    EXPECT_EQ(error_text(w.write_map_end()), "IO error: stack underflow");
    EXPECT_EQ(error_text(w.write_message_end()), "IO error: stack underflow");
    w.write_message_begin("m", MessageType::CALL, 1);
    EXPECT_EQ(error_text(w.write_message_end()), "IO error: stack underflow");
    EXPECT_TRUE(out.empty());

    // Two frames of which the outer is not a message: both dropped, nothing printed.
    w.write_struct_begin();
    w.write_struct_begin();
    EXPECT_TRUE(w.write_message_end().ok());
    EXPECT_TRUE(out.empty());
}

struct ReadCase {
    const char* name;
    const char* input;
    std::function<void(JSONProtocolReader&)> read;
};

constexpr double kInf = std::numeric_limits<double>::infinity();

const ReadCase kReads[] = {
    {"message", R"([1,"ping",1,7,{"1":["i32",5]}])",
     [](auto& r) {
         EXPECT_EQ(*r.read_message_begin(), (MessageHeader{"ping", MessageType::CALL, 7}));
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::I32, 1}));
         EXPECT_EQ(*r.read_i32(), 5);
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::STOP, 0}));
     }},
    {"lenient message header", R"([9,2,-1,"x",[]])",
     [](auto& r) {
         EXPECT_EQ(*r.read_message_begin(), (MessageHeader{"", MessageType::CALL, 0}));
         EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::STOP, 0}));
     }},
    {"message type and sequence id keep their low bits", R"([1,"m",258,4294967297,{}])",
     [](auto& r) { EXPECT_EQ(*r.read_message_begin(), (MessageHeader{"m", 2, 1})); }},
    {"sequence id of 2^63 reads as 0", R"([1,"m",1,9223372036854775808,{}])",
     [](auto& r) { EXPECT_EQ(r.read_message_begin()->seq_id, 0); }},
    {"message array too short", R"([1,"m",1])",
     [](auto& r) { EXPECT_EQ(error_text(r.read_message_begin()), "IO error: JSON message array too short"); }},
    {"message that is not an array", "{}",
     [](auto& r) { EXPECT_EQ(error_text(r.read_message_begin()), "Invalid field type"); }},
    {"field ids from key text", R"({"-3":["i8",1],"+7":["i8",2],"40000":["i8",3],"abc":["i8",4]})",
     [](auto& r) {
         ASSERT_TRUE(r.read_struct_begin().ok());
         for (std::int16_t id : {7, -3, 0, 0}) {  // key order: "+7" "-3" "40000" "abc"
             EXPECT_EQ(r.read_field_begin()->id, id);
             EXPECT_TRUE(r.read_byte().ok());
         }
         EXPECT_EQ(r.read_field_begin()->type, TType::STOP);
         r.read_struct_end();
     }},
    {"field value that is an object", R"({"1":{"i32":5}})",
     [](auto& r) {
         ASSERT_TRUE(r.read_struct_begin().ok());
         EXPECT_EQ(error_text(r.read_field_begin()), "Invalid field type");
     }},
    {"field with the written-only name stop", R"({"1":["stop",0]})",
     [](auto& r) {
         ASSERT_TRUE(r.read_struct_begin().ok());
         EXPECT_EQ(error_text(r.read_field_begin()), "Invalid field type");
     }},
    {"struct that is not an object", "[]",
     [](auto& r) { EXPECT_EQ(error_text(r.read_struct_begin()), "Invalid field type"); }},
    {"the root is taken once", "{}",
     [](auto& r) {
         ASSERT_TRUE(r.read_struct_begin().ok());
         r.read_struct_end();
         EXPECT_EQ(error_text(r.read_struct_begin()), "Invalid field type");
     }},
    {"a value read twice", R"({"1":["i32",5]})",
     [](auto& r) {
         ASSERT_TRUE(r.read_struct_begin().ok());
         ASSERT_TRUE(r.read_field_begin().ok());
         EXPECT_EQ(*r.read_i32(), 5);
         EXPECT_EQ(error_text(r.read_i32()), "Invalid field type");
     }},
    {"list shorter than declared", R"(["i32",3,1,2])",
     [](auto& r) {
         EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::I32, 3}));
         EXPECT_EQ(r.reserve_hint(3), 2u);
         EXPECT_EQ(*r.read_i32(), 1);
         EXPECT_EQ(*r.read_i32(), 2);
         EXPECT_EQ(error_text(r.read_i32()), "Invalid field type");
     }},
    {"list header faults", R"(["lst",3,["i32"],["x",1],["set",1.5]])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         EXPECT_EQ(error_text(r.read_list_begin()), "Invalid field type");
         EXPECT_EQ(error_text(r.read_list_begin()), "Invalid field type");
         EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::SET, 0}));  // non-integer count reads as 0
     }},
    {"booleans", R"(["tf",9,2,-1,true,18446744073709551615,0.5,"1",0,false,null])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         for (bool expected : {true, true, true, true, false, false, false, false, false})
             EXPECT_EQ(*r.read_bool(), expected);
     }},
    {"small integers", R"(["i32",6,5.0,"5",4294967297,9223372036854775808,-129,300])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         EXPECT_EQ(*r.read_i32(), 0);
         EXPECT_EQ(*r.read_i32(), 0);
         EXPECT_EQ(*r.read_i32(), 1);
         EXPECT_EQ(*r.read_i32(), 0);
         EXPECT_EQ(*r.read_i16(), -129);
         EXPECT_EQ(*r.read_byte(), 44);
     }},
    {"i64", R"(["i64",6,"9007199254740993","-9223372036854775808","x","99999999999999999999",-5,1.0])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         EXPECT_EQ(*r.read_i64(), 9007199254740993LL);
         EXPECT_EQ(*r.read_i64(), std::numeric_limits<std::int64_t>::min());
         EXPECT_EQ(*r.read_i64(), 0);
         EXPECT_EQ(*r.read_i64(), 0);
         EXPECT_EQ(*r.read_i64(), -5);
         EXPECT_EQ(*r.read_i64(), 0);
     }},
    {"doubles", R"(["dbl",8,3,-2.5,"NaN","-Infinity","inf","+1e3","1e400","abc",true])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         EXPECT_EQ(*r.read_double(), 3.0);
         EXPECT_EQ(*r.read_double(), -2.5);
         EXPECT_TRUE(std::isnan(*r.read_double()));
         EXPECT_EQ(*r.read_double(), -kInf);
         EXPECT_EQ(*r.read_double(), kInf);
         EXPECT_EQ(*r.read_double(), 1000.0);
         EXPECT_EQ(*r.read_double(), kInf);
         EXPECT_EQ(*r.read_double(), 0.0);
         EXPECT_EQ(*r.read_double(), 0.0);
     }},
    {"strings and binaries", R"(["str",5,"h\u00e9",5,"AP8=",7,"AP8!"])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         EXPECT_EQ(*r.read_string(), "h\xC3\xA9");
         EXPECT_EQ(*r.read_string(), "");
         EXPECT_EQ(to_hex(*r.read_binary()), "00 FF");
         EXPECT_TRUE(r.read_binary()->empty());
         EXPECT_EQ(error_text(r.read_binary()), "IO error: Invalid symbol 33, offset 3.");
     }},
    {"map in key-text order", R"(["i32","str",2,{"3":"c","10":"a"}])",
     [](auto& r) {
         EXPECT_EQ(*r.read_map_begin(), (MapHeader{TType::I32, TType::STRING, 2}));
         EXPECT_EQ(*r.read_i32(), 10);
         EXPECT_EQ(*r.read_string(), "a");
         EXPECT_EQ(*r.read_i32(), 3);
         EXPECT_EQ(*r.read_string(), "c");
         EXPECT_EQ(error_text(r.read_i32()), "Invalid field type");
         r.read_map_end();
     }},
    {"map keys by key type", R"(["lst",4,["tf","i8",2,{"0":1,"true":2}],["i64","dbl",1,{"-5":"1.5"}],
        ["dbl","str",1,{"2.5":"x"}],["i16","i8",1,{"x":1}]])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         ASSERT_TRUE(r.read_map_begin().ok());
         EXPECT_FALSE(*r.read_bool());
         EXPECT_EQ(*r.read_byte(), 1);
         EXPECT_TRUE(*r.read_bool());
         EXPECT_EQ(*r.read_byte(), 2);
         r.read_map_end();
         ASSERT_TRUE(r.read_map_begin().ok());
         EXPECT_EQ(*r.read_i64(), -5);
         EXPECT_EQ(*r.read_double(), 1.5);
         r.read_map_end();
         ASSERT_TRUE(r.read_map_begin().ok());
         EXPECT_EQ(*r.read_double(), 2.5);
         EXPECT_EQ(*r.read_string(), "x");
         r.read_map_end();
         ASSERT_TRUE(r.read_map_begin().ok());
         EXPECT_EQ(*r.read_i16(), 0);
         r.read_map_end();
     }},
    {"map header faults", R"(["lst",3,["i32","str",1],["i32","bad",1,{}],["i32","str",1,[]]])",
     [](auto& r) {
         ASSERT_TRUE(r.read_list_begin().ok());
         for (int i = 0; i < 3; ++i) EXPECT_EQ(error_text(r.read_map_begin()), "Invalid field type");
     }},
    {"trailing characters", "{} x",
     [](auto& r) {
         EXPECT_EQ(error_text(r.read_struct_begin()), "IO error: trailing characters at line 1 column 4");
     }},
    {"empty input", "",
     [](auto& r) {
         EXPECT_EQ(error_text(r.read_message_begin()), "IO error: EOF while parsing a value at line 1 column 0");
     }},
    {"invalid UTF-8", "[\"\xFF\"]",
     [](auto& r) { EXPECT_EQ(error_text(r.read_message_begin()), "IO error: stream did not contain valid UTF-8"); }},
};

TEST(JSONProtocolReader, WalksAndConvertsDocuments) {
    for (const auto& c : kReads) {
        SCOPED_TRACE(c.name);
        const Bytes in = text_bytes(c.input);
        JSONProtocolReader r(in);
        c.read(r);
    }
}

TEST(JSONProtocolReader, NestingBeyond128IsRefusedWhileParsing) {
    std::string deep = std::string(129, '[') + std::string(129, ']');
    const Bytes r_in = text_bytes(deep);
    JSONProtocolReader r(r_in);
    const std::string text = error_text(r.read_message_begin());
    EXPECT_EQ(text.rfind("IO error: recursion limit exceeded at line 1 column", 0), 0u) << text;
}

}  // namespace
}  // namespace velmora::protocol
