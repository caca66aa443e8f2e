// Serial bytes of any kind through the DATAQ DI194RS gathering and the sample chain.
// First byte: the channel rates (a row of the table below); the rest is the line.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/memory_station.h"

namespace {

using namespace velkantor;

// sps_index per channel of rate sets the instrument accepts: 1 to 4 channels, some
// decimated, some with a channel off below one that is on.
constexpr std::array<std::array<int16_t, 4>, 6> kRates = {{
    {18, 0, 0, 0},     // 240
    {16, 13, 0, 0},    // 120, 60
    {16, 0, 9, 0},     // 120, off, 20
    {14, 9, 5, 0},     // 80, 20, 2
    {13, 13, 13, 13},  // 60 x 4
    {0, 0, 0, 7},      // off, off, off, 10
}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    platform::MemoryStation rig;
    auto& station = rig.station;
    auto& port = rig.port;
    auto& clock = rig.clock;
    auto& settings = station.settings();
    settings.general.ad_type = config::kDataqDi194rs;
    const auto& rates = kRates[data[0] % kRates.size()];
    for (size_t c = 0; c < 4; ++c) settings.channels[c].sps_index = rates[c];
    if (!station.start()) __builtin_trap();
    station.pass();  // the start block
    if (!station.in_run()) __builtin_trap();
    port.deliver(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    // One byte per pass, and a pass for the time frame of each new second.
    for (size_t i = 0; i < 2 * size + 16 && port.bytes_waiting() > 3; ++i) {
        clock.advance(0.001);
        station.pass();
        if (!station.run().frame_buffer.empty()) __builtin_trap();
    }
    if (port.bytes_waiting() > 3) __builtin_trap();
    station.stop();
    while (station.in_run()) station.pass();
    return 0;
}
