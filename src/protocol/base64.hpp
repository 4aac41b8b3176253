// Base64 with the standard alphabet (A-Z a-z 0-9 + /) and required = padding.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace velmora::protocol {

struct Base64Error {
    std::string message;  // e.g. "Invalid symbol 33, offset 4."
    const std::string& text() const noexcept { return message; }
};

// Appends the padded encoding of `bytes` to `out`.
void base64_encode(std::span<const std::uint8_t> bytes, std::string& out);
std::string base64_encode(std::span<const std::uint8_t> bytes);

// Appends the decoded bytes to `out`. Refuses input whose length is not a multiple of four,
// symbols outside the alphabet, misplaced padding and non-zero bits after the last symbol.
// On failure `out` may hold a partial result.
Status<Base64Error> base64_decode(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace velmora::protocol
