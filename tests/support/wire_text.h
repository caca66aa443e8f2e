#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace velkantor::testing {

// Bytes as the port carries them, written as numbers: bytes({0xF5, 0x12, 0xF0}).
inline std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

// The CR LF-ended lines of a file the station writes; a last line without its CR LF is left
// out, as a reader of the file would not take it either.
inline std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

// Lines of a CR LF text file, the last one also when it has no CR LF.
inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) {
            lines.push_back(text.substr(begin));
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

}  // namespace velkantor::testing
