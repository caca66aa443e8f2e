#pragma once

#include <string>

namespace velkantor::sim {

// The board's end of a pseudo-terminal. The station opens the slave device as if it were
// a serial port; the simulator reads and writes the master. The line is raw (no echo, no
// line editing, no character translation), as a serial line carrying binary frames must be.
class PtyDevice {
public:
    // Throws std::system_error when no pseudo-terminal can be had.
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    int master_fd() const { return master_; }
    // The device the station opens, e.g. "/dev/pts/3".
    const std::string& slave_path() const { return slave_path_; }

private:
    int master_ = -1;
    std::string slave_path_;
};

}  // namespace velkantor::sim
