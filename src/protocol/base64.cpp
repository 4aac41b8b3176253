// Base64 encoder and strict decoder (standard alphabet, padded).
#include "protocol/base64.hpp"

#include <array>

namespace velmora::protocol {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> make_decode_table() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = kInvalid;
    for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i;
    return t;
}
constexpr auto kDecode = make_decode_table();

Base64Error symbol_error(const char* what, unsigned char byte, std::size_t offset) {
    return Base64Error{std::string(what) + " " + std::to_string(byte) + ", offset " + std::to_string(offset) + "."};
}

}  // namespace

void base64_encode(std::span<const std::uint8_t> bytes, std::string& out) {
    const std::size_t n = bytes.size();
    out.reserve(out.size() + (n + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (n - i == 1) {
        const std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
}

std::string base64_encode(std::span<const std::uint8_t> bytes) {
    std::string s;
    base64_encode(bytes, s);
    return s;
}

Status<Base64Error> base64_decode(std::string_view text, std::vector<std::uint8_t>& out) {
    const std::size_t n = text.size();
    if (n % 4 == 1) return Err{Base64Error{"Invalid input length"}};
    if (n % 4 != 0) return Err{Base64Error{"Invalid padding"}};
    std::size_t pad = 0;
    if (n >= 4 && text[n - 1] == '=') pad = (text[n - 2] == '=') ? 2 : 1;
    const std::size_t data_len = n - pad;
    out.reserve(out.size() + n / 4 * 3);
    std::uint32_t acc = 0;
    for (std::size_t i = 0; i < data_len; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::uint8_t v = kDecode[c];
        if (v == kInvalid) return Err{symbol_error("Invalid symbol", c, i)};
        acc = (acc << 6) | v;
        if (i % 4 == 3) {
            out.push_back(static_cast<std::uint8_t>(acc >> 16));
            out.push_back(static_cast<std::uint8_t>(acc >> 8));
            out.push_back(static_cast<std::uint8_t>(acc));
            acc = 0;
        }
    }
    if (pad == 2) {
        // One byte in two symbols: the low 4 bits of the second symbol must be zero.
        if (acc & 0x0F) return Err{symbol_error("Invalid last symbol", static_cast<unsigned char>(text[n - 3]), n - 3)};
        out.push_back(static_cast<std::uint8_t>(acc >> 4));
    } else if (pad == 1) {
        // Two bytes in three symbols: the low 2 bits of the third symbol must be zero.
        if (acc & 0x03) return Err{symbol_error("Invalid last symbol", static_cast<unsigned char>(text[n - 2]), n - 2)};
        out.push_back(static_cast<std::uint8_t>(acc >> 10));
        out.push_back(static_cast<std::uint8_t>(acc >> 2));
    }
    return Unit{};
}

}  // namespace velmora::protocol
