// Unicode helpers of the schema front end: UTF-8 decoding and the few character properties the
// lexer and the debug renderings need.
#pragma once

#include <cstddef>
#include <string_view>

namespace velmora::unicode {

struct Decoded {
    char32_t code_point;  // U+FFFD when invalid
    std::size_t length;   // bytes taken; 1 for an invalid byte
    bool valid;
};

// Decodes the UTF-8 character starting at text[pos] (pos < text.size()). Overlong forms,
// surrogates and code points above U+10FFFF are invalid.
Decoded decode_utf8(std::string_view text, std::size_t pos) noexcept;

// Alphabetic (derived property) or numeric (general categories Nd, Nl, No).
bool is_alphanumeric(char32_t c) noexcept;

// The White_Space property (tab..CR, space, NEL, NBSP, U+1680, U+2000..U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000).
bool is_whitespace(char32_t c) noexcept;

// Whether a debug rendering writes the character as \u{hex}: control, format, surrogate,
// private-use, unassigned, line/paragraph separator, space separators other than U+0020, and
// grapheme-extending characters.
bool needs_debug_escape(char32_t c) noexcept;

}  // namespace velmora::unicode
