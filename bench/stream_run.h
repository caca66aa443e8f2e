// What the main-loop benchmarks share: the command that starts a simulated ZEDA board, and a
// station that swallows a recorded stream with only its passes timed.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <optional>
#include <string>

#include "app/station_displays.h"
#include "config/settings.h"
#include "display/displays.h"
#include "platform/real/qt_picture_codec.h"
#include "support/memory_station.h"

namespace velkantor::bench {

// Every channel at the rate of `code` (1: 200 samples per second).
inline std::string zeda_start(int code) {
    std::string s = "DUMMY";
    s += static_cast<char>(0x84);
    s += std::string(4, static_cast<char>(code));
    s += '\0';
    return s;
}

struct StreamCount {
    double data_frames = 0;
    double time_frames = 0;
};

// A fresh station, set up by `setup` (and drawing drums and spectra when `displays`), fed
// `stream` all at once; the time of its passes is what the benchmark measures.
inline StreamCount swallow_stream(benchmark::State& state, const std::string& stream,
                                  const std::function<void(config::Settings&)>& setup,
                                  bool displays = false) {
    state.PauseTiming();
    platform::MemoryStation rig(stream.size() + 16);
    auto& station = rig.station;
    station.settings().general.blind_start = 1;
    station.settings().general.datekeeping = 1;
    setup(station.settings());
    platform::QtPictureCodec codec;
    display::DisplayView no_windows;
    std::optional<display::Displays> shown;
    if (displays) shown.emplace(app::display_source(station), codec, no_windows);
    if (!station.start()) {
        state.SkipWithError("START was refused");
        state.ResumeTiming();
        return {};
    }
    station.pass();
    rig.port.deliver(stream);
    state.ResumeTiming();
    while (rig.port.bytes_waiting() > 3) station.pass();
    benchmark::DoNotOptimize(station.run().sample_value);
    return {static_cast<double>(station.run().data_frames),
            static_cast<double>(station.run().time_frames)};
}

}  // namespace velkantor::bench
