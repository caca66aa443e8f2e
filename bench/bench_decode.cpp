// Decoding throughput of each interface family: a stream recorded from the simulated board
// pushed through Station::pass(), as a ratio to the most samples the family's serial line
// (its baud rate, 10 bits per byte) can carry with that stream's bytes per sample.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "sim/board_model.h"
#include "stream_run.h"

namespace {

using namespace velkantor;

struct Family {
    const char* model;
    int16_t ad_type;
    int16_t sps_index;
    std::string start;  // what starts the simulated board
    double baud;
};

using bench::zeda_start;

const Family kFamilies[] = {
    {"ZEDA10", config::kZeda10, 17, zeda_start(1), 115200},
    {"ZEDA18", config::kZeda18, 17, zeda_start(1), 115200},
    {"ZEDA20", config::kZeda20, 17, zeda_start(1), 115200},
    {"INFILTEC", config::kInfiltec, 7, "", 9600},
    {"LX1500", config::kLx1500, 12, "G0T1", 19200},
    {"DATAQ", config::kDataqDi194rs, 13, std::string("\0C?\0S1", 6), 4800},
};

void BM_Decode(benchmark::State& state, const Family& family) {
    constexpr double kSeconds = 30;
    sim::BoardOptions options;
    options.model = family.model;
    auto board = sim::make_board(options);
    board->receive(family.start, 0);
    size_t samples_sent = 0;
    board->sample_listener = [&](int, double, int32_t) { ++samples_sent; };
    const std::string stream = board->advance_to(kSeconds);
    double bytes_per_sample =
        static_cast<double>(stream.size()) / std::max<size_t>(1, samples_sent);
    double line_samples_per_second = family.baud / 10 / bytes_per_sample;

    double samples = 0;
    for (auto _ : state) {
        samples += bench::swallow_stream(state, stream, [&](config::Settings& settings) {
                       settings.general.ad_type = family.ad_type;
                       for (auto& channel : settings.channels) channel.sps_index = family.sps_index;
                   }).data_frames;
    }
    state.counters["samples_per_s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["x_line"] =
        benchmark::Counter(samples / line_samples_per_second, benchmark::Counter::kIsRate);
}

int registered = [] {
    for (const auto& family : kFamilies) {
        benchmark::RegisterBenchmark((std::string("BM_Decode/") + family.model).c_str(),
                                     [&family](benchmark::State& s) { BM_Decode(s, family); })
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
