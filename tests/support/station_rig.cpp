#include "support/station_rig.h"

namespace velkantor::testing {

std::vector<std::string> StationRig::event_log_messages() const {
    std::vector<std::string> messages;
    for (const auto& text : split_lines(file("evtfile.dat"))) {
        // "YYYY/MM/DD HH:MM:SS " in front of every line but the cleared notice.
        messages.push_back(text.size() > 20 && text[4] == '/' ? text.substr(20) : text);
    }
    return messages;
}

}  // namespace velkantor::testing
