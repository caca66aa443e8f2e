#include "platform/port_map.h"

#include "text/strings.h"

namespace velkantor::platform {

std::string PortMap::device_for(int com_port) const {
    if (!override_device.empty()) return override_device;
    auto it = devices.find(com_port);
    if (it != devices.end()) return it->second;
    if (com_port < 1) return {};
    return "/dev/ttyS" + std::to_string(com_port - 1);
}

PortMap PortMap::parse(std::string_view text) {
    PortMap map;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = text::trim(line.substr(0, line.find('#')));
        auto equals = line.find('=');
        if (equals == std::string_view::npos || equals < 4) continue;
        std::string_view key = text::trim(line.substr(0, equals));
        std::string_view device = text::trim(line.substr(equals + 1));
        if (key.size() < 4 || device.empty()) continue;
        if (!text::equal_ignoring_case(key.substr(0, 3), "COM")) continue;
        int number = 0;
        bool digits = true;
        for (char c : key.substr(3)) {
            if (c < '0' || c > '9' || number > 99) {
                digits = false;
                break;
            }
            number = number * 10 + (c - '0');
        }
        if (!digits || number < 1 || number > 16) continue;
        map.devices[number] = std::string(device);
    }
    return map;
}

}  // namespace velkantor::platform
