#include "web/json.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "text/date_time.h"

namespace velkantor::web {

namespace {

// Length of the valid UTF-8 sequence at `i`, 0 when there is none.
size_t utf8_length(std::string_view s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    if (n == 2 && c < 0xC2) return 0;  // overlong
    return n;
}

}  // namespace

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (size_t n = utf8_length(text, i); n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string json_number(double value) {
    if (!std::isfinite(value)) return "null";
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<int64_t>(value));
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string iso_time(double epoch_seconds) {
    text::DateTime t = text::from_epoch_seconds(std::floor(epoch_seconds));
    char out[96];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return out;
}

}  // namespace velkantor::web

namespace velkantor::web {
std::string url_segment(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}
}  // namespace velkantor::web
