// Main-loop throughput: a recorded ZEDA18 stream (4 channels at 200 samples per second)
// pushed through Station::pass(), against the most frames a 115200-baud line can carry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <string>

#include "config/settings_file.h"
#include "sim/board_model.h"
#include "stream_run.h"

namespace {

using namespace velkantor;

constexpr double kSeconds = 20 * 60;
// 10 bits per byte on the line (start, 8 data, stop), 4 bytes per data frame.
constexpr double kLineFramesPerSecond = 115200.0 / 10 / 4;

// Twenty minutes of the board at 200 samples per second on every channel, with a quake
// every minute (an active swarm): the periodic work (a drum saved every 20 minutes, a
// spectrum picture every 10 frames) comes at the rate it comes at on a station.
std::string recorded_stream() {
    sim::BoardOptions options;
    options.pc_start = 0;
    options.board_start = {2026, 1, 1, 12, 0, 30, 0};
    options.noise_amplitude = 200;
    for (int q = 0; q < kSeconds / 60; ++q) {
        options.quakes.push_back({{2026, 1, 1, 12, q, 50, 0}, 8, 20000});
    }
    auto board = sim::make_board(options);
    board->receive(bench::zeda_start(1), 0);
    return board->advance_to(kSeconds);
}

void report(benchmark::State& state, double frames) {
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["x_115200_line"] =
        benchmark::Counter(frames / kLineFramesPerSecond, benchmark::Counter::kIsRate);
}

void BM_PassZeda18(benchmark::State& state) {
    static const std::string stream = recorded_stream();
    double frames = 0;
    for (auto _ : state) {
        auto count = bench::swallow_stream(state, stream, [](config::Settings& settings) {
            for (auto& channel : settings.channels) channel.sps_index = 17;
        });
        frames += count.data_frames + count.time_frames;
    }
    report(state, frames);
}
BENCHMARK(BM_PassZeda18)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The whole headless chain on the same stream: decoding, conditioning, the datalog, the
// detector with event files on every quake, drums and spectra on all four channels, with
// and without the spectrum pictures saved.
void BM_PassFullChain(benchmark::State& state) {
    static const std::string stream = recorded_stream();
    const auto save_mode = static_cast<int16_t>(state.range(0));
    auto everything = [save_mode](config::Settings& settings) {
        for (auto& channel : settings.channels) {
            channel.sps_index = 17;
            channel.datalog_enabled = 1;
            channel.record_enabled = 1;
            channel.drum_enabled = 1;
            channel.fft_enabled = 1;
            channel.fft_points = 1024;
            channel.fft_display_mode = 2;
            channel.fft_save_mode = save_mode;
            channel.fft_save_updating = 1;
            // STA/LTA as a station sets it: each quake starts an event with 30 s before it.
            channel.trigger_mode = 1;
            channel.start_params = "2000,2,1,1,30,3";
            channel.stop_params = "1800,1,2,5";
            config::DecodeStartParams(channel);
            config::DecodeStopParams(channel);
            config::UpdateDerivedCounts(channel);
        }
    };
    double frames = 0;
    for (auto _ : state) {
        auto count = bench::swallow_stream(state, stream, everything, true);
        frames += count.data_frames + count.time_frames;
    }
    report(state, frames);
}
// Argument: the spectra's save mode (0: drawn, never saved; 3: a picture every 10 frames).
BENCHMARK(BM_PassFullChain)
    ->Arg(0)
    ->Arg(3)
    ->ArgName("spectrum_saves")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
