#pragma once

#include <cstddef>

#include "acquisition/station.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/memory_serial_port.h"
#include "platform/fake/scripted_operator.h"
#include "platform/fake/still_host.h"
#include "platform/fake/virtual_clock.h"

namespace velkantor::platform {

// A loaded station on memory with nothing real underneath and time standing still: what
// fuzz targets and benchmarks feed bytes into. `buffer_size` is the port's receive buffer.
struct MemoryStation {
    explicit MemoryStation(size_t buffer_size = 32768,
                           text::DateTime start = {2026, 3, 1, 12, 0, 0, 0})
        : clock(start), port(buffer_size) {
        if (!station.load().empty()) __builtin_trap();
    }

    MemoryFileSystem fs;
    VirtualClock clock;
    MemorySerialPort port;
    ScriptedOperator op;
    StillHost host;
    acquisition::Station station{{fs, clock, port, op, host}, "/s"};
};

}  // namespace velkantor::platform
