// Big-endian loads and stores used by the Binary and Compact wire formats.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace velmora::protocol::detail {

template <class T>
inline T byteswap_if_little(T v) noexcept {
    static_assert(std::is_unsigned_v<T>);
    if constexpr (std::endian::native == std::endian::little) {
        if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(v));
        if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(v));
        if constexpr (sizeof(T) == 8) return static_cast<T>(__builtin_bswap64(v));
    }
    return v;
}

template <class T>
inline T load_be(const std::uint8_t* p) noexcept {
    T v;
    std::memcpy(&v, p, sizeof v);
    return byteswap_if_little(v);
}

template <class T>
inline void store_be(std::uint8_t* p, T v) noexcept {
    v = byteswap_if_little(v);
    std::memcpy(p, &v, sizeof v);
}

// Appends n bytes. resize + memcpy rather than insert: GCC 12 at -O3 reports a false
// -Wstringop-overflow for small fixed-size range inserts into an empty vector.
inline void append_bytes(std::vector<std::uint8_t>& out, const void* p, std::size_t n) {
    if (n == 0) return;
    const std::size_t old = out.size();
    out.resize(old + n);
    std::memcpy(out.data() + old, p, n);
}

// Any other output the writers can append to: push_back(byte) and append(pointer, n).
template <class Out>
inline void append_bytes(Out& out, const void* p, std::size_t n) {
    out.append(p, n);
}

}  // namespace velmora::protocol::detail
