// Shortest round-trip float printing and strict decimal parsing, on <charconv>.
#include "protocol/number_text.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace velmora::protocol {

void append_double(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (value == 0.0) {
        out += std::signbit(value) ? "-0.0" : "0.0";
        return;
    }
    // to_chars in scientific form gives the shortest round-trip digits: d[.ddd]e[+-]XX.
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    std::size_t i = 0;
    if (sci[0] == '-') {
        out += '-';
        i = 1;
    }
    const std::size_t e = sci.find('e');
    char digits[24];
    std::size_t n = 0;
    for (std::size_t k = i; k < e; ++k)
        if (sci[k] != '.') digits[n++] = sci[k];
    int exp = 0;
    std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+' ? 1 : 0), sci.data() + sci.size(), exp);

    if (exp >= -5 && exp < 16) {
        if (exp >= 0) {
            const auto int_len = static_cast<std::size_t>(exp) + 1;
            for (std::size_t k = 0; k < int_len; ++k) out += k < n ? digits[k] : '0';
            out += '.';
            if (n > int_len)
                out.append(digits + int_len, n - int_len);
            else
                out += '0';
        } else {
            out += "0.";
            out.append(static_cast<std::size_t>(-exp - 1), '0');
            out.append(digits, n);
        }
        return;
    }
    out += digits[0];
    if (n > 1) {
        out += '.';
        out.append(digits + 1, n - 1);
    }
    out += 'e';
    char eb[8];
    const auto er = std::to_chars(eb, eb + sizeof eb, exp);
    out.append(eb, er.ptr);
}

std::string format_double(double value) {
    std::string s;
    append_double(s, value);
    return s;
}

std::optional<std::int64_t> parse_i64_text(std::string_view text) noexcept {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t mag = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (mag > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return std::nullopt;
        mag = mag * 10 + d;
    }
    constexpr auto kMaxPos = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (mag > kMaxPos + 1) return std::nullopt;
        return static_cast<std::int64_t>(0 - mag);
    }
    if (mag > kMaxPos) return std::nullopt;
    return static_cast<std::int64_t>(mag);
}

std::optional<std::int16_t> parse_i16_text(std::string_view text) noexcept {
    const auto v = parse_i64_text(text);
    if (!v || *v < std::numeric_limits<std::int16_t>::min() || *v > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(*v);
}

namespace detail {

double decimal_to_double(std::string_view body, bool negative, bool& overflowed) noexcept {
    overflowed = false;
    double v = 0.0;
    const auto res = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Decide between overflow and underflow from the decimal exponent of the first
        // significant digit.
        long long mag = 0;
        std::size_t i = 0;
        long long int_digits = 0, lead_frac_zeros = 0;
        bool seen_nonzero = false;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
            if (body[i] != '0' || seen_nonzero) {
                seen_nonzero = true;
                ++int_digits;
            }
            ++i;
        }
        if (i < body.size() && body[i] == '.') {
            ++i;
            while (!seen_nonzero && i < body.size() && body[i] == '0') {
                ++lead_frac_zeros;
                ++i;
            }
            while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i;
        }
        long long exp = 0;
        if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
            ++i;
            bool eneg = false;
            if (i < body.size() && (body[i] == '+' || body[i] == '-')) eneg = body[i++] == '-';
            for (; i < body.size(); ++i) {
                if (exp < 1'000'000'000) exp = exp * 10 + (body[i] - '0');
            }
            if (eneg) exp = -exp;
        }
        mag = (int_digits > 0 ? int_digits - 1 : -(lead_frac_zeros + 1)) + exp;
        if (mag > 0) {
            overflowed = true;
            v = std::numeric_limits<double>::infinity();
        } else {
            v = 0.0;
        }
    }
    return negative ? -v : v;
}

}  // namespace detail

std::optional<double> parse_f64_text(std::string_view text) noexcept {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    auto iequals = [](std::string_view a, std::string_view lower) {
        if (a.size() != lower.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            char c = a[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != lower[i]) return false;
        }
        return true;
    };
    if (iequals(text, "inf") || iequals(text, "infinity"))
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    if (iequals(text, "nan")) return negative ? -std::numeric_limits<double>::quiet_NaN()
                                              : std::numeric_limits<double>::quiet_NaN();
    // digits [. digits] with at least one digit overall, then an optional exponent.
    std::size_t i = 0, digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++exp_digits;
        if (exp_digits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    bool overflowed = false;
    return detail::decimal_to_double(text, negative, overflowed);
}

}  // namespace velmora::protocol
