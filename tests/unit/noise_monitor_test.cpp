#include "display/noise_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "display/noise_picture.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/recording_picture_codec.h"
#include "text/date_time.h"

namespace velkantor::display {
namespace {

constexpr const char* kDrums = "/st/drums";

PsdHour hour_at(int64_t start_s, int first_band, std::vector<double> levels) {
    PsdHour hour;
    hour.start_us = start_s * 1'000'000;
    hour.curve.first_band = first_band;
    hour.curve.level_db = std::move(levels);
    hour.curve.pieces = 14;
    return hour;
}

// Levels fall in the 1 dB step below them; those beyond the range in the end steps.
TEST(NoisePicture, HistogramCountsEachHourInItsStep) {
    std::vector<PsdHour> hours = {hour_at(0, 0, {-150.2, -120.0}), hour_at(3600, 0, {-150.7}),
                                  hour_at(7200, 1, {-140.1, -300})};
    NoiseHistogram h = MakeNoiseHistogram(hours, -200, -50);
    ASSERT_EQ(h.first_band, 0);
    ASSERT_EQ(h.bands, 3);
    struct {
        int band;
        int db;  // the step's lower edge
        int count;
    } const cases[] = {{0, -151, 2}, {0, -150, 0}, {1, -120, 1}, {1, -141, 1}, {2, -200, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(h.count(c.band, c.db - h.low_db), c.count) << c.band << " " << c.db;
    }
    EXPECT_EQ(h.low_db + h.mode(0), -151);
    EXPECT_EQ(h.hours, (std::vector<int>{2, 2, 1}));
}

TEST(NoiseMonitor, HoursTextReadsBackAndSkipsWhatIsNotAnHour) {
    std::vector<PsdHour> hours = {hour_at(1765000800, -20, {-150.25, -149.5}),
                                  hour_at(1765004400, -19, {-140})};
    std::string text = NoiseMonitor::hours_text(hours);
    auto back = NoiseMonitor::read_hours("garbage\n\n12 x 3 1\n-5 0 1 2\n" + text + "7 1 2");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].start_us, hours[0].start_us);
    EXPECT_EQ(back[0].curve.first_band, -20);
    EXPECT_EQ(back[0].curve.level_db, hours[0].curve.level_db);
    EXPECT_EQ(back[1].curve.level_db, hours[1].curve.level_db);
}

// A calibrated channel at 5 samples per second fed whole seconds of noise.
struct MonitorRig {
    MonitorRig() {
        settings.sensor_type = 1;
        settings.measure_unit = 1;
        settings.sensor_sensitivity = 100;
        settings.amplifier_gain = 100;
        settings.ad_bits = 24;
        settings.ad_range = 20;
    }
    // Feeds from `from_s` up to `to_s` through a monitor, as one run of the program.
    NoiseMonitor& run(int64_t from_s, int64_t to_s) {
        monitor = std::make_unique<NoiseMonitor>(fs, codec, kDrums);
        for (int64_t t = from_s; t < to_s; ++t) {
            std::vector<int32_t> second(5);
            for (auto& v : second) v = static_cast<int32_t>(std::lround(normal(generator)));
            std::string problem = monitor->add(0, t * 1'000'000, 5, second, settings, "HHZ");
            EXPECT_EQ(problem, "");
        }
        return *monitor;
    }
    std::string labels(const std::string& name) const {
        return fs.read_file(std::string(kDrums) + "/" + name, 1 << 20).value_or("");
    }

    platform::MemoryFileSystem fs;
    platform::RecordingPictureCodec codec;
    config::ChannelSettings settings;
    std::unique_ptr<NoiseMonitor> monitor;
    std::mt19937 generator{5};
    std::normal_distribution<double> normal{0, 100};
};

// A day's picture grows by an hour at each hour's end, across a restart of the program, and
// the next day starts a picture of its own.
TEST(NoiseMonitor, DayPictureGrowsHourlyAndSurvivesARestart) {
    MonitorRig r;
    const int64_t day = text::days_from_civil(2026, 12, 10);
    const int64_t midnight = day * 86400;
    auto& first = r.run(midnight - 3600, midnight + 1);
    ASSERT_TRUE(first.channel(0).last_hour);
    EXPECT_EQ(first.channel(0).last_hour->start_us, (midnight - 3600) * 1'000'000);
    EXPECT_TRUE(first.channel(0).calibrated);
    EXPECT_EQ(first.channel(0).picture, "PSD_20261209_1.GIF");
    EXPECT_TRUE(r.fs.exists("/st/drums/PSD_20261209_1.GIF"));

    // The program stops in the second hour of the day and starts again.
    auto& second = r.run(midnight, midnight + 7200 + 1);
    EXPECT_EQ(second.channel(0).picture, "PSD_20261210_1.GIF");
    EXPECT_EQ(second.channel(0).hours.size(), 2u);
    auto& third = r.run(midnight + 7200, midnight + 3 * 3600 + 1);
    EXPECT_EQ(third.channel(0).hours.size(), 3u);
    EXPECT_EQ(NoiseMonitor::read_hours(r.labels("PSD_20261210_1.txt")).size(), 3u);
    EXPECT_EQ(NoiseMonitor::read_hours(r.labels("PSD_20261209_1.txt")).size(), 1u);
    EXPECT_EQ(r.labels("PSD_20261210_1.GIF").substr(0, 12), "picture gif ");
}

// The reference models are in ground acceleration: against counts they are left out, and
// the picture says why its levels are in counts.
TEST(NoisePicture, ModelsOnlyForACalibratedChannel) {
    std::vector<PsdHour> hours = {hour_at(0, -20, std::vector<double>(60, -140))};
    for (bool calibrated : {true, false}) {
        SCOPED_TRACE(calibrated);
        platform::RecordingCanvas canvas(kNoisePictureWidth, kNoisePictureHeight);
        DrawNoisePicture(canvas, hours, calibrated, "title");
        auto lines_of = [&](platform::Color colour) {
            return std::count_if(canvas.ops.begin(), canvas.ops.end(), [&](const auto& op) {
                return op.kind == platform::RecordingCanvas::Op::line && op.color == colour;
            });
        };
        auto says = [&](const std::string& words) {
            return std::any_of(canvas.ops.begin(), canvas.ops.end(), [&](const auto& op) {
                return op.text.find(words) != std::string::npos;
            });
        };
        EXPECT_EQ(lines_of({90, 90, 90}) > 0, calibrated);
        EXPECT_EQ(says("(m/s^2)^2/Hz"), calibrated);
        EXPECT_EQ(says("levels are in counts"), !calibrated);
        EXPECT_GT(lines_of({0, 0, 0}), 59) << "the most frequent level, band to band";
    }
}

}  // namespace
}  // namespace velkantor::display
