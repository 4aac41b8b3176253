// UTF-8 validation of string bytes read off the wire, with the position and kind of the first fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmora::protocol {

struct Utf8Error {
    std::size_t valid_up_to = 0;  // index of the first byte of the faulty sequence
    std::uint8_t error_len = 0;   // bytes of the invalid sequence; 0 = input ends inside a sequence

    std::string text() const {
        if (error_len == 0) return "incomplete utf-8 byte sequence from index " + std::to_string(valid_up_to);
        return "invalid utf-8 sequence of " + std::to_string(error_len) + " bytes from index " +
               std::to_string(valid_up_to);
    }
    friend bool operator==(const Utf8Error&, const Utf8Error&) = default;
};

namespace detail {

// Checks the multi-byte sequence at s[i]; returns its length or the error.
[[gnu::noinline]] inline std::optional<Utf8Error> check_utf8_tail(const std::uint8_t* s, std::size_t n,
                                                                  std::size_t i) noexcept {
    auto is_cont = [](std::uint8_t b) { return (b & 0xC0) == 0x80; };
    while (i < n) {
        const std::uint8_t first = s[i];
        if (first < 0x80) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        auto invalid = [&](std::uint8_t len) { return Utf8Error{start, len}; };
        auto incomplete = [&] { return Utf8Error{start, 0}; };
        if (first >= 0xC2 && first <= 0xDF) {
            if (i + 1 >= n) return incomplete();
            if (!is_cont(s[i + 1])) return invalid(1);
            i += 2;
        } else if (first >= 0xE0 && first <= 0xEF) {
            if (i + 1 >= n) return incomplete();
            const std::uint8_t b1 = s[i + 1];
            // Second-byte ranges exclude overlong forms (E0) and UTF-16 surrogates (ED).
            const bool ok = (first == 0xE0) ? (b1 >= 0xA0 && b1 <= 0xBF)
                            : (first == 0xED) ? (b1 >= 0x80 && b1 <= 0x9F)
                                              : is_cont(b1);
            if (!ok) return invalid(1);
            if (i + 2 >= n) return incomplete();
            if (!is_cont(s[i + 2])) return invalid(2);
            i += 3;
        } else if (first >= 0xF0 && first <= 0xF4) {
            if (i + 1 >= n) return incomplete();
            const std::uint8_t b1 = s[i + 1];
            // Overlong forms (F0) and code points above U+10FFFF (F4) are excluded here.
            const bool ok = (first == 0xF0) ? (b1 >= 0x90 && b1 <= 0xBF)
                            : (first == 0xF4) ? (b1 >= 0x80 && b1 <= 0x8F)
                                              : is_cont(b1);
            if (!ok) return invalid(1);
            if (i + 2 >= n) return incomplete();
            if (!is_cont(s[i + 2])) return invalid(2);
            if (i + 3 >= n) return incomplete();
            if (!is_cont(s[i + 3])) return invalid(3);
            i += 4;
        } else {
            return invalid(1);
        }
    }
    return std::nullopt;
}

}  // namespace detail

// nullopt when the bytes are valid UTF-8. ASCII runs are checked eight bytes at a time.
inline std::optional<Utf8Error> validate_utf8(std::span<const std::uint8_t> bytes) noexcept {
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s + i, 8);
        if (word & 0x8080808080808080ULL) break;
    }
    for (; i < n; ++i)
        if (s[i] & 0x80) return detail::check_utf8_tail(s, n, i);
    return std::nullopt;
}

inline std::optional<Utf8Error> validate_utf8(std::string_view text) noexcept {
    return validate_utf8(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace velmora::protocol
