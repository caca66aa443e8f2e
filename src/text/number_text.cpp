#include "text/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace velkantor::text {

double round_half_even(double value) {
    if (!std::isfinite(value)) return value;
    return std::nearbyint(value);  // default rounding mode is to nearest, ties to even
}

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<double> leading_number(std::string_view text) {
    // Gather the number's characters, dropping blanks wherever they stand.
    std::string number;
    size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && is_blank(text[i])) ++i;
    };
    skip();
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
    bool digits = false;
    bool point = false;
    for (;;) {
        skip();
        if (i >= text.size()) break;
        char c = text[i];
        if (is_digit(c)) {
            number += c;
            digits = true;
            ++i;
        } else if (c == '.' && !point) {
            number += c;
            point = true;
            ++i;
        } else {
            break;
        }
    }
    if (!digits) return 0.0;
    skip();
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::string exponent = "e";
        size_t j = i + 1;
        while (j < text.size() && is_blank(text[j])) ++j;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        bool exp_digits = false;
        for (;;) {
            while (j < text.size() && is_blank(text[j])) ++j;
            if (j >= text.size() || !is_digit(text[j])) break;
            if (exponent.size() < 12) exponent += text[j];
            exp_digits = true;
            ++j;
        }
        if (exp_digits) number += exponent;
    }
    std::string_view view = number;
    if (!view.empty() && view.front() == '+') view.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow does not fit.
        if (view.find("e-") != std::string_view::npos) return 0.0;
        return std::nullopt;
    }
    if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value == 0 ? 0.0 : value;
}

std::optional<double> strict_number(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    if (text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    double value = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value == 0 ? 0.0 : value;
}

std::optional<int16_t> to_i16(double value) {
    double rounded = round_half_even(value);
    if (!std::isfinite(rounded) || rounded < -32768.0 || rounded > 32767.0) return std::nullopt;
    return static_cast<int16_t>(rounded);
}

std::optional<int16_t> leading_hex_i16(std::string_view text) {
    int64_t value = 0;
    bool any = false;
    for (char c : text) {
        if (is_blank(c)) continue;
        int digit = -1;
        if (is_digit(c))
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0) break;
        value = value * 16 + digit;
        any = true;
        if (value > 32767) return std::nullopt;
    }
    if (!any) return int16_t{0};
    return static_cast<int16_t>(value);
}

std::string shortest_real(double value) {
    if (value == 0) return "0";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

std::string ClampNumberText(std::string_view text, double lo, double hi) {
    double value = leading_number(text).value_or(0);
    if (!std::isfinite(value)) value = 0;
    return shortest_real(std::min(std::max(value, lo), hi));
}

std::string print_form(int64_t value) {
    std::string digits = std::to_string(value);
    return value >= 0 ? " " + digits + " " : digits + " ";
}

std::string print_form(double value) {
    std::string digits = shortest_real(value);
    return digits.front() == '-' ? digits + " " : " " + digits + " ";
}

std::string signed_form(int64_t value) {
    return value >= 0 ? " " + std::to_string(value) : std::to_string(value);
}

std::string zero_padded(int64_t value, int width) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    }
    return value < 0 ? "-" + digits : digits;
}

std::string hex2(unsigned value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out += kDigits[(value >> 4) & 0xF];
    out += kDigits[value & 0xF];
    return out;
}

}  // namespace velkantor::text
