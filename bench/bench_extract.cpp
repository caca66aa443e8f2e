// Extraction of a day at 100 samples per second (8.64 million samples) from the datalog,
// against writing the same event lines plainly in the same run.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "config/settings_file.h"
#include "datalog/extraction.h"
#include "datalog/review_page.h"
#include "datalog_day.h"
#include "events/event_file.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/std_file_system.h"

namespace {

using namespace velkantor;

constexpr int kRate = 100;
constexpr int kSecondsPerDay = 86400;

std::string folder() {
    auto dir = std::filesystem::temp_directory_path() / "velkantor-bench-extract";
    std::filesystem::create_directories(dir / "datalog");
    std::filesystem::create_directories(dir / "events");
    return dir.string();
}

// A day of channel 1 written once, through the datalog writer, in 15-minute files.
const std::string& day() {
    static const std::string dir = bench::write_datalog_day(
        "velkantor-bench-extract", kRate,
        [](int s, int k) { return static_cast<int32_t>((s * 7 + k) % 4001 - 2000); });
    return dir;
}

void BM_ExtractDay(benchmark::State& state) {
    const std::string& d = day();
    platform::StdFileSystem fs;
    datalog::ExtractRequest request;
    config::SetDefaultConfiguration(request.settings, d);
    request.settings.general.ad_type = config::kZeda10;
    request.settings.channels[0].sps_index = 15;
    request.datalog_folder = d + "/datalog";
    request.events_folder = d + "/events";
    request.from = {2026, 12, 5, 0, 0, 0, 0};
    request.minutes = 24 * 60;
    request.channel_mask = 1;
    request.overwrite = true;
    for (auto _ : state) {
        auto result = datalog::ExtractEventFile(fs, request);
        benchmark::DoNotOptimize(result.samples);
    }
    state.SetItemsProcessed(state.iterations() * kRate * kSecondsPerDay);
}
BENCHMARK(BM_ExtractDay)->Unit(benchmark::kMillisecond)->Iterations(3);

// The reference: the same number of sample lines appended plainly, a minute at a time.
void BM_PlainWriteReference(benchmark::State& state) {
    platform::StdFileSystem fs;
    std::string path = folder() + "/plain.txt";
    for (auto _ : state) {
        (void)fs.write_file(path, "");
        for (int minute = 0; minute < 24 * 60; ++minute) {
            std::string lines;
            for (int k = 0; k < kRate * 60; ++k) events::AppendSampleLine(lines, k % 4001 - 2000);
            (void)fs.append(path, lines);
        }
    }
    state.SetItemsProcessed(state.iterations() * kRate * kSecondsPerDay);
}
BENCHMARK(BM_PlainWriteReference)->Unit(benchmark::kMillisecond)->Iterations(3);

// One full review page (6 rows of 1,000 samples) drawn from the files onto an image...
void BM_ReviewPage(benchmark::State& state) {
    platform::StdFileSystem fs;
    datalog::DatalogReader reader(fs, day() + "/datalog", 2);
    auto layout = datalog::ReviewLayout::from_settings(6, 50, 10);
    platform::QImageCanvas canvas(1000, 600);
    double begin = text::to_epoch_seconds({2026, 12, 5, 11, 55, 0, 0});  // across a file change
    for (auto _ : state) {
        auto page = datalog::DrawReviewPage(canvas, reader, 0, begin, layout);
        benchmark::DoNotOptimize(page.end_epoch);
    }
    state.SetItemsProcessed(state.iterations() * 6000);
}
BENCHMARK(BM_ReviewPage)->Unit(benchmark::kMillisecond);

// ...against reading the same samples without drawing them.
void BM_ReviewReadReference(benchmark::State& state) {
    platform::StdFileSystem fs;
    datalog::DatalogReader reader(fs, day() + "/datalog", 2);
    double begin = text::to_epoch_seconds({2026, 12, 5, 11, 55, 0, 0});
    for (auto _ : state) {
        for (int row = 0; row < 6; ++row) {
            auto run = reader.read(0, begin + row * 10.0, 1000, kRate);
            benchmark::DoNotOptimize(run.values.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * 6000);
}
BENCHMARK(BM_ReviewReadReference)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
