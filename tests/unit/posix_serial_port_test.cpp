// The real serial port on the device end of a pseudo-terminal, the test holding the board's
// end, reached through a symbolic link as a station reaches `velkantor-sim --link`.
#include "platform/real/posix_serial_port.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "sim/pty_device.h"

namespace velkantor {
namespace {

namespace fs = std::filesystem;

class PosixSerialPortOverPty : public ::testing::Test {
protected:
    fs::path folder;
    fs::path link;
    std::unique_ptr<sim::PtyDevice> board;
    std::unique_ptr<platform::PosixSerialPort> port;

    void SetUp() override {
        char pattern[] = "/tmp/velkantor-port-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        link = folder / "board";
        plug_new_board();
        platform::PortMap map;
        map.override_device = link.string();
        port = std::make_unique<platform::PosixSerialPort>(map);
        port->set_line_settings("38400,n,8,1");
        port->set_input_length(64);
    }
    void TearDown() override {
        port.reset();
        fs::remove_all(folder);
    }

    // A new board's device behind the same link, as a restarted simulator makes it.
    void plug_new_board() {
        board = std::make_unique<sim::PtyDevice>();
        fs::path aside = folder / "board.new";
        fs::create_symlink(board->slave_path(), aside);
        fs::rename(aside, link);
    }

    // What the port receives within a few seconds, until `expected` bytes have come.
    std::string receive(size_t expected) {
        std::string got;
        for (int waits = 0; waits < 50 && got.size() < expected; ++waits) {
            got += port->read();
            if (got.size() >= expected) break;
            pollfd p{port->wait_handle(), POLLIN, 0};
            if (p.fd < 0) break;
            ::poll(&p, 1, 100);
        }
        return got;
    }
};

TEST_F(PosixSerialPortOverPty, BytesPassBothWaysAndAQuietLineIsSleptOn) {
    ASSERT_TRUE(port->open());
    // Nothing sent yet: the line is quiet, not gone.
    EXPECT_EQ(port->bytes_waiting(), 0u);
    EXPECT_GE(port->wait_handle(), 0);
    pollfd quiet{port->wait_handle(), POLLIN, 0};
    EXPECT_EQ(::poll(&quiet, 1, 0), 0);

    ASSERT_EQ(::write(board->master_fd(), "\x81\x05\xF0", 3), 3);
    EXPECT_EQ(receive(3), "\x81\x05\xF0");
    EXPECT_GE(port->wait_handle(), 0);

    ASSERT_TRUE(port->write("DUMMY"));
    std::string heard;
    for (int waits = 0; waits < 50 && heard.size() < 5; ++waits) {
        pollfd p{board->master_fd(), POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[16];
        ssize_t n = ::read(board->master_fd(), buffer, sizeof buffer);
        if (n > 0) heard.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(heard, "DUMMY");
}

// A board end that goes away (a simulator killed, an adapter pulled out) leaves a device that
// reads nothing and polls readable for ever. The port must not offer it to sleep on, or the
// loop wakes for nothing until the restart; and the restart's close and open must reach the
// new device behind the same name.
TEST_F(PosixSerialPortOverPty, AHungUpDeviceIsNotSleptOnAndReopensOnItsNewDevice) {
    ASSERT_TRUE(port->open());
    ASSERT_GE(port->wait_handle(), 0);
    board.reset();

    EXPECT_EQ(port->bytes_waiting(), 0u);
    EXPECT_EQ(port->read(), "");
    EXPECT_EQ(port->wait_handle(), -1);
    EXPECT_TRUE(port->is_open());
    EXPECT_FALSE(port->write("DUMMY"));

    // The restart while no board is there: the name leads nowhere.
    port->close();
    EXPECT_EQ(port->open().error, platform::OpenError::invalid_port);
    EXPECT_FALSE(port->is_open());

    plug_new_board();
    ASSERT_TRUE(port->open());
    EXPECT_GE(port->wait_handle(), 0);
    ASSERT_EQ(::write(board->master_fd(), "\x82\x01\x02\xF0", 4), 4);
    EXPECT_EQ(receive(4), "\x82\x01\x02\xF0");
}

}  // namespace
}  // namespace velkantor
