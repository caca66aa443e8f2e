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

std::vector<std::string> ViewerCommandWords(std::string_view setting) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < setting.size(); ++i) {
        char c = setting[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            auto end = setting.find('\'', i + 1);
            if (end == std::string_view::npos) return {};
            word.append(setting.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '"') {
            size_t j = i + 1;
            for (; j < setting.size() && setting[j] != '"'; ++j) {
                char d = setting[j];
                if (d == '\\' && j + 1 < setting.size()) {
                    char next = setting[j + 1];
                    if (next == '"' || next == '\\' || next == '$' || next == '`') {
                        word += next;
                        ++j;
                        continue;
                    }
                }
                word += d;
            }
            if (j >= setting.size()) return {};
            i = j;
        } else if (c == '\\') {
            if (i + 1 < setting.size()) word += setting[++i];
        } else {
            word += c;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

}  // namespace velkantor::events
