// Helpers shared by the protocol tests: hex byte literals and error-text extraction.
#pragma once

#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/types.hpp"

namespace velmora::protocol::test {

using Bytes = std::vector<std::uint8_t>;

// "80 01 00 01" -> {0x80, 0x01, 0x00, 0x01}
inline Bytes hex(std::string_view text) {
    Bytes out;
    std::istringstream in{std::string(text)};
    std::string tok;
    while (in >> tok) out.push_back(static_cast<std::uint8_t>(std::stoul(tok, nullptr, 16)));
    return out;
}

inline std::string to_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (auto b : bytes) {
        if (!s.empty()) s += ' ';
        s += kHex[b >> 4];
        s += kHex[b & 15];
    }
    return s;
}

inline Bytes text_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string as_text(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// The display text of a failed result, or "ok" when it succeeded.
template <class R>
std::string error_text(const R& r) {
    return r.ok() ? std::string("ok") : r.error().text();
}

}  // namespace velmora::protocol::test
