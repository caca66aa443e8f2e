#include "web/url.h"

namespace velkantor::web {

std::optional<std::string> percent_decode(std::string_view text, bool plus_is_space) {
    std::string out;
    out.reserve(text.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+' && plus_is_space) {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            int hi = hex(text[i + 1]), lo = hex(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace velkantor::web
