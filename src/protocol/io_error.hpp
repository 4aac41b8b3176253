// IoError: the kind-plus-message error shared by the protocols, the codec and the transports.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace velmora::protocol {

enum class IoErrorKind : std::uint8_t {
    UnexpectedEof,  // the input ended before a value was complete
    InvalidData,    // the bytes do not form what was expected
    InvalidInput,   // the caller asked for something that cannot be done
    Other,
};

struct IoError {
    IoErrorKind kind = IoErrorKind::Other;
    std::string message;

    // Display form: the message alone; callers add their own prefix.
    const std::string& text() const noexcept { return message; }

    friend bool operator==(const IoError&, const IoError&) = default;
};

// The one error every short read of an in-memory message produces.
inline constexpr const char* kEofMessage = "failed to fill whole buffer";

[[gnu::cold]] inline IoError make_io_error(IoErrorKind kind, std::string message) {
    return IoError{kind, std::move(message)};
}

}  // namespace velmora::protocol
