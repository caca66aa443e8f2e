// Serial bytes of any kind through the ZEDA gathering and the sample chain.
// First byte: the board type; the rest is the line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/memory_station.h"

using namespace velkantor;

// A new station for every input: one kept across inputs carries what earlier inputs left
// (detector state, drum and datalog files, the run's counters), so a crash found here would
// not come again from its own input alone. The station costs more than the bytes under
// test; a finding that can be replayed is worth it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const int16_t kTypes[] = {config::kZeda10, config::kZeda18, config::kZeda20,
                                     config::kZeda30};
    platform::MemoryStation rig;
    auto& station = rig.station;
    auto& port = rig.port;
    auto& settings = station.settings();
    settings.general.ad_type = kTypes[data[0] % 4];
    settings.general.blind_start = 1;
    settings.general.datekeeping = 1;
    for (auto& channel : settings.channels) channel.sps_index = 15;
    if (!station.start()) return 0;
    station.pass();
    port.deliver(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    // Enough passes for every byte: at most four are taken per pass.
    for (size_t i = 0; i < size + 8; ++i) {
        station.pass();
        if (station.run().frame_buffer.size() > 32) __builtin_trap();
    }
    if (port.bytes_waiting() > 3) __builtin_trap();
    station.stop();
    while (station.in_run()) station.pass();
    return 0;
}
