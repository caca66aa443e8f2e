// A day's drum at 100 samples per second (8.64 million samples): drawn live, one stroke per
// board second, against one segment per sample in the same run; and drawn again from the
// datalog files against only reading those files. Prints the medians and their ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "datalog/datalog_reader.h"
#include "datalog_day.h"
#include "display/drum.h"
#include "display/offline_drum.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/scripted_operator.h"
#include "platform/real/qt_picture_codec.h"
#include "platform/real/std_file_system.h"

namespace {

using namespace velkantor;

constexpr int kRate = 100;
constexpr int kSecondsPerDay = 86400;

int32_t sample_at(int second, int k) {
    return static_cast<int32_t>((second * 7919 + k * 104729) % 6001) - 3000;
}

double median_ms(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The station's drum path: every sample through DrawDrumSample, with its saves.
void live_day(bool segment_per_sample) {
    platform::MemoryFileSystem fs;
    (void)fs.create_directories("/st/drums");
    platform::QtPictureCodec codec;
    platform::ScriptedOperator op;
    display::DisplayView view;
    display::DrumRecorder drums({fs, codec, op, view, "/st/drums", {}});
    drums.set_segment_per_sample(segment_per_sample);
    config::Settings settings;
    settings.channels[0].drum_enabled = 1;
    display::BoardTime now{true, 0, 0, 0, "2026/12/05"};
    for (int s = 0; s < kSecondsPerDay; ++s) {
        now.hour = s / 3600, now.minute = s / 60 % 60, now.second = s % 60;
        for (int k = 0; k < kRate; ++k)
            drums.DrawDrumSample(0, sample_at(s, k), settings, now, false);
        drums.flush();
    }
}

}  // namespace

int main() {
    const int runs = 3;
    double strokes = median_ms(runs, [] { live_day(false); });
    double segments = median_ms(runs, [] { live_day(true); });
    std::printf(
        "live drum, a day at %d/s: one stroke per second %.0f ms, one segment per sample "
        "%.0f ms: %.1f times faster\n",
        kRate, strokes, segments, segments / strokes);

    std::string d = bench::write_datalog_day("velkantor-bench-drum", kRate, sample_at);
    platform::StdFileSystem fs;
    datalog::DatalogReader reader(fs, d + "/datalog", 2);
    config::Settings settings;
    platform::QtPictureCodec codec;
    auto picture = codec.make_canvas(display::kDrumWidth, display::kDrumHeight);
    size_t drawn = 0;
    double offline = median_ms(runs, [&] {
        drawn = display::DrawDrumFromDatalog(*picture, reader, 0, "2026/12/05", settings).samples;
    });
    double start = text::to_epoch_seconds({2026, 12, 5, 0, 0, 0, 0});
    double reading = median_ms(runs, [&] {
        for (int hour = 0; hour < 24; ++hour) {
            auto run = reader.read(0, start + hour * 3600.0, kRate * 3600, kRate);
            drawn += run.values.size() > 0 ? 0 : 1;
        }
    });
    std::printf(
        "drum from the datalog (%zu samples): %.0f ms, reading the same files %.0f ms: "
        "%.2f times the reading (target: at most 3)\n",
        drawn, offline, reading, offline / reading);
    return 0;
}
