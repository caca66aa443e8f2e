// Main-loop throughput: a recorded ZEDA18 stream (4 channels at 200 samples per second)
// pushed through Station::pass(), against the most frames a 115200-baud line can carry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <string>

#include "platform/fake/memory_station.h"
#include "acquisition/zeda_driver.h"
#include "config/settings_file.h"
#include "display/displays.h"
#include "platform/real/qt_picture_codec.h"
#include "sim/board_model.h"

namespace {

using namespace velkantor;

constexpr double kSeconds = 60;
// 10 bits per byte on the line (start, 8 data, stop), 4 bytes per data frame.
constexpr double kLineFramesPerSecond = 115200.0 / 10 / 4;

std::string recorded_stream() {
    sim::BoardOptions options;
    options.pc_start = 0;
    auto board = sim::make_board(options);
    std::string start = "DUMMY";
    start += static_cast<char>(0x84);
    start += std::string(4, static_cast<char>(1));  // code 1: 200 per second
    start += '\0';
    board->receive(start, 0);
    return board->advance_to(kSeconds);
}

void BM_PassZeda18(benchmark::State& state) {
    static const std::string stream = recorded_stream();
    double frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        platform::MemoryStation rig(stream.size() + 16);
        auto& station = rig.station;
        auto& port = rig.port;
        station.settings().general.blind_start = 1;
        station.settings().general.datekeeping = 1;
        for (auto& channel : station.settings().channels) channel.sps_index = 17;
        station.start();
        station.pass();
        port.deliver(stream);
        state.ResumeTiming();
        while (port.bytes_waiting() > 3) station.pass();
        benchmark::DoNotOptimize(station.run().sample_value);
        frames += station.run().data_frames + station.run().time_frames;
    }
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["x_115200_line"] =
        benchmark::Counter(frames / kLineFramesPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PassZeda18)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The whole headless chain on the same stream: decoding, conditioning, the datalog, the
// detector with event files, drums and spectra on all four channels.
void BM_PassFullChain(benchmark::State& state) {
    static const std::string stream = recorded_stream();
    double frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        platform::MemoryStation rig(stream.size() + 16);
        auto& station = rig.station;
        auto& port = rig.port;
        auto& settings = station.settings();
        settings.general.blind_start = 1;
        settings.general.datekeeping = 1;
        for (auto& channel : settings.channels) {
            channel.sps_index = 17;
            channel.datalog_enabled = 1;
            channel.record_enabled = 1;
            channel.drum_enabled = 1;
            channel.fft_enabled = 1;
            channel.fft_points = 1024;
            channel.fft_display_mode = 2;
            channel.fft_save_mode = 3;
            channel.fft_save_updating = 1;
            // A low threshold: events are written for much of the stream.
            channel.trigger_mode = 0;
            channel.start_params = "200,2,0.2,1,30,3";
            config::DecodeStartParams(channel);
            config::UpdateDerivedCounts(channel);
        }
        platform::QtPictureCodec codec;
        display::DisplayView no_windows;
        display::Displays displays(station, codec, no_windows);
        station.start();
        station.pass();
        port.deliver(stream);
        state.ResumeTiming();
        while (port.bytes_waiting() > 3) station.pass();
        benchmark::DoNotOptimize(station.run().sample_value);
        frames += station.run().data_frames + station.run().time_frames;
    }
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["x_115200_line"] =
        benchmark::Counter(frames / kLineFramesPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PassFullChain)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
