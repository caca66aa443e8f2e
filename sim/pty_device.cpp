#include "pty_device.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace velkantor::sim {

namespace {

[[noreturn]] void fail(int master, const char* what) {
    int error = errno;
    if (master >= 0) ::close(master);
    throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

PtyDevice::PtyDevice() {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fail(-1, "posix_openpt");
    if (::grantpt(fd) != 0) fail(fd, "grantpt");
    if (::unlockpt(fd) != 0) fail(fd, "unlockpt");
    char name[256];
    if (::ptsname_r(fd, name, sizeof name) != 0) fail(fd, "ptsname_r");

    // The pair shares one set of line settings, so the slave is made raw from here, before
    // the station opens it.
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) fail(fd, "tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) fail(fd, "tcsetattr");

    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) fail(fd, "fcntl");

    master_ = fd;
    slave_path_ = name;
}

PtyDevice::~PtyDevice() {
    if (master_ >= 0) ::close(master_);
}

}  // namespace velkantor::sim
