#include <gtest/gtest.h>

#include "acquisition/conditioner.h"

namespace velkantor::acquisition {
namespace {

class ConditionerTest : public ::testing::Test {
protected:
    Conditioner conditioner;
    RunState run;
    config::ChannelSettings channel;

    // Runs one raw value through the chain; nullopt when it was held back.
    std::optional<int32_t> feed(int32_t raw, int ch = 0) {
        run.raw_sample[static_cast<size_t>(ch)] = raw;
        if (!conditioner.average(ch, run)) return std::nullopt;
        conditioner.extend(ch, run, channel.period_extender);
        conditioner.ConditionSample(ch, run, channel);
        return run.sample_value[static_cast<size_t>(ch)];
    }
};

TEST_F(ConditionerTest, OnePerSecondChannelOutputsTheMeanOfEachPair) {
    run.configured_rate[0] = 1;
    EXPECT_EQ(feed(100), std::nullopt);
    EXPECT_EQ(feed(103), 102);  // 101.5 to the even neighbour
    EXPECT_EQ(feed(7), std::nullopt);
    EXPECT_EQ(feed(8), 8);  // 7.5 -> 8
}

TEST_F(ConditionerTest, TwoPerSecondChannelPassesEverySample) {
    run.configured_rate[0] = 2;
    EXPECT_EQ(feed(5), 5);
    EXPECT_EQ(feed(9), 9);
}

TEST_F(ConditionerTest, OffsetClippingAndInversion) {
    struct Case {
        int32_t clip;
        double dc_offset;
        int16_t invert;
        int32_t raw;
        int32_t expected;
    };
    const Case cases[] = {
        {32766, 0, 0, 40000, 32766},
        {32766, 0, 1, 40000, -32766},
        {32766, 0, 0, -40000, -32766},
        {32766, 100.5, 0, 10, 110},  // the offset is rounded half to even
        {131070, -1e300, 0, 5, -131070},  // a wild offset clips instead of overflowing
        {131070, 0, 1, -131072, 131070},
    };
    run.configured_rate[0] = 100;
    for (const auto& c : cases) {
        run.clip_upper = c.clip;
        run.clip_lower = -c.clip;
        channel.dc_offset = c.dc_offset;
        channel.invert = c.invert;
        EXPECT_EQ(feed(c.raw), c.expected) << c.raw << " offset " << c.dc_offset;
    }
}

TEST_F(ConditionerTest, AutoOffsetSubtractsTheDcAverage) {
    run.configured_rate[0] = 100;
    channel.auto_offset = 1;
    channel.dc_offset = 999;  // ignored while auto offset is on
    conditioner.dc_average[0] = 250.5;
    EXPECT_EQ(feed(1000), 750);
}

TEST_F(ConditionerTest, PeriodExtenderSettingsDifferOnlyInFrequency) {
    auto one = Conditioner::PeriodExtenderDesign(100, 8, 1.0);
    auto three = Conditioner::PeriodExtenderDesign(100, 8, 0.05);
    EXPECT_DOUBLE_EQ(one.b2, three.b2);  // r depends on the bandwidth only
    EXPECT_NE(one.b1, three.b1);
    double r = 1 - 8 * 6.28318530718 / 100 / 2;
    EXPECT_DOUBLE_EQ(one.b2, r * r);

    run.configured_rate[0] = 100;
    channel.period_extender = 0;
    EXPECT_EQ(feed(1234), 1234);  // no extender: untouched
    conditioner.design(1, 2, 100);
    channel.period_extender = 2;
    EXPECT_NE(feed(1000, 1), 1000);  // the resonator adds 5 * y
}

}  // namespace
}  // namespace velkantor::acquisition
