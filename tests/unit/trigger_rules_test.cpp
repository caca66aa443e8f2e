#include "config/trigger_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "config/settings_file.h"

namespace velkantor::config {
namespace {

constexpr int16_t kOff = 0;
constexpr int16_t kHalfSps = 3;
constexpr int16_t kOneSps = 4;
constexpr int16_t k100Sps = 15;
constexpr int16_t k1200Sps = 24;

TEST(PictureText, FollowsTheDigitRules) {
    struct Case {
        double value;
        const char* pattern;
        const char* shown;
    };
    const Case cases[] = {
        {12.25, "#0000.#0", "0012.25"},
        {0, "#0000.#0", "0000.00"},
        {123456.5, "#0000.#0", "123456.50"},
        {-3.125, "#00.#0", "-03.12"},  // halves of the binary value go to even
        {-0.0001, "#00.#0", "00.00"},  // no sign on a value that rounds to zero
        {100.5, "#00000.#00", "00100.500"},
        {0.001, "00.000.000.000.000", "00.001000000000"},
        {3.0517578125e-7, "00.000.000.000.000", "00.000000305176"},
        {1234.5, "0", "1234"},
        {0.5, "#.##", ".5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PictureText(c.value, c.pattern), c.shown) << c.value << " " << c.pattern;
    }
    EXPECT_EQ(PictureText(NAN, "#0000.#0"), "");
    EXPECT_EQ(PictureText(INFINITY, "00.000"), "");
    EXPECT_EQ(PictureText(1e300, "0.0").size(), 303u);
}

// A channel as the window shows it, with the boxes the operator types into.
struct TriggerApply : ::testing::Test {
    TriggerApply() { form = LoadTriggerForm(channel); }
    ChannelSettings channel;
    TriggerForm form;
};

TEST_F(TriggerApply, UntouchedFormStoresListsThatDecodeToTheSameValues) {
    channel.start_params = "5000;4;3;1;60;4";
    channel.stop_params = "1800;2;3;10";
    DecodeStartParams(channel);
    DecodeStopParams(channel);
    form = LoadTriggerForm(channel);
    ASSERT_EQ(form.start[5], " 4") << "boxes are filled with a blank for the sign";

    ApplyTriggerForm(channel, form);
    EXPECT_EQ(channel.start_params, "5000;4;3;1;60;4");
    EXPECT_EQ(channel.stop_params, "1800;2;3;10");
    // What SAVE writes must read back as what Apply stored: a blank in front of the last
    // entry would overflow the list and lose the ratio.
    ChannelSettings reread = channel;
    DecodeStartParams(reread);
    DecodeStopParams(reread);
    EXPECT_EQ(reread.start_ratio, 4);
    EXPECT_EQ(reread.max_event_minutes, 10);
}

TEST_F(TriggerApply, PreEventTimeIsCutToTheRing) {
    struct Case {
        int16_t sps_index;
        const char* pre_event;
        bool limited;
        double minutes;
    };
    const Case cases[] = {
        {k100Sps, "31", true, 30},  // 186,000 samples
        {k100Sps, "30", false, 30},
        {k1200Sps, "3", true, 2.5},
        {kOff, "5000", false, 5000},  // no rate, no ring to overflow
    };
    for (const auto& c : cases) {
        channel.sps_index = c.sps_index;
        form = LoadTriggerForm(channel);
        form.start[2] = c.pre_event;
        form.stop[3] = "8300000";
        auto result = ApplyTriggerForm(channel, form);
        EXPECT_EQ(result.pre_event_limited, c.limited) << c.pre_event;
        EXPECT_EQ(channel.pre_event_minutes, c.minutes) << c.pre_event;
        EXPECT_EQ(std::stod(form.start[2]), c.minutes) << "the box shows the corrected time";
        ChannelSettings reread = channel;
        DecodeStartParams(reread);
        EXPECT_EQ(reread.pre_event_minutes, c.minutes) << "the saved list holds the correction";
        EXPECT_LE(channel.pre_event_samples, kPreEventCapacity);
    }
}

TEST_F(TriggerApply, MaximumLengthIsRaisedToPreAndPostEventTimes) {
    form.start[2] = "30";
    form.stop[1] = "5";
    form.stop[3] = "10";
    auto result = ApplyTriggerForm(channel, form);
    EXPECT_TRUE(result.max_length_raised);
    EXPECT_EQ(form.stop[3], "35");
    EXPECT_EQ(channel.max_event_minutes, 35);
    EXPECT_EQ(channel.stop_params, "1800;5;0;35");

    form.stop[3] = "40";
    EXPECT_FALSE(ApplyTriggerForm(channel, form).max_length_raised);
    EXPECT_EQ(channel.max_event_minutes, 40);
}

TEST_F(TriggerApply, DerivedCountsUseWholeSamplesPerSecondForThePreEventRing) {
    form.start[2] = "2";
    form.stop[1] = "3";
    form.stop[3] = "10";
    channel.sps_index = k100Sps;
    ApplyTriggerForm(channel, form);
    EXPECT_EQ(channel.pre_event_samples, 12000);
    EXPECT_EQ(channel.post_event_samples, 18000);
    EXPECT_EQ(channel.max_event_samples, 60000);

    channel.sps_index = kHalfSps;
    ApplyTriggerForm(channel, form);
    EXPECT_EQ(channel.pre_event_samples, 0);
    EXPECT_EQ(channel.post_event_samples, 90);
}

TEST_F(TriggerApply, EveryBoxIsCleanedIntoItsRange) {
    form.start[0] = "abc";
    form.start[1] = "99999999";
    form.stop[2] = "-4";
    form.mag_corr[0] = "-5000";
    form.mag_corr[1] = " 0.5x";
    form.trigger_window = "70000";
    form.ad_bits = "64";
    form.amplifier_gain = "-10";
    ApplyTriggerForm(channel, form);
    EXPECT_EQ(channel.start_amplitude, 0);
    EXPECT_EQ(channel.start_samples, 8300000);
    EXPECT_EQ(channel.stop_ratio, 0);
    EXPECT_EQ(channel.magnitude_correction, "-1000;0.5;0.001;0.001;0.001");
    EXPECT_EQ(channel.mag_corr[1], "0.5");
    EXPECT_EQ(channel.trigger_window, 32767);
    EXPECT_EQ(channel.ad_bits, 32);
    EXPECT_EQ(channel.amplifier_gain, 0);
}

TEST_F(TriggerApply, OptionsOutsideTheirListsKeepTheSetting) {
    channel.period_extender = 7;
    channel.sensor_type = 9;
    channel.trigger_mode = 5;
    form = LoadTriggerForm(channel);
    EXPECT_EQ(form.period_extender, -1);
    EXPECT_EQ(form.sensor_type, -1);
    EXPECT_EQ(form.trigger_mode, 2) << "any other mode is scheduled";
    ApplyTriggerForm(channel, form);
    EXPECT_EQ(channel.period_extender, 7);
    EXPECT_EQ(channel.sensor_type, 9);
    EXPECT_EQ(channel.trigger_mode, 2);
}

TEST(Calibration, LabelsAndTheResolutionReadBack) {
    ChannelSettings channel;  // 1 V per unit, gain 1000, 16 bits over 20 V
    auto texts = ComputeCalibration(channel);
    EXPECT_EQ(texts.ad_sens, "3276.8");
    EXPECT_EQ(texts.data_output, "00.001000000000");
    EXPECT_EQ(texts.full_range, "+/-00.010000000000");
    EXPECT_EQ(texts.resolution, "00.000000305176");
    EXPECT_DOUBLE_EQ(texts.resolution_value, 0.000000305176);

    // The later labels take the data output as its label reads.
    channel.sensor_sensitivity = 3;
    channel.amplifier_gain = 7;
    texts = ComputeCalibration(channel);
    EXPECT_EQ(texts.data_output, "00.047619047619");
    EXPECT_EQ(texts.full_range, "+/-00.476190476190");
}

TEST(Calibration, ZeroDivisorsShowNoValue) {
    ChannelSettings channel;
    channel.amplifier_gain = 0;
    auto texts = ComputeCalibration(channel);
    EXPECT_EQ(texts.data_output, "n/a");
    EXPECT_EQ(texts.full_range, "n/a");
    EXPECT_EQ(texts.resolution, "n/a");
    EXPECT_EQ(texts.resolution_value, 0);

    channel = ChannelSettings{};
    channel.ad_range = 0;
    texts = ComputeCalibration(channel);
    EXPECT_EQ(texts.ad_sens, "n/a");
    EXPECT_EQ(texts.resolution_value, 0);

    channel = ChannelSettings{};
    channel.ad_bits = 5000;  // 2^5000 is no number
    texts = ComputeCalibration(channel);
    EXPECT_EQ(texts.ad_sens, "n/a");
    EXPECT_EQ(texts.resolution, "n/a");
}

TEST(UnitTexts, BySensorTypeAndUnit) {
    struct Case {
        int sensor_type;
        int unit;
        UnitTexts texts;
    };
    const Case cases[] = {
        {0, 2, {"counts", "counts", "V"}},       {1, 1, {"V/ m/s", "m/s / V", "m/s"}},
        {2, 3, {"V/ mm", "mm/V", "mm"}},         {3, 5, {"V/ nm/ss", "nm/ss / V", "nm/ss"}},
        {1, 4, {"V/ um/s", "um/s / V", "um/s"}}, {2, 9, {"V/ ?", "?/V", "?"}},
        {7, 1, {"counts", "counts", "V"}},
    };
    for (const auto& c : cases) {
        auto texts = ComputeUnitTexts(c.sensor_type, c.unit);
        EXPECT_EQ(texts.sensor, c.texts.sensor) << c.sensor_type << "/" << c.unit;
        EXPECT_EQ(texts.data_type, c.texts.data_type) << c.sensor_type << "/" << c.unit;
        EXPECT_EQ(texts.range_type, c.texts.range_type) << c.sensor_type << "/" << c.unit;
    }
}

TEST(AndChannels, CaptionsAndBits) {
    EXPECT_EQ(AndChannelNumbers(0), (std::array<int, 3>{2, 3, 4}));
    EXPECT_EQ(AndChannelNumbers(1), (std::array<int, 3>{1, 3, 4}));
    EXPECT_EQ(AndChannelNumbers(3), (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(WithAndChannel(0, 2, true), 0b0010);
    EXPECT_EQ(WithAndChannel(0b1010, 4, false), 0b0010);
    EXPECT_EQ(WithAndChannel(0b1010, 4, true), 0b1010);
    EXPECT_EQ(WithAndChannel(0b1010, 5, true), 0b1010);
}

TEST(TriggerWindowUnit, OneSecondIsSingular) {
    EXPECT_EQ(TriggerWindowUnit("1"), "Second");
    EXPECT_EQ(TriggerWindowUnit(" 1"), "Second");
    EXPECT_EQ(TriggerWindowUnit("2"), "Seconds");
    EXPECT_EQ(TriggerWindowUnit("0"), "Seconds");
    EXPECT_EQ(TriggerWindowUnit("x"), "Seconds");
}

TEST(TriggerDefaults, LocalEventsAreAnAmplitudeAndRatioTrigger) {
    ChannelSettings channel;
    channel.sps_index = kOneSps;
    TriggerForm form = LoadTriggerForm(channel);
    form.period_extender = 2;
    FillTriggerDefaults(form, false);
    ApplyTriggerForm(channel, form);
    EXPECT_EQ(channel.start_amplitude, 1000);
    EXPECT_EQ(channel.start_samples, 3);
    EXPECT_EQ(channel.sta_seconds, 30);
    EXPECT_EQ(channel.lta_seconds, 300);
    EXPECT_EQ(channel.start_ratio, 5);
    EXPECT_EQ(channel.stop_amplitude, 20000);
    EXPECT_EQ(channel.max_event_minutes, 10);
    EXPECT_EQ(channel.period_extender, 0);
    EXPECT_EQ(channel.magnitude_correction, "0.001;0.001;0.001;0.001;0.001");
}

}  // namespace
}  // namespace velkantor::config
