#include "app/console_operator.h"

#include <ostream>
#include <string>

namespace velkantor::app {

namespace {

// Message texts use CR LF between their lines; a terminal wants plain line ends.
std::string plain(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') out += c;
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace

void ConsoleOperator::message(std::string_view title, std::string_view text,
                              platform::MessageIcon) {
    out_ << "[" << plain(title) << "] " << plain(text) << std::endl;
}

bool ConsoleOperator::ask_yes_no(std::string_view title, std::string_view text, bool fallback) {
    out_ << "[" << plain(title) << "] " << plain(text) << " -> " << (fallback ? "Yes" : "No")
         << " (headless default)" << std::endl;
    return fallback;
}

void ConsoleOperator::warn(std::string_view text) {
    out_ << "[Warning!] " << plain(text) << std::endl;
}

std::string ConsoleOperator::input_text(std::string_view title, std::string_view prompt) {
    out_ << "[" << plain(title) << "] " << plain(prompt) << " -> (no input, headless)" << std::endl;
    return {};
}

void ConsoleErrorList::lines_changed(const std::deque<std::string>& lines) {
    if (!lines.empty()) out_ << "[Error List Report] " << lines.back() << std::endl;
}

}  // namespace velkantor::app
