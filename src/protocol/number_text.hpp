// Numbers as text: the shortest round-trip float printing of our JSON, and the decimal parsers
// used where JSON keys and strings carry numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::protocol {

// Shortest decimal text that reads back to the same double. Plain notation with at least one
// fractional digit for magnitudes in [1e-5, 1e16) and for zero (1.0, 0.0001, -0.0); otherwise
// scientific with a bare exponent (1e16, 1e-6, 1.5e-7). Non-finite values print as `null`.
void append_double(std::string& out, double value);
std::string format_double(double value);

// Decimal integer with an optional leading + or -, nothing else; nullopt on any fault or overflow.
std::optional<std::int64_t> parse_i64_text(std::string_view text) noexcept;
std::optional<std::int16_t> parse_i16_text(std::string_view text) noexcept;

// Decimal floating-point text with an optional sign: digits with an optional point and
// exponent (1, 1., .5, 2.5e-3), or inf, infinity, nan in any letter case. Too large a value
// gives an infinity and too small a zero. nullopt on any other text.
std::optional<double> parse_f64_text(std::string_view text) noexcept;

namespace detail {
// from_chars over text already known to match digits[.digits][e[sign]digits] (no sign in
// front), with overflow to infinity and underflow to zero resolved. `overflowed` is set when
// the magnitude was too large for a double.
double decimal_to_double(std::string_view body, bool negative, bool& overflowed) noexcept;
}  // namespace detail

}  // namespace velmora::protocol
