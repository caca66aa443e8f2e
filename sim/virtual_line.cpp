#include "virtual_line.h"

namespace velkantor::sim {

VirtualLine::VirtualLine(platform::MemorySerialPort& port, BoardModel& board,
                         const platform::VirtualClock& clock)
    : port_(port), board_(board), clock_(clock) {
    port_.on_write = [this](std::string_view bytes) {
        board_.receive(bytes, clock_.epoch_seconds());
    };
}

VirtualLine::~VirtualLine() {
    port_.on_write = nullptr;
}

void VirtualLine::pump() {
    std::string bytes = board_.advance_to(clock_.epoch_seconds());
    if (!bytes.empty()) port_.deliver(bytes);
}

void VirtualLine::set_connected(bool connected) {
    pump();
    board_.set_connected(connected);
}

}  // namespace velkantor::sim
