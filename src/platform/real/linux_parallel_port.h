#pragma once

#include <map>

#include "platform/parallel_port.h"

namespace velkantor::platform {

// LPTn through the Linux parallel port driver: /dev/parport<n-1>, claimed on first use and
// held for the life of the program. A device that is missing or fails is opened again at the
// next operation, so a port that appears later is used.
class LinuxParallelPort : public ParallelPort {
public:
    LinuxParallelPort() = default;
    ~LinuxParallelPort() override;
    LinuxParallelPort(const LinuxParallelPort&) = delete;
    LinuxParallelPort& operator=(const LinuxParallelPort&) = delete;

    ParallelResult read_data(int lpt) override;
    ParallelResult write_data(int lpt, uint8_t value) override;

    static std::string device_for(int lpt);

private:
    // The claimed descriptor of the port, or -1 with `error` set.
    int claimed(int lpt, std::string& error);
    ParallelResult failed(int lpt, const char* what);

    std::map<int, int> fds_;
};

}  // namespace velkantor::platform
