#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velkantor::platform {

enum class InputMode { binary, text };

// Why an open failed. `invalid_port` is the device that does not exist or is not a serial
// device: the run turns it into "Comm Port not valid".
enum class OpenError { none, invalid_port, busy, other };

struct OpenResult {
    OpenError error = OpenError::none;
    std::string text;
    explicit operator bool() const { return error == OpenError::none; }
};

// The board's serial port. Reads and writes never wait. The port keeps a receive buffer of
// fixed capacity; bytes_waiting() is what one read can return at once.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Settings take effect at the next open.
    virtual void set_port_number(int com_port) = 0;                 // COM n, 1..16
    virtual void set_line_settings(std::string_view settings) = 0;  // "115200,n,8,1"
    virtual void set_input_length(int bytes) = 0;
    virtual void set_input_mode(InputMode mode) = 0;
    // DTR and RTS asserted while open; a device without these lines is not an error.
    virtual void set_handshake_lines(bool dtr, bool rts) = 0;

    virtual OpenResult open() = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;

    virtual size_t bytes_waiting() = 0;      // InBufferCount
    virtual void discard_input() = 0;        // InBufferCount = 0
    virtual size_t buffer_size() const = 0;  // InBufferSize
    // At most the input length; empty when nothing waits.
    virtual std::string read() = 0;
    // Bytes go out in order, unchanged. False when the port is closed or the write failed.
    virtual bool write(std::string_view bytes) = 0;

    // File descriptor to sleep on for incoming data; -1 when there is none (in-memory ports).
    virtual int wait_handle() const { return -1; }
};

}  // namespace velkantor::platform
