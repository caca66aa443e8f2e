#pragma once

#include <string>

#include "platform/port_map.h"
#include "platform/serial_port.h"

namespace velkantor::platform {

// A serial device through termios. The receive buffer is ours, of fixed capacity: bytes are
// moved from the kernel into it whenever the count is asked, so the descriptor only polls
// readable when new bytes arrive.
class PosixSerialPort : public SerialPort {
public:
    static constexpr size_t kBufferSize = 32768;

    explicit PosixSerialPort(PortMap map) : map_(std::move(map)) {}
    ~PosixSerialPort() override { close(); }

    void set_port_number(int com_port) override { port_number_ = com_port; }
    void set_line_settings(std::string_view settings) override { line_settings_ = settings; }
    void set_input_length(int bytes) override { input_length_ = bytes < 1 ? 1 : bytes; }
    void set_input_mode(InputMode mode) override { input_mode_ = mode; }
    void set_handshake_lines(bool dtr, bool rts) override { dtr_ = dtr, rts_ = rts; }

    OpenResult open() override;
    void close() override;
    bool is_open() const override { return fd_ >= 0; }

    size_t bytes_waiting() override;
    void discard_input() override;
    size_t buffer_size() const override { return kBufferSize; }
    std::string read() override;
    bool write(std::string_view bytes) override;
    // -1 once the device has hung up: it stays so until the port is closed and reopened.
    int wait_handle() const override;

    const std::string& device() const { return device_; }

private:
    void fill();

    PortMap map_;
    int port_number_ = 1;
    std::string line_settings_ = "9600,n,8,1";
    int input_length_ = 1;
    InputMode input_mode_ = InputMode::binary;
    bool dtr_ = false;
    bool rts_ = false;
    int fd_ = -1;
    mutable bool hung_up_ = false;  // found by wait_handle() as well as by reading
    std::string device_;
    // The bytes read from the device and not yet taken are input_[head_..].
    std::string input_;
    size_t head_ = 0;
    size_t waiting() const { return input_.size() - head_; }
    void clear_input() {
        input_.clear();
        head_ = 0;
    }
};

}  // namespace velkantor::platform
