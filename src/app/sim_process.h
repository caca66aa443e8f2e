#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velkantor::app {

// The board simulator as a child process on a pseudo-terminal.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts `program` with `args` and reads the device path it prints first. Empty text on
    // success, else why it failed.
    std::string start(const std::string& program, const std::vector<std::string>& args);
    // Ends the child (by its PID) and reaps it.
    void stop();

    const std::string& device() const { return device_; }

private:
    pid_t pid_ = -1;
    std::string device_;
};

// velkantor-sim next to this executable, else from the PATH.
std::string simulator_program();

}  // namespace velkantor::app
