// Serving SeedLink packets: ten minutes of records of four channels at 200 samples per second
// (built once by the stream feed) put into the ring one by one, each handed to 16 clients in
// real-time transfer (their sessions pump and the packets are taken, as the service thread
// does before writing), against the most samples a 115200-baud line can carry.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "stream/seedlink_session.h"
#include "stream/stream_feed.h"
#include "text/date_time.h"

namespace {

using namespace velkantor;

constexpr int kRate = 200;
constexpr int kSeconds = 600;
constexpr int kClients = 16;
constexpr double kLineSamplesPerSecond = 115200.0 / 10 / 4;

struct Keep : stream::RecordSink {
    std::vector<stream::MiniSeedRecord> records;
    void record(const stream::MiniSeedRecord& r) override { records.push_back(r); }
};

// Noise with a quake every minute: the records a busy station makes.
const std::vector<stream::MiniSeedRecord>& records() {
    static const auto kept = [] {
        Keep keep;
        config::Settings settings;
        const double start = text::to_epoch_seconds({2026, 1, 1, 12, 0, 0, 0});
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0, 150);
        {
            stream::StreamFeed feed({}, 5, settings);
            feed.add_output(&keep);
            std::vector<int32_t> second(kRate);
            for (int s = 0; s < kSeconds; ++s) {
                for (int ch = 0; ch < 4; ++ch) {
                    for (int k = 0; k < kRate; ++k) {
                        double t = s + static_cast<double>(k) / kRate;
                        double in_minute = std::fmod(t, 60);
                        double quake =
                            in_minute > 40 && in_minute < 48
                                ? 20000 * std::sin(t * 12) * std::exp(-(in_minute - 40) / 3)
                                : 0;
                        second[static_cast<size_t>(k)] =
                            static_cast<int32_t>(noise(random) + quake);
                    }
                    feed.samples(ch, start + s, kRate, 'L', second, s > 0);
                }
            }
        }
        return keep.records;
    }();
    return kept;
}

void BM_ServeRecords(benchmark::State& state) {
    const auto& input = records();
    double samples_per_pass = 0;
    for (const auto& r : input) samples_per_pass += r.samples;
    stream::SeedLinkIdentity identity{"XX", "VELK", "Bench", "VELKANTOR", 0};
    double fed = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        stream::RecordRing ring(0, 3600LL * 1000000, size_t{128} << 20);
        std::vector<std::unique_ptr<stream::SeedLinkSession>> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.push_back(std::make_unique<stream::SeedLinkSession>(identity, ring));
            clients.back()->receive("STATION VELK XX\rDATA\rEND\r", 0);
            clients.back()->take_output();
        }
        for (const auto& record : input) {
            ring.add(record, record.end);  // each arriving as it ends
            for (auto& client : clients) {
                client->pump(256);
                for (const auto& message : client->take_output()) bytes += message.bytes.size();
            }
        }
        fed += samples_per_pass;
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["samples_per_s"] = benchmark::Counter(fed, benchmark::Counter::kIsRate);
    state.counters["x_line"] =
        benchmark::Counter(fed / kLineSamplesPerSecond, benchmark::Counter::kIsRate);
    state.counters["records"] = static_cast<double>(input.size());
}
BENCHMARK(BM_ServeRecords)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
