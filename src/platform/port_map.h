#pragma once

#include <map>
#include <string>
#include <string_view>

namespace velkantor::platform {

// Which device a COM port number names: `/dev/ttyS<n-1>` unless the station's
// `velkant.ports` says otherwise (lines such as "COM3=/dev/ttyUSB0"), or a device given
// for one run overrides them all.
struct PortMap {
    std::map<int, std::string> devices;
    std::string override_device;

    std::string device_for(int com_port) const;
    // Unreadable lines are skipped; "#" starts a comment.
    static PortMap parse(std::string_view text);
};

}  // namespace velkantor::platform
