// The detector's samples per second on four channels, and event-file writing against a
// plain append of the same bytes, both in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "config/settings_file.h"
#include "diagnostics/bounded_log.h"
#include "events/detector.h"
#include "events/event_file.h"
#include "platform/real/std_file_system.h"
#include "platform/real/system_clock.h"
#include "runtime/run_state.h"

namespace {

using namespace velkantor;

std::vector<int32_t> signal(size_t n) {
    std::vector<int32_t> values(n);
    uint32_t x = 12345;
    for (auto& v : values) {
        x = x * 1664525 + 1013904223;
        v = static_cast<int32_t>(x >> 20) - 2048;
    }
    return values;
}

void BM_Detector4Channels(benchmark::State& state) {
    config::Settings settings;
    config::SetDefaultConfiguration(settings, "/s");
    for (auto& c : settings.channels) c.sps_index = 17;
    events::Detector detector;
    for (int ch = 0; ch < 4; ++ch) detector.ResetDetector(ch, settings.channels[ch]);
    events::EventSink sink;
    auto values = signal(100000);
    for (auto _ : state) {
        for (size_t i = 0; i < values.size(); ++i) {
            int ch = static_cast<int>(i & 3);
            detector.statistics(ch, values[i], settings.channels[static_cast<size_t>(ch)]);
            detector.decide(ch, values[i], settings, 1e9, sink);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_Detector4Channels);

std::string scratch() {
    auto dir = std::filesystem::temp_directory_path() / "velkantor-bench-events";
    std::filesystem::create_directories(dir);
    return dir.string();
}

// One second of a 100-per-second event at a time: what the station does per board second.
void BM_EventFileWriting(benchmark::State& state) {
    platform::StdFileSystem fs;
    platform::SystemClock clock;
    std::string dir = scratch();
    config::Settings settings;
    config::SetDefaultConfiguration(settings, dir);
    settings.general.events_folder = dir;
    settings.channels[0].pre_event_samples = 0;
    runtime::RunState run;
    events::Detector detector;
    diagnostics::BoundedLog log(fs, clock, dir + "/evtfile.dat", "x");
    events::EventFiles files(
        {fs, settings, run, detector, log,
         [](int, double) {
             return events::HeaderFacts{"2026/01/01 00:00:00", 100, "N", "DCF", "x"};
         },
         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
    auto values = signal(100);
    files.event_started(0, 1.7e9);
    for (auto _ : state) {
        for (int32_t v : values) files.event_sample(0, v);
        files.flush();
    }
    files.close_at_stop(0);
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_EventFileWriting);

// The reference: the same lines appended plainly, once per second.
void BM_PlainAppendReference(benchmark::State& state) {
    platform::StdFileSystem fs;
    std::string path = scratch() + "/plain.txt";
    (void)fs.write_file(path, "");
    auto values = signal(100);
    for (auto _ : state) {
        std::string chunk;
        for (int32_t v : values) chunk += events::SampleText(v) + "\r\n";
        (void)fs.append(path, chunk);
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_PlainAppendReference);

}  // namespace

BENCHMARK_MAIN();
