// InputCursor: the read position over a complete in-memory message, shared by the Binary and Compact readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/types.hpp"
#include "protocol/utf8.hpp"

namespace velmora::protocol {

class InputCursor {
public:
    explicit InputCursor(std::span<const std::uint8_t> input) noexcept
        : data_(input.data()), size_(input.size()) {}

    // The next n bytes, advancing past them; nullptr when fewer remain, in which case the
    // position moves to the end (every short read leaves it there).
    const std::uint8_t* take(std::size_t n) noexcept {
        if (n > size_ - pos_) [[unlikely]] {
            pos_ = size_;
            return nullptr;
        }
        const std::uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }

    // Direct access for decoders that look ahead (varints): the unread bytes and a way to
    // step over some of them.
    const std::uint8_t* peek() const noexcept { return data_ + pos_; }
    void advance(std::size_t n) noexcept { pos_ += n; }
    void move_to_end() noexcept { pos_ = size_; }

    std::size_t position() const noexcept { return pos_; }
    std::size_t remaining() const noexcept { return size_ - pos_; }

    // A length-prefixed byte run whose length has already been read. The length is checked
    // for sign and against the remaining input before any byte is used.
    ProtocolResult<std::span<const std::uint8_t>> take_bytes(std::int64_t length) {
        if (length < 0) [[unlikely]]
            return Err{negative_length_error(length)};
        const std::uint8_t* p = take(static_cast<std::size_t>(length));
        if (!p) [[unlikely]]
            return Err{ProtocolError::eof()};
        return std::span<const std::uint8_t>(p, static_cast<std::size_t>(length));
    }

    ProtocolResult<std::string_view> take_text(std::int64_t length) {
        auto bytes = take_bytes(length);
        if (!bytes) [[unlikely]]
            return Err{std::move(bytes).error()};
        if (auto bad = validate_utf8(*bytes)) [[unlikely]]
            return Err{utf8_error(*bad)};
        return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    }

    [[gnu::cold, gnu::noinline]] static ProtocolError utf8_error(const Utf8Error& e) {
        return ProtocolError::io(IoErrorKind::InvalidData, e.text());
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace velmora::protocol
