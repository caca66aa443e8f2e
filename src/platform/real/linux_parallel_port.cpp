#include "platform/real/linux_parallel_port.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velkantor::platform {

LinuxParallelPort::~LinuxParallelPort() {
    for (auto [lpt, fd] : fds_) {
        ioctl(fd, PPRELEASE);
        ::close(fd);
    }
}

std::string LinuxParallelPort::device_for(int lpt) {
    return "/dev/parport" + std::to_string(lpt - 1);
}

int LinuxParallelPort::claimed(int lpt, std::string& error) {
    if (auto it = fds_.find(lpt); it != fds_.end()) return it->second;
    if (lpt < 1) {
        error = "LPT" + std::to_string(lpt) + " is no parallel port";
        return -1;
    }
    std::string device = device_for(lpt);
    int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = device + ": " + std::strerror(errno);
        return -1;
    }
    if (ioctl(fd, PPCLAIM) != 0) {
        error = device + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    fds_[lpt] = fd;
    return fd;
}

ParallelResult LinuxParallelPort::failed(int lpt, const char* what) {
    std::string text = device_for(lpt) + ": " + what + ": " + std::strerror(errno);
    if (auto it = fds_.find(lpt); it != fds_.end()) {
        ::close(it->second);
        fds_.erase(it);
    }
    return {0, text};
}

ParallelResult LinuxParallelPort::read_data(int lpt) {
    std::string error;
    int fd = claimed(lpt, error);
    if (fd < 0) return {0, error};
    unsigned char value = 0;
    if (ioctl(fd, PPRDATA, &value) != 0) return failed(lpt, "read");
    return {value, {}};
}

ParallelResult LinuxParallelPort::write_data(int lpt, uint8_t value) {
    std::string error;
    int fd = claimed(lpt, error);
    if (fd < 0) return {0, error};
    unsigned char byte = value;
    if (ioctl(fd, PPWDATA, &byte) != 0) return failed(lpt, "write");
    return {value, {}};
}

}  // namespace velkantor::platform
