// ProtocolError: the three display texts and the conversion into an I/O error.
#include <gtest/gtest.h>

#include "protocol/types.hpp"

namespace velmora::protocol {
namespace {

TEST(ProtocolError, TextsAndConversionToIoError) {
    struct Case {
        ProtocolError error;
        const char* text;
        IoError io;
    };
    const Case cases[] = {
        {ProtocolError::eof(), "IO error: failed to fill whole buffer",
         IoError{IoErrorKind::UnexpectedEof, "failed to fill whole buffer"}},
        {ProtocolError::io(IoErrorKind::Other, "stack underflow"), "IO error: stack underflow",
         IoError{IoErrorKind::Other, "stack underflow"}},
        {ProtocolError::invalid_type(7), "Invalid type: 7", IoError{IoErrorKind::InvalidData, "Invalid type: 7"}},
        {ProtocolError::invalid_type(255), "Invalid type: 255",
         IoError{IoErrorKind::InvalidData, "Invalid type: 255"}},
        {ProtocolError::invalid_field_type(), "Invalid field type",
         IoError{IoErrorKind::InvalidData, "Invalid field type"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.error.text(), c.text);
        EXPECT_EQ(c.error.to_io_error(), c.io);
        EXPECT_EQ(ProtocolError(c.error).to_io_error(), c.io);  // the moving overload
    }
}

TEST(ProtocolError, CheckedSizeRefusesNegativeSizes) {
    EXPECT_EQ(*checked_size(0), 0u);
    EXPECT_EQ(*checked_size(5), 5u);
    EXPECT_EQ(checked_size(-1).error().text(), "IO error: Negative size: -1");
    EXPECT_EQ(checked_size(-1).error().io_error().kind, IoErrorKind::InvalidData);
}

}  // namespace
}  // namespace velmora::protocol
