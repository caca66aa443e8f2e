#include "text/strings.h"

#include <algorithm>

namespace velkantor::text {

namespace {

char lower_char(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char upper_char(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string_view trim(std::string_view text, std::string_view blanks) {
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string to_lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower_char);
    return out;
}

std::string to_upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), upper_char);
    return out;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return upper_char(x) == upper_char(y);
           });
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    for (;;) {
        size_t at = text.find(separator);
        pieces.emplace_back(trim(text.substr(0, at)));
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    return pieces;
}

std::vector<std::string> split_words(std::string_view line) {
    std::vector<std::string> words;
    for (;;) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos) break;
        line.remove_prefix(start);
        size_t end = line.find_first_of(" \t");
        words.emplace_back(line.substr(0, end));
        if (end == std::string_view::npos) break;
        line.remove_prefix(end);
    }
    return words;
}

}  // namespace velkantor::text
