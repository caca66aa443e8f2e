#include "support/station_rig.h"

namespace velkantor::testing {

std::vector<std::string> split_lines(const std::string& text) {
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

std::vector<std::string> StationRig::event_log_messages() const {
    std::vector<std::string> messages;
    for (const auto& text : split_lines(file("evtfile.dat"))) {
        // "YYYY/MM/DD HH:MM:SS " in front of every line but the cleared notice.
        messages.push_back(text.size() > 20 && text[4] == '/' ? text.substr(20) : text);
    }
    return messages;
}

}  // namespace velkantor::testing
