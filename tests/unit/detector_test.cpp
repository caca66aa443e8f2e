#include "events/detector.h"

#include <gtest/gtest.h>

#include <vector>

#include "config/settings_file.h"
#include "text/date_time.h"

namespace velkantor::events {
namespace {

struct Sink : EventSink {
    std::vector<std::pair<int, double>> starts;
    std::vector<int> stops;
    int samples = 0;
    void event_started(int ch, double start) override { starts.emplace_back(ch, start); }
    void event_sample(int, int32_t) override { ++samples; }
    void event_stopped(int ch) override { stops.push_back(ch); }
};

class DetectorTest : public ::testing::Test {
protected:
    config::Settings settings;
    Detector detector;
    Sink sink;
    double now = 1000000;

    void SetUp() override {
        config::SetDefaultConfiguration(settings, "/s");
        for (auto& c : settings.channels) {
            c.sps_index = 15;  // 100 per second
            c.record_enabled = 1;
            c.pre_event_minutes = 0;
            c.post_event_samples = 3;
            c.max_event_samples = 1000;
            c.stop_ratio = 2;
        }
        for (int ch = 0; ch < 4; ++ch) {
            detector.ResetDetector(ch, settings.channels[ch]);
            // Settled averages: the start rules below are not about the warm-up after a reset.
            detector.channel(ch).lta_warmup = 0;
        }
        detector.trigger_armed = true;
    }
    // One sample of channel `ch` through statistics and decision.
    void feed(int ch, int32_t value) {
        detector.statistics(ch, value, settings.channels[static_cast<size_t>(ch)]);
        detector.decide(ch, value, settings, now, sink);
    }
};

TEST_F(DetectorTest, AmplitudeNeedsMoreThanStartSamplesAboveTheThreshold) {
    struct Case {
        std::vector<int32_t> values;
        size_t starts;
    };
    const Case cases[] = {
        {{2500, 2600, 2700}, 1},
        {{2500, 2000, 2600}, 0},    // 2000 is not above the threshold: the count resets
        {{-2500, -2600, 2700}, 1},  // magnitudes count
        {{2500, 2600}, 0},
    };
    for (const auto& c : cases) {
        detector = Detector{};
        SetUp();
        sink = {};
        auto& ch = settings.channels[0];
        ch.trigger_mode = 0;
        ch.start_amplitude = 2000;
        ch.start_samples = 2;
        for (auto v : c.values) feed(0, v);
        EXPECT_EQ(sink.starts.size(), c.starts) << c.values.size() << " values";
    }
}

TEST_F(DetectorTest, StaLtaComparisonsAreStrict) {
    auto& d = detector.channel(0);
    settings.channels[0].start_ratio = 3;
    d.sl_ratio = 3;
    detector.decide(0, 0, settings, now, sink);
    EXPECT_TRUE(sink.starts.empty()) << "a ratio of exactly 3 does not trigger";
    d.sl_ratio = 3.0001;
    detector.decide(0, 0, settings, now, sink);
    ASSERT_EQ(sink.starts.size(), 1u);

    // Recording: more than 3 consecutive samples below the stop ratio end it; equal resets.
    for (double r : {1.0, 1.0, 2.0, 1.0, 1.0, 1.0}) {
        d.sl_ratio = r;
        detector.decide(0, 0, settings, now, sink);
    }
    EXPECT_TRUE(sink.stops.empty());
    d.sl_ratio = 1;
    detector.decide(0, 0, settings, now, sink);
    EXPECT_EQ(sink.stops, std::vector<int>{0});
    EXPECT_EQ(d.max_ratio, 0) << "reset when the event ends";
}

TEST_F(DetectorTest, CoincidenceWindowOfTheOtherChannel) {
    settings.channels[0].and_channels = 1 << 1;  // needs channel 2 (index 1)
    settings.channels[1].trigger_window = 5;
    settings.channels[1].record_enabled = 0;  // counts for coincidence, records nothing
    auto trigger = [&](int ch) {
        detector.channel(ch).sl_ratio = 10;
        detector.decide(ch, 0, settings, now, sink);
        detector.channel(ch).sl_ratio = 0;
    };
    trigger(0);
    EXPECT_TRUE(sink.starts.empty()) << "channel 2 has not triggered";
    trigger(1);
    for (int second = 0; second < 6; ++second) detector.TriggerSecondTick();
    trigger(0);
    EXPECT_TRUE(sink.starts.empty()) << "channel 2's window of 5 s (6 ticks) is over";
    trigger(1);
    for (int second = 0; second < 5; ++second) detector.TriggerSecondTick();
    trigger(0);
    ASSERT_EQ(sink.starts.size(), 1u);
    EXPECT_EQ(sink.starts[0].first, 0);
}

TEST_F(DetectorTest, ExtensionStartsIdleChannelsOnTheirNextSample) {
    settings.channels[0].extend_trigger = 1;
    settings.channels[3].record_enabled = 0;
    detector.channel(0).sl_ratio = 10;
    detector.decide(0, 0, settings, now, sink);
    ASSERT_EQ(sink.starts.size(), 1u);
    for (int ch = 1; ch < 4; ++ch) detector.decide(ch, 0, settings, now, sink);
    EXPECT_EQ(sink.starts.size(), 3u) << "channels 2 and 3 start; channel 4 is not enabled";
    EXPECT_GT(detector.channel(3).trigger_countdown, 0);
}

TEST_F(DetectorTest, NothingStartsBeforeTheFirstWholeSecond) {
    detector.trigger_armed = false;
    detector.channel(0).sl_ratio = 10;
    detector.RequestManual(1, settings.channels[1]);
    detector.decide(0, 0, settings, now, sink);
    detector.decide(1, 0, settings, now, sink);
    EXPECT_TRUE(sink.starts.empty());
    EXPECT_EQ(detector.channel(0).trigger_countdown, 0);
    EXPECT_EQ(detector.channel(1).manual_request, 0) << "the manual request is discarded";
}

TEST_F(DetectorTest, ManualStartAndStopDisablesRecording) {
    settings.channels[2].trigger_mode = 0;
    settings.channels[2].start_amplitude = 1000000;
    settings.channels[2].stop_amplitude = 0;  // the amplitude stop never ends it by itself
    detector.RequestManual(2, settings.channels[2]);
    EXPECT_TRUE(detector.channel(2).stop_caption);
    detector.decide(2, 0, settings, now, sink);
    ASSERT_EQ(sink.starts.size(), 1u);
    detector.RequestManual(2, settings.channels[2]);
    detector.decide(2, 0, settings, now, sink);
    EXPECT_EQ(sink.stops, std::vector<int>{2});
    EXPECT_EQ(settings.channels[2].record_enabled, 0);
    EXPECT_FALSE(detector.channel(2).stop_caption);
}

TEST_F(DetectorTest, MaximumLengthCountsPreEventSamples) {
    settings.channels[0].max_event_samples = 10;
    settings.channels[0].stop_ratio = 0;  // never below
    detector.channel(0).sl_ratio = 10;
    detector.decide(0, 0, settings, now, sink);
    detector.channel(0).samples_written = 8;  // as the file writer counts the pre-event part
    for (int i = 0; i < 3; ++i) {
        detector.decide(0, 0, settings, now, sink);
        detector.channel(0).samples_written += 1;
    }
    EXPECT_TRUE(sink.stops.empty());
    detector.decide(0, 0, settings, now, sink);
    EXPECT_EQ(sink.stops.size(), 1u);
}

TEST_F(DetectorTest, EventStartTimeIsThePreEventBeforeThisSecondPlusOne) {
    settings.channels[0].pre_event_minutes = 2;
    detector.channel(0).sl_ratio = 10;
    detector.decide(0, 0, settings, now + 0.37, sink);
    ASSERT_EQ(sink.starts.size(), 1u);
    EXPECT_EQ(sink.starts[0].second, now - 120 + 1);
}

TEST_F(DetectorTest, FrozenLtaKeepsTheRatioOfALongEvent) {
    settings.channels[0].freeze_lta = 1;
    for (auto& c : settings.channels) {
        c.stop_ratio = 0;  // only the manual start and nothing else
        c.start_ratio = 1e9;
    }
    for (int i = 0; i < 3000; ++i) {
        feed(0, (i % 2) ? 100 : -100);
        feed(1, (i % 2) ? 100 : -100);
    }
    detector.RequestManual(0, settings.channels[0]);
    detector.RequestManual(1, settings.channels[1]);
    settings.channels[1].freeze_lta = 0;
    for (int i = 0; i < 6000; ++i) {
        feed(0, (i % 2) ? 5000 : -5000);
        feed(1, (i % 2) ? 5000 : -5000);
    }
    ASSERT_EQ(sink.starts.size(), 2u);
    ASSERT_TRUE(sink.stops.empty());
    EXPECT_TRUE(detector.channel(0).lta_frozen_display);
    EXPECT_LT(detector.channel(0).frozen_lta, 101) << "the LTA of the quiet signal";
    EXPECT_GT(detector.channel(0).sl_ratio, 40) << "divided by the LTA of the event's start";
    EXPECT_LT(detector.channel(1).sl_ratio, 2) << "without freezing the LTA catches up";
}

TEST_F(DetectorTest, FlatZeroSignalKeepsTheRatio) {
    detector.channel(0).sl_ratio = 1.5;
    for (int i = 0; i < 100; ++i) detector.statistics(0, 0, settings.channels[0]);
    EXPECT_EQ(detector.channel(0).sl_ratio, 1.5);
}

TEST_F(DetectorTest, HalfWavePeaksAndPeakToPeak) {
    settings.channels[0].dc_offset = 0;
    for (int32_t v : {10, 30, 20, -5, -40, -10, 15})
        detector.statistics(0, v, settings.channels[0]);
    const auto& d = detector.channel(0);
    EXPECT_EQ(d.max_half_wave_peak, 40);
    EXPECT_EQ(d.last_half_wave_peak, 40);
    EXPECT_EQ(d.peak_to_peak, 70);
    // A zero is no crossing, and the sign change after it is not one either.
    for (int32_t v : {0, -90}) detector.statistics(0, v, settings.channels[0]);
    EXPECT_EQ(d.max_half_wave_peak, 40);
}

// STA, LTA, the ratio, the frozen LTA and the DC level of auto offset, sample by sample, on
// short inputs at 1 sample per second with an STA of 2 and an LTA of 4 samples. The
// expected values were worked out by hand from the running averages
//   STA += (|x| - STA) / 2,  LTA += (|x| - LTA) / 4,  ratio = STA / LTA,
// the detector input x = raw + offset (or raw - DC with auto offset), the DC level equal to
// the raw sample for the first 5 samples and then DC += (raw - DC) / (5 * 4).
TEST_F(DetectorTest, AveragesAndRatioSampleBySample) {
    struct Step {
        int32_t raw;
        double sta, lta, ratio, dc;
    };
    struct Case {
        const char* name;
        int16_t auto_offset;
        double dc_offset;
        int16_t freeze_lta;
        bool recording;  // an event runs from the second sample on
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"plain",
         0,
         0,
         0,
         false,
         {{8, 4, 2, 2, 8},
          {0, 2, 1.5, 2 / 1.5, 8},
          {-4, 3, 2.125, 3 / 2.125, 8},
          {4, 3.5, 2.59375, 3.5 / 2.59375, 8}}},
        {"fixed offset",
         0,
         -10,
         0,
         false,
         {{18, 4, 2, 2, 18}, {10, 2, 1.5, 2 / 1.5, 10}, {6, 3, 2.125, 3 / 2.125, 6}}},
        {"frozen LTA while recording",
         0,
         0,
         1,
         true,
         // From the second sample on the ratio divides by the LTA of the first (2).
         {{8, 4, 2, 2, 8}, {0, 2, 1.5, 1, 0}, {-4, 3, 2.125, 1.5, 0}}},
        {"frozen LTA without an event", 0, 0, 1, false, {{8, 4, 2, 2, 8}, {0, 2, 1.5, 2 / 1.5, 0}}},
        {"auto offset warm-up",
         1,
         999,
         0,
         false,
         // Five samples make the DC level; the input is 0 meanwhile and no ratio is formed.
         {{100, 0, 0, 0, 100},
          {104, 0, 0, 0, 104},
          {96, 0, 0, 0, 96},
          {100, 0, 0, 0, 100},
          {100, 0, 0, 0, 100},
          // DC = 100 + (110 - 100) / 20 = 100.5; x = 9.5
          {110, 4.75, 2.375, 2, 100.5},
          // DC = 100.5 + (80 - 100.5) / 20 = 99.475; x = -19.475
          {80, 12.1125, 6.6500, 12.1125 / 6.65, 99.475}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Detector fresh;
        auto& channel = settings.channels[0];
        channel.sps_index = 4;  // 1 per second
        channel.sta_seconds = 2;
        channel.lta_seconds = 4;
        channel.auto_offset = c.auto_offset;
        channel.dc_offset = c.dc_offset;
        channel.freeze_lta = c.freeze_lta;
        fresh.ResetDetector(0, channel);
        const auto& d = fresh.channel(0);
        for (size_t k = 0; k < c.steps.size(); ++k) {
            SCOPED_TRACE(k);
            const Step& step = c.steps[k];
            if (c.recording && k == 1) fresh.channel(0).event_state = 1;
            fresh.statistics(0, step.raw, channel);
            EXPECT_NEAR(d.sta_value, step.sta, 1e-9);
            EXPECT_NEAR(d.lta_value, step.lta, 1e-9);
            EXPECT_NEAR(d.sl_ratio, step.ratio, 1e-9);
            if (c.auto_offset != 0) {
                EXPECT_NEAR(d.dc_average, step.dc, 1e-9);
            }
        }
    }
}

// After the start/restart block the STA/LTA method waits until the LTA has had one LTA
// length of samples; the other ways to start an event do not wait.
TEST_F(DetectorTest, StaLtaStartsWaitOneLtaLengthAfterTheReset) {
    struct Case {
        const char* what;
        int16_t mode;
        bool manual;
        bool restart_after_warm_up;  // a board restart after a settled LTA
        int samples;                 // samples since the reset, the deciding one included
        bool starts;
    };
    const Case cases[] = {
        {"STA/LTA, one sample short of the LTA length", 1, false, false, 199, false},
        {"STA/LTA, the LTA has had its length", 1, false, false, 200, true},
        {"STA/LTA after a restart, in the new warm-up", 1, false, true, 199, false},
        {"STA/LTA after a restart, warm-up over", 1, false, true, 200, true},
        {"amplitude, in the warm-up", 0, false, false, 3, true},
        {"manual start, in the warm-up", 1, true, false, 1, true},
        {"scheduled, in the warm-up", 2, false, false, 1, true},
    };
    for (const auto& c : cases) {
        detector = Detector{};
        sink = {};
        auto& ch = settings.channels[0];
        ch.trigger_mode = c.mode;
        ch.sta_seconds = 0.5;
        ch.lta_seconds = 2;  // 200 samples at 100 per second
        ch.start_ratio = 3;
        ch.start_amplitude = 1000;
        ch.start_samples = 2;
        settings.schedule_lines[0] = text::format_datetime(text::from_epoch_seconds(now)) + " Ch:1";
        config::DecodeSchedule(settings);
        detector.trigger_armed = true;
        detector.ResetDetector(0, ch);
        if (c.restart_after_warm_up) {
            for (int i = 0; i < 300; ++i) feed(0, 0);
            detector.ResetDetector(0, ch);
        }
        // A flat zero signal leaves the ratio where it is put: only the warm-up decides.
        detector.channel(0).sl_ratio = 10;
        if (c.manual) detector.RequestManual(0, ch);
        for (int i = 0; i < c.samples; ++i) feed(0, c.mode == 0 ? 5000 : 0);
        EXPECT_EQ(sink.starts.size(), c.starts ? 1u : 0u) << c.what;
    }
}

// The fault the warm-up removes: from rest the STA grows faster than the LTA, so their ratio
// starts near the ratio of their lengths and plain background noise looked like an event.
TEST_F(DetectorTest, NoiseFromRestStartsNothingAQuakeDoes) {
    auto& ch = settings.channels[0];
    ch.trigger_mode = 1;
    ch.sta_seconds = 1;
    ch.lta_seconds = 30;
    ch.start_ratio = 3;
    ch.stop_ratio = 1.5;
    ch.post_event_samples = 100000;
    detector = Detector{};
    detector.ResetDetector(0, ch);
    detector.trigger_armed = true;
    uint32_t seed = 12345;
    auto noise = [&] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int32_t>((seed >> 16) % 401) - 200;
    };
    for (int i = 0; i < 2 * 3000; ++i) feed(0, noise());
    EXPECT_TRUE(sink.starts.empty()) << "noise only, for two LTA lengths";
    for (int i = 0; i < 300; ++i) feed(0, noise() * 30);
    EXPECT_EQ(sink.starts.size(), 1u) << "the quake";
}

TEST_F(DetectorTest, ScheduledEntriesFireInTheirSecondForTheirChannel) {
    for (auto& c : settings.channels) c.trigger_mode = 2;
    settings.schedule_lines[0] = "2026/03/01 12:00:05 Ch:2";
    settings.schedule_lines[1] = "2026/03/01 12:00:05 Ch:3";
    settings.schedule_lines[2] = "garbage";
    config::DecodeSchedule(settings);
    double at = text::to_epoch_seconds({2026, 3, 1, 12, 0, 5, 0});
    detector.decide(0, 0, settings, at + 0.5, sink);
    detector.decide(1, 0, settings, at - 0.5, sink);
    EXPECT_TRUE(sink.starts.empty());
    detector.decide(1, 0, settings, at + 0.5, sink);
    detector.decide(2, 0, settings, at + 0.99, sink);
    ASSERT_EQ(sink.starts.size(), 2u);
    EXPECT_EQ(sink.starts[0].first, 1);
    EXPECT_EQ(sink.starts[1].first, 2);
}

}  // namespace
}  // namespace velkantor::events
