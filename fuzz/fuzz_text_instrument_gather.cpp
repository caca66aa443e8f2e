// Serial text of any kind through the INFILTEC and N.E. LX1500 gathering and the sample chain.
// First byte: the instrument (bit 0) and how far the PC clock moves per pass (bits 1 to 7,
// in steps of 5 ms; odd steps move it back a second now and then); the rest is the line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/memory_station.h"

using namespace velkantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Close to midnight, so that the reading second's day change is reached.
    platform::MemoryStation rig(32768, {2026, 3, 1, 23, 59, 58, 0});
    auto& station = rig.station;
    auto& port = rig.port;
    auto& clock = rig.clock;
    auto& settings = station.settings();
    settings.general.ad_type = (data[0] & 1) != 0 ? config::kLx1500 : config::kInfiltec;
    settings.channels[0].sps_index = 15;
    const int step = data[0] >> 1;
    if (!station.start()) __builtin_trap();
    station.pass();  // the start block
    if (!station.in_run()) __builtin_trap();
    port.deliver(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    // A pass reads up to 8 characters, or takes one reading already read, or gives a time
    // frame; a reading per byte and a time frame in most passes stay well inside this.
    for (size_t i = 0; i < 8 * size + 64 && port.bytes_waiting() > 3; ++i) {
        clock.advance(step * 0.005);
        if ((step & 1) != 0 && i % 97 == 0) clock.advance(-1);
        station.pass();
        // Frames are made whole in one pass and dispatched in it.
        if (!station.run().frame_buffer.empty()) __builtin_trap();
    }
    if (port.bytes_waiting() > 3) __builtin_trap();
    station.stop();
    while (station.in_run()) station.pass();
    return 0;
}
