#include "platform/port_map.h"

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
    auto trim = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
            s.remove_suffix(1);
        }
        return s;
    };
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = trim(line.substr(0, line.find('#')));
        auto equals = line.find('=');
        if (equals == std::string_view::npos || equals < 4) continue;
        std::string_view key = trim(line.substr(0, equals));
        std::string_view device = trim(line.substr(equals + 1));
        if (key.size() < 4 || device.empty()) continue;
        auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
        if (upper(key[0]) != 'C' || upper(key[1]) != 'O' || upper(key[2]) != 'M') continue;
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
