// Behaviour the three protocols share, one test body per behaviour run over Binary, Compact and JSON.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "protocol/binary.hpp"
#include "protocol/compact.hpp"
#include "protocol/json.hpp"
#include "protocol/skip.hpp"
#include "test_util.hpp"

namespace velmora::protocol {
namespace {

using test::Bytes;
using test::error_text;
using test::to_hex;

template <class R, class W, bool Streaming>
struct Protocol {
    using Reader = R;
    using Writer = W;
    // Binary and Compact read as they go and report every short read as end of input; JSON
    // parses the whole input first.
    static constexpr bool kStreaming = Streaming;
};
using Binary = Protocol<BinaryProtocolReader, BinaryProtocolWriter, true>;
using Compact = Protocol<CompactProtocolReader, CompactProtocolWriter, true>;
using Json = Protocol<JSONProtocolReader, JSONProtocolWriter, false>;

struct ProtocolNames {
    template <class P>
    static std::string GetName(int) {
        if constexpr (std::is_same_v<P, Binary>) return "Binary";
        if constexpr (std::is_same_v<P, Compact>) return "Compact";
        return "JSON";
    }
};

constexpr std::uint8_t kBinaryValue[] = {0x00, 0xFF, 0x80};
constexpr auto kI32Min = std::numeric_limits<std::int32_t>::min();
constexpr auto kI64Max = std::numeric_limits<std::int64_t>::max();

// A message whose body holds one field of every kind, nested containers and a field id that
// needs the Compact long form.
template <class W>
Bytes write_sample() {
    Bytes out;
    W w(out);
    w.write_message_begin("call", MessageType::CALL, 42);
    w.write_struct_begin();
    w.write_field_begin(TType::BOOL, 1);
    w.write_bool(true);
    w.write_field_begin(TType::BOOL, 2);
    w.write_bool(false);
    w.write_field_begin(TType::BYTE, 3);
    w.write_byte(-128);
    w.write_field_begin(TType::I16, 4);
    w.write_i16(-32768);
    w.write_field_begin(TType::I32, 5);
    w.write_i32(kI32Min);
    w.write_field_begin(TType::I64, 6);
    w.write_i64(kI64Max);
    w.write_field_begin(TType::DOUBLE, 7);
    w.write_double(-0.1);
    w.write_field_begin(TType::STRING, 8);
    w.write_string("h\xC3\xA9llo\n\"x\"");
    w.write_field_begin(TType::STRING, 9);
    w.write_binary(kBinaryValue);
    w.write_field_begin(TType::STRUCT, 10);
    w.write_struct_begin();
    w.write_field_begin(TType::I32, 1);
    w.write_i32(7);
    w.write_field_begin(TType::BOOL, 2);
    w.write_bool(true);
    w.write_field_stop();
    EXPECT_TRUE(w.write_struct_end().ok());
    w.write_field_begin(TType::LIST, 11);
    w.write_list_begin(TType::I64, 3);
    for (std::int64_t v : {1LL, -1LL, 1LL << 40}) w.write_i64(v);
    EXPECT_TRUE(w.write_list_end().ok());
    w.write_field_begin(TType::SET, 12);
    w.write_list_begin(TType::STRING, 2);
    w.write_string("a");
    w.write_string("b");
    EXPECT_TRUE(w.write_list_end().ok());
    w.write_field_begin(TType::MAP, 13);
    w.write_map_begin(TType::I32, TType::LIST, 2);
    w.write_i32(-2);
    w.write_list_begin(TType::BOOL, 0);
    EXPECT_TRUE(w.write_list_end().ok());
    w.write_i32(1);
    w.write_list_begin(TType::BOOL, 2);
    w.write_bool(true);
    w.write_bool(false);
    EXPECT_TRUE(w.write_list_end().ok());
    EXPECT_TRUE(w.write_map_end().ok());
    w.write_field_begin(TType::LIST, 14);
    w.write_list_begin(TType::STRUCT, 2);
    w.write_struct_begin();
    w.write_field_stop();
    EXPECT_TRUE(w.write_struct_end().ok());
    w.write_struct_begin();
    w.write_field_begin(TType::BYTE, 1);
    w.write_byte(1);
    w.write_field_stop();
    EXPECT_TRUE(w.write_struct_end().ok());
    EXPECT_TRUE(w.write_list_end().ok());
    w.write_field_begin(TType::MAP, 15);
    w.write_map_begin(TType::STRING, TType::DOUBLE, 1);
    w.write_string("x");
    w.write_double(1.5);
    EXPECT_TRUE(w.write_map_end().ok());
    w.write_field_begin(TType::I16, 300);
    w.write_i16(7);
    w.write_field_stop();
    EXPECT_TRUE(w.write_message_end().ok());
    return out;
}

// Reads the sample back field by field, in whatever order the protocol delivers the fields.
template <class R>
void read_sample(R& r) {
    ASSERT_EQ(*r.read_message_begin(), (MessageHeader{"call", MessageType::CALL, 42}));
    int fields = 0;
    for (;;) {
        auto h = r.read_field_begin();
        ASSERT_TRUE(h.ok()) << h.error().text();
        if (h->type == TType::STOP) break;
        ++fields;
        SCOPED_TRACE(h->id);
        switch (h->id) {
            case 1: EXPECT_EQ(h->type, TType::BOOL); EXPECT_TRUE(*r.read_bool()); break;
            case 2: EXPECT_EQ(h->type, TType::BOOL); EXPECT_FALSE(*r.read_bool()); break;
            case 3: EXPECT_EQ(h->type, TType::BYTE); EXPECT_EQ(*r.read_byte(), -128); break;
            case 4: EXPECT_EQ(h->type, TType::I16); EXPECT_EQ(*r.read_i16(), -32768); break;
            case 5: EXPECT_EQ(h->type, TType::I32); EXPECT_EQ(*r.read_i32(), kI32Min); break;
            case 6: EXPECT_EQ(h->type, TType::I64); EXPECT_EQ(*r.read_i64(), kI64Max); break;
            case 7: EXPECT_EQ(h->type, TType::DOUBLE); EXPECT_EQ(*r.read_double(), -0.1); break;
            case 8: EXPECT_EQ(h->type, TType::STRING); EXPECT_EQ(*r.read_string(), "h\xC3\xA9llo\n\"x\""); break;
            case 9: EXPECT_EQ(h->type, TType::STRING); EXPECT_EQ(to_hex(*r.read_binary()), "00 FF 80"); break;
            case 10: {
                EXPECT_EQ(h->type, TType::STRUCT);
                ASSERT_TRUE(r.read_struct_begin().ok());
                EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::I32, 1}));
                EXPECT_EQ(*r.read_i32(), 7);
                EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BOOL, 2}));
                EXPECT_TRUE(*r.read_bool());
                EXPECT_EQ(r.read_field_begin()->type, TType::STOP);
                r.read_struct_end();
                break;
            }
            case 11: {
                EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::I64, 3}));
                for (std::int64_t v : {1LL, -1LL, 1LL << 40}) EXPECT_EQ(*r.read_i64(), v);
                r.read_list_end();
                break;
            }
            case 12: {
                EXPECT_EQ(h->type, TType::SET);
                EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::STRING, 2}));
                EXPECT_EQ(*r.read_string(), "a");
                EXPECT_EQ(*r.read_string(), "b");
                r.read_list_end();
                break;
            }
            case 13: {
                EXPECT_EQ(*r.read_map_begin(), (MapHeader{TType::I32, TType::LIST, 2}));
                // JSON hands entries over in key-text order: "-2" before "1", as written.
                EXPECT_EQ(*r.read_i32(), -2);
                EXPECT_EQ(r.read_list_begin()->size, 0);
                r.read_list_end();
                EXPECT_EQ(*r.read_i32(), 1);
                EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::BOOL, 2}));
                EXPECT_TRUE(*r.read_bool());
                EXPECT_FALSE(*r.read_bool());
                r.read_list_end();
                r.read_map_end();
                break;
            }
            case 14: {
                EXPECT_EQ(*r.read_list_begin(), (ListHeader{TType::STRUCT, 2}));
                ASSERT_TRUE(r.read_struct_begin().ok());
                EXPECT_EQ(r.read_field_begin()->type, TType::STOP);
                r.read_struct_end();
                ASSERT_TRUE(r.read_struct_begin().ok());
                EXPECT_EQ(*r.read_field_begin(), (FieldHeader{TType::BYTE, 1}));
                EXPECT_EQ(*r.read_byte(), 1);
                EXPECT_EQ(r.read_field_begin()->type, TType::STOP);
                r.read_struct_end();
                r.read_list_end();
                break;
            }
            case 15: {
                EXPECT_EQ(*r.read_map_begin(), (MapHeader{TType::STRING, TType::DOUBLE, 1}));
                EXPECT_EQ(*r.read_string(), "x");
                EXPECT_EQ(*r.read_double(), 1.5);
                r.read_map_end();
                break;
            }
            case 300: EXPECT_EQ(h->type, TType::I16); EXPECT_EQ(*r.read_i16(), 7); break;
            default: ADD_FAILURE() << "unexpected field " << h->id;
        }
    }
    EXPECT_EQ(fields, 16);
    EXPECT_EQ(r.nesting_depth(), 0);
}

template <class P>
class ProtocolConformance : public ::testing::Test {};
using AllProtocols = ::testing::Types<Binary, Compact, Json>;
TYPED_TEST_SUITE(ProtocolConformance, AllProtocols, ProtocolNames);

TYPED_TEST(ProtocolConformance, EveryElementRoundTrips) {
    const Bytes bytes = write_sample<typename TypeParam::Writer>();
    typename TypeParam::Reader r(bytes);
    read_sample(r);
    if (TypeParam::kStreaming) {
        EXPECT_EQ(r.position(), bytes.size());
    }
}

TYPED_TEST(ProtocolConformance, SkipPassesOverAWholeMessage) {
    const Bytes bytes = write_sample<typename TypeParam::Writer>();
    typename TypeParam::Reader r(bytes);
    ASSERT_TRUE(r.read_message_begin().ok());
    const auto skipped = skip_fields(r);
    EXPECT_TRUE(skipped.ok()) << error_text(skipped);
    EXPECT_EQ(r.nesting_depth(), 0);
    if (TypeParam::kStreaming) {
        EXPECT_EQ(r.position(), bytes.size());
    }
}

TYPED_TEST(ProtocolConformance, EveryTruncationFailsAsEndOfInput) {
    const Bytes bytes = write_sample<typename TypeParam::Writer>();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        SCOPED_TRACE(n);
        const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        typename TypeParam::Reader r(prefix);
        auto header = r.read_message_begin();
        const std::string text = header.ok() ? error_text(skip_fields(r)) : error_text(header);
        if constexpr (TypeParam::kStreaming) {
            EXPECT_EQ(text, "IO error: failed to fill whole buffer");
            EXPECT_EQ(r.position(), n);
        } else {
            // The whole text is parsed first; a cut through "é" is caught by the UTF-8 check.
            EXPECT_TRUE(text.rfind("IO error: EOF while parsing ", 0) == 0 ||
                        text == "IO error: stream did not contain valid UTF-8")
                << text;
        }
    }
}

// Writes `levels` nested containers as field 1 of a message body, alternating lists and
// structs, the innermost an empty list.
template <class W>
void write_level(W& w, int level, int levels) {
    if (level == levels) {
        w.write_list_begin(TType::I32, 0);
        EXPECT_TRUE(w.write_list_end().ok());
        return;
    }
    const std::uint8_t inner = (level + 1 == levels || (level + 1) % 2 == 1) ? TType::LIST : TType::STRUCT;
    if (level % 2 == 0) {
        w.write_struct_begin();
        w.write_field_begin(inner, 1);
        write_level(w, level + 1, levels);
        w.write_field_stop();
        EXPECT_TRUE(w.write_struct_end().ok());
    } else {
        w.write_list_begin(inner, 1);
        write_level(w, level + 1, levels);
        EXPECT_TRUE(w.write_list_end().ok());
    }
}

template <class W>
Bytes write_nested(int levels) {
    Bytes out;
    W w(out);
    w.write_message_begin("deep", MessageType::CALL, 1);
    w.write_struct_begin();
    w.write_field_begin(TType::LIST, 1);
    write_level(w, 1, levels);
    w.write_field_stop();
    EXPECT_TRUE(w.write_message_end().ok());
    return out;
}

TYPED_TEST(ProtocolConformance, NestingBeyond64LevelsIsRefused) {
    for (int levels : {kMaxNestingDepth, kMaxNestingDepth + 1}) {
        SCOPED_TRACE(levels);
        const Bytes bytes = write_nested<typename TypeParam::Writer>(levels);
        typename TypeParam::Reader r(bytes);
        ASSERT_TRUE(r.read_message_begin().ok());
        const auto skipped = skip_fields(r);
        if (levels <= kMaxNestingDepth) {
            EXPECT_TRUE(skipped.ok()) << error_text(skipped);
        } else {
            EXPECT_EQ(error_text(skipped), "IO error: Nesting depth exceeds 64");
        }
    }
}

// Binary and Compact only: headers whose sizes the elements that follow do not back.
template <class P>
class StreamingReaders : public ::testing::Test {};
using StreamingProtocols = ::testing::Types<Binary, Compact>;
TYPED_TEST_SUITE(StreamingReaders, StreamingProtocols, ProtocolNames);

template <class W, class F>
Bytes write_with(F f) {
    Bytes out;
    W w(out);
    f(w);
    return out;
}

TYPED_TEST(StreamingReaders, ReservationIsBoundedByTheRemainingInput) {
    const Bytes bytes = write_with<typename TypeParam::Writer>([](auto& w) {
        w.write_list_begin(TType::I32, std::numeric_limits<std::int32_t>::max());
        w.write_i32(1);
    });
    typename TypeParam::Reader r(bytes);
    const auto h = r.read_list_begin();
    ASSERT_TRUE(h.ok());
    EXPECT_EQ(h->size, std::numeric_limits<std::int32_t>::max());
    EXPECT_LE(r.reserve_hint(h->size), bytes.size());
    EXPECT_EQ(r.reserve_hint(-1), 0u);
    EXPECT_EQ(*r.read_i32(), 1);
    EXPECT_EQ(error_text(r.read_i32()), "IO error: failed to fill whole buffer");
}

TYPED_TEST(StreamingReaders, SkipTreatsNegativeSizesAsEmpty) {
    const Bytes bytes = write_with<typename TypeParam::Writer>([](auto& w) {
        w.write_field_begin(TType::LIST, 1);
        w.write_list_begin(TType::I32, -5);
        w.write_field_begin(TType::MAP, 2);
        w.write_map_begin(TType::I32, TType::I32, -1);
        w.write_field_stop();
    });
    typename TypeParam::Reader r(bytes);
    EXPECT_TRUE(skip_fields(r).ok());
    EXPECT_EQ(r.position(), bytes.size());
}

TYPED_TEST(StreamingReaders, SkipDoesNotLoopOverElementsThatReadNothing) {
    // A list of 2^31 - 1 STOP elements and a map of as many STOP -> STOP entries carry no
    // bytes; skipping them must not spin through the count.
    const Bytes bytes = write_with<typename TypeParam::Writer>([](auto& w) {
        w.write_field_begin(TType::LIST, 1);
        w.write_list_begin(TType::STOP, std::numeric_limits<std::int32_t>::max());
        w.write_field_begin(TType::MAP, 2);
        w.write_map_begin(TType::STOP, TType::STOP, std::numeric_limits<std::int32_t>::max());
        w.write_field_stop();
    });
    typename TypeParam::Reader r(bytes);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(skip_fields(r).ok());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace velmora::protocol
