#include "platform/real/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velkantor::platform {

namespace {

speed_t speed_of(long baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

}  // namespace

OpenResult PosixSerialPort::open() {
    if (fd_ >= 0) return {OpenError::busy, "Port already open"};
    device_ = map_.device_for(port_number_);
    if (device_.empty())
        return {OpenError::invalid_port, "no device for COM" + std::to_string(port_number_)};
    long baud = std::strtol(line_settings_.c_str(), nullptr, 10);
    speed_t speed = speed_of(baud);
    if (speed == B0) return {OpenError::other, "unsupported line settings " + line_settings_};

    int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        std::string text = device_ + ": " + std::strerror(error);
        if (error == ENOENT || error == ENXIO || error == ENODEV || error == ENOTDIR) {
            return {OpenError::invalid_port, text};
        }
        return {error == EBUSY ? OpenError::busy : OpenError::other, text};
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return {OpenError::invalid_port, device_ + ": not a serial device"};
    }
    // Two programs reading one board would each see half of its frames.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return {OpenError::busy, device_ + ": in use by another program"};
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        std::string text = device_ + ": " + std::strerror(errno);
        ::close(fd);
        return {OpenError::other, text};
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        std::string text = device_ + ": " + std::strerror(errno);
        ::close(fd);
        return {OpenError::other, text};
    }
    // Pseudo-terminals and some adapters have no modem lines: not an error.
    int lines = (dtr_ ? TIOCM_DTR : 0) | (rts_ ? TIOCM_RTS : 0);
    if (lines != 0) ::ioctl(fd, TIOCMBIS, &lines);
    ::tcflush(fd, TCIFLUSH);
    fd_ = fd;
    hung_up_ = false;
    clear_input();
    return {};
}

void PosixSerialPort::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    hung_up_ = false;
    clear_input();
}

void PosixSerialPort::fill() {
    if (fd_ < 0) return;
    char buffer[4096];
    while (waiting() < kBufferSize) {
        size_t room = kBufferSize - waiting();
        ssize_t n = ::read(fd_, buffer, room < sizeof buffer ? room : sizeof buffer);
        if (n > 0) {
            input_.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // A pseudo-terminal whose other side is going away answers EIO.
        if (n < 0 && errno == EIO) hung_up_ = true;
        return;
    }
}

int PosixSerialPort::wait_handle() const {
    if (fd_ < 0 || hung_up_) return -1;
    // A raw terminal answers "nothing waiting" with 0 bytes, and so does a hung-up one (a
    // pseudo-terminal whose other side has gone, an adapter pulled out), which then polls
    // readable for ever: slept on, it would wake the loop for nothing until the restart
    // reopens the port. Only the poll's hang-up flag tells them apart.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        hung_up_ = true;
        return -1;
    }
    return fd_;
}

size_t PosixSerialPort::bytes_waiting() {
    fill();
    return waiting();
}

void PosixSerialPort::discard_input() {
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
    clear_input();
}

std::string PosixSerialPort::read() {
    if (waiting() < static_cast<size_t>(input_length_)) fill();
    size_t n = std::min(waiting(), static_cast<size_t>(input_length_));
    std::string out = input_.substr(head_, n);
    head_ += n;
    // The frames are read a few bytes at a time: what was read is let go of now and then.
    if (head_ == input_.size()) {
        clear_input();
    } else if (head_ >= 4096 && head_ * 2 >= input_.size()) {
        input_.erase(0, head_);
        head_ = 0;
    }
    return out;
}

bool PosixSerialPort::write(std::string_view bytes) {
    if (fd_ < 0) return false;
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // The line is slower than we are: wait for room, but never hang on a dead device.
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 2000) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace velkantor::platform
