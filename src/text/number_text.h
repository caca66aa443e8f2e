#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Number forms of the station's text files and windows.
namespace velkantor::text {

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double round_half_even(double value);

// Leading-number parse: blanks are skipped anywhere, then an optional sign, digits, one
// decimal point and an exponent; the first other character ends the number. Text that
// holds no number gives 0. Returns nullopt only when the number does not fit a double.
std::optional<double> leading_number(std::string_view text);

// Strict conversion of the whole text (surrounding blanks allowed): nullopt unless the
// text is exactly one finite decimal number.
std::optional<double> strict_number(std::string_view text);

// Conversion to a 16-bit integer with half-even rounding; nullopt when out of range.
std::optional<int16_t> to_i16(double value);

// Hexadecimal value of the leading hex digits (blanks skipped); nullopt when it does not
// fit a 16-bit integer.
std::optional<int16_t> leading_hex_i16(std::string_view text);

// Shortest decimal text that reads back as the same double, "." as separator; -0 is "0".
std::string shortest_real(double value);

// `ClampNumberText`: the leading number of a text field (0 when it has none) clamped to
// lo..hi and written back as a plain decimal ("0.5", not ".5").
std::string ClampNumberText(std::string_view text, double lo, double hi);

// Print-statement form: a blank in place of the sign of a non-negative number, the
// number, and one trailing blank (4 -> " 4 ", -1 -> "-1 ").
std::string print_form(int64_t value);
std::string print_form(double value);

// Signed form without trailing blank (" 4", "-1"): sample lines and counters.
std::string signed_form(int64_t value);

// Fixed-width decimal with leading zeros ("0000" picture).
std::string zero_padded(int64_t value, int width);

// Two upper-case hexadecimal digits of a byte.
std::string hex2(unsigned value);

}  // namespace velkantor::text
