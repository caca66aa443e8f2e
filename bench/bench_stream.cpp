// miniSEED record building: four channels at 200 samples per second through the stream feed
// (Steim-2 packing with libmseed, the records handed on), against the most samples a
// 115200-baud line can carry.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "stream/stream_feed.h"
#include "text/date_time.h"

namespace {

using namespace velkantor;

constexpr int kRate = 200;
constexpr int kSeconds = 600;
// 10 bits per byte on the line (start, 8 data, stop), 4 bytes per sample frame.
constexpr double kLineSamplesPerSecond = 115200.0 / 10 / 4;

struct Count : stream::RecordSink {
    long records = 0;
    void record(const stream::MiniSeedRecord&) override { ++records; }
};

// Ten minutes of four channels: background noise with a quake every minute (large
// differences pack fewer samples per record, the costly case).
const std::vector<std::vector<int32_t>>& signal() {
    static const auto samples = [] {
        std::vector<std::vector<int32_t>> out(4, std::vector<int32_t>(kSeconds * kRate));
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0, 150);
        for (size_t ch = 0; ch < 4; ++ch) {
            for (size_t k = 0; k < out[ch].size(); ++k) {
                double t = static_cast<double>(k) / kRate;
                double in_minute = std::fmod(t, 60);
                double quake = in_minute > 40 && in_minute < 48
                                   ? 20000 * std::sin(t * 12) * std::exp(-(in_minute - 40) / 3)
                                   : 0;
                out[ch][k] = static_cast<int32_t>(noise(random) + quake);
            }
        }
        return out;
    }();
    return samples;
}

void BM_BuildRecords(benchmark::State& state) {
    const auto& samples = signal();
    config::Settings settings;
    const double start = text::to_epoch_seconds({2026, 1, 1, 12, 0, 0, 0});
    double fed = 0;
    long records = 0;
    for (auto _ : state) {
        Count count;
        {
            stream::StreamFeed feed({}, 5, settings);
            feed.add_output(&count);
            std::vector<int32_t> second(kRate);
            for (int s = 0; s < kSeconds; ++s) {
                for (int ch = 0; ch < 4; ++ch) {
                    auto from = samples[static_cast<size_t>(ch)].begin() + s * kRate;
                    second.assign(from, from + kRate);
                    feed.samples(ch, start + s, kRate, 'L', second, s > 0);
                }
            }
        }
        fed += 4.0 * kSeconds * kRate;
        records += count.records;
    }
    state.counters["samples_per_s"] = benchmark::Counter(fed, benchmark::Counter::kIsRate);
    state.counters["x_line"] =
        benchmark::Counter(fed / kLineSamplesPerSecond, benchmark::Counter::kIsRate);
    state.counters["samples_per_record"] = fed / static_cast<double>(std::max(1L, records));
}
BENCHMARK(BM_BuildRecords)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
