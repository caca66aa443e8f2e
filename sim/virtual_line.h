#pragma once

#include "board_model.h"
#include "platform/fake/memory_serial_port.h"
#include "platform/fake/virtual_clock.h"

namespace velkantor::sim {

// An in-memory serial cable between the station's port and a simulated board, on the
// tests' virtual clock. What the station writes reaches the board at once, stamped with
// the clock; what the board sends reaches the port when the host pumps the line.
//
// A virtual host runs the pair by moving the clock to the earliest of its own deadlines
// and next_send_time(), then calling pump(). Bytes that arrive while the port is closed
// are lost, as on a real line.
class VirtualLine {
public:
    VirtualLine(platform::MemorySerialPort& port, BoardModel& board,
                const platform::VirtualClock& clock);
    ~VirtualLine();
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    // Delivers into the port everything the board sent up to the clock's time.
    void pump();
    // PC time at which the next pump has something to deliver (+infinity: nothing to come
    // until the station writes). It may lie before the clock's time when bytes wait.
    double next_send_time() const { return board_.next_send_time(); }

    // Unplugs or replugs the cable now: what the board sent before goes through first, and
    // the board learns the time of the change.
    void set_connected(bool connected);

private:
    platform::MemorySerialPort& port_;
    BoardModel& board_;
    const platform::VirtualClock& clock_;
};

}  // namespace velkantor::sim
