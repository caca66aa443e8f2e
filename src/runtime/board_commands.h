#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "runtime/run_errors.h"

namespace velkantor::runtime {

// The board's clock and memory, as the time keeping and the time windows ask for them. Each
// command is written to the board at once in the board's own form; a board without the
// command (an instrument without a clock) is sent nothing. A failed write is a StepFailure.
class BoardCommands {
public:
    virtual ~BoardCommands() = default;
    virtual void set_time(int hours, int minutes, int seconds) = 0;
    virtual void set_date(int year, int month, int day) = 0;
    // The board's time-zone correction (hours, the settings' `gmt_offset`).
    virtual void set_time_zone(int gmt_offset) = 0;
    virtual void write_trim(const std::array<uint8_t, 4>& record) = 0;
    // Asks for one byte of the board's memory; the reply comes as a memory-read frame.
    virtual void read_memory(int address) = 0;
};

}  // namespace velkantor::runtime
