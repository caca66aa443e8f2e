#include "events/event_list_rules.h"

namespace velkantor::events {

namespace {

// "YYYY/MM/DD HH:MM:SS" and a blank.
constexpr size_t kStampLength = 20;

}  // namespace

std::vector<std::string> EventLogLines(std::string_view file_text) {
    std::vector<std::string> lines;
    while (!file_text.empty()) {
        size_t end = file_text.find('\n');
        std::string_view line = file_text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        file_text.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<std::string> EventFileName(std::string_view entry) {
    if (entry.size() <= kStampLength) return std::nullopt;
    std::string_view message = entry.substr(kStampLength);
    size_t blank = message.find(' ');
    if (blank == std::string_view::npos || message.find('.') == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view name = message.substr(0, blank);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(name);
}

}  // namespace velkantor::events
