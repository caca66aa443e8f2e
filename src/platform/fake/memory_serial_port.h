#pragma once

#include <functional>
#include <string>

#include "platform/serial_port.h"

namespace velkantor::platform {

// The station's end of an in-memory serial link. The other end (a simulated board or a
// test) delivers bytes with deliver() and hears the station's writes through on_write.
class MemorySerialPort : public SerialPort {
public:
    explicit MemorySerialPort(size_t buffer_size = 32768) : capacity_(buffer_size) {}

    void set_port_number(int com_port) override { port_number_ = com_port; }
    void set_line_settings(std::string_view settings) override { line_settings_ = settings; }
    void set_input_length(int bytes) override { input_length_ = bytes; }
    void set_input_mode(InputMode mode) override { input_mode_ = mode; }
    void set_handshake_lines(bool dtr, bool rts) override { dtr_ = dtr, rts_ = rts; }

    OpenResult open() override;
    void close() override { open_ = false; }
    bool is_open() const override { return open_; }

    size_t bytes_waiting() override { return open_ ? waiting() : 0; }
    void discard_input() override {
        input_.clear();
        head_ = 0;
    }
    size_t buffer_size() const override { return capacity_; }
    std::string read() override;
    bool write(std::string_view bytes) override;

    // --- the other end ---
    // Bytes from the device; dropped when the port is closed, cut at the buffer's capacity.
    void deliver(std::string_view bytes);
    std::function<void(std::string_view)> on_write;
    // Writes fail (a device that stopped taking bytes).
    bool fail_writes = false;
    // The next open() fails with this error (none: opens).
    OpenResult next_open_result;

    int port_number() const { return port_number_; }
    const std::string& line_settings() const { return line_settings_; }
    int input_length() const { return input_length_; }
    InputMode input_mode() const { return input_mode_; }
    bool dtr() const { return dtr_; }
    bool rts() const { return rts_; }
    int open_count() const { return open_count_; }
    size_t overrun_bytes() const { return overrun_; }
    const std::string& written() const { return written_; }

private:
    size_t waiting() const { return input_.size() - head_; }

    size_t capacity_;
    // The bytes delivered and not yet read are input_[head_..].
    std::string input_;
    size_t head_ = 0;
    std::string written_;
    int port_number_ = 0;
    std::string line_settings_;
    int input_length_ = 1;
    InputMode input_mode_ = InputMode::binary;
    bool dtr_ = false;
    bool rts_ = false;
    bool open_ = false;
    int open_count_ = 0;
    size_t overrun_ = 0;
};

}  // namespace velkantor::platform
