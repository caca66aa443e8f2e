#pragma once

#include <cstdint>
#include <string>

namespace velkantor::platform {

// What a parallel-port operation gave: the data register's value, or why it failed.
struct ParallelResult {
    uint8_t value = 0;
    std::string error;  // empty: done
    explicit operator bool() const { return error.empty(); }
};

// The data registers of the parallel ports LPT1, LPT2, LPT3 (`lpt` 1..3). Bit 0 carries the
// watchdog pulse, bit 1 the hardware alarm; callers read, change one bit and write back.
class ParallelPort {
public:
    virtual ~ParallelPort() = default;
    virtual ParallelResult read_data(int lpt) = 0;
    virtual ParallelResult write_data(int lpt, uint8_t value) = 0;
};

}  // namespace velkantor::platform
