#include "acquisition/conditioner.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velkantor::acquisition {
namespace {

class ConditionerTest : public ::testing::Test {
protected:
    Conditioner conditioner;
    runtime::RunState run;
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
        {32766, 100.5, 0, 10, 110},       // the offset is rounded half to even
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

// The extender is the two-pole resonator y(n) = a0 x(n) - b1 y(n-1) - b2 y(n-2) with its
// poles at radius r = 1 - pi B / fs and angle theta = 2 pi f / fs (B = 8 Hz). Coefficients
// worked out on a calculator from b1 = -2 r cos(theta), b2 = r^2 and the gain
// a0 = (1 - r) sqrt(1 - 2 r cos(2 theta) + r^2).
TEST(PeriodExtender, CoefficientsAndImpulseResponse) {
    struct Case {
        double fs, f;
        double a0, b1, b2;
    };
    const Case cases[] = {
        {100, 1.0, 0.0688162185255, -1.4943905067579, 0.5605106435926},
        {100, 0.05, 0.0631802445946, -1.4973377863294, 0.5605106435926},
        {200, 0.3, 0.0159459343435, -1.7485949241077, 0.7644639547545},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.f);
        auto k = Conditioner::PeriodExtenderDesign(c.fs, 8, c.f);
        EXPECT_NEAR(k.a0, c.a0, 1e-12);
        EXPECT_NEAR(k.b1, c.b1, 1e-12);
        EXPECT_NEAR(k.b2, c.b2, 1e-12);
        EXPECT_FALSE(k.unstable);

        // A unit impulse rings as a0 r^n sin((n + 1) theta) / sin(theta).
        Conditioner conditioner;
        auto period_extender = static_cast<int16_t>(c.f == 1.0 ? 1 : c.f == 0.3 ? 2 : 3);
        conditioner.design(0, period_extender, static_cast<int>(c.fs));
        double r = 1 - 3.14159265359 * 8 / c.fs;
        double theta = 6.28318530718 * c.f / c.fs;
        for (int n = 0; n < 40; ++n) {
            double expected = c.a0 * std::pow(r, n) * std::sin((n + 1) * theta) / std::sin(theta);
            EXPECT_NEAR(conditioner.PeriodExtenderStep(n == 0 ? 1 : 0, 0), expected, 1e-9) << n;
        }
    }
}

}  // namespace
}  // namespace velkantor::acquisition
