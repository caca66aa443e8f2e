#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/signal_generator.h"

namespace velkantor::sim {
namespace {

constexpr int kTicks = 200;

double epoch(const text::DateTime& t) {
    return text::to_epoch_seconds(t);
}

// Largest magnitude over `seconds` of board time from `from`, at every tick.
int32_t peak(const SignalGenerator& g, int channel, double from, double seconds) {
    int32_t most = 0;
    int64_t first = std::llround(from * kTicks);
    for (int64_t i = 0; i < std::llround(seconds * kTicks); ++i) {
        most = std::max(most, std::abs(g.at_tick(channel, first + i)));
    }
    return most;
}

BoardOptions quiet_options() {
    BoardOptions o;
    o.seed = 11;
    o.noise_amplitude = 300;
    return o;
}

TEST(SimSignalGenerator, AnySampleCanBeRecomputedInAnyOrder) {
    const SignalGenerator a(quiet_options(), kTicks, 18);
    const double t0 = epoch({2026, 7, 1, 6, 0, 0, 0});
    std::vector<int32_t> forward;
    for (int i = 0; i < 1000; ++i) forward.push_back(a.at(1, t0 + i / 200.0));

    const SignalGenerator b(quiet_options(), kTicks, 18);
    for (int i = 999; i >= 0; --i)
        ASSERT_EQ(b.at(1, t0 + i / 200.0), forward[static_cast<size_t>(i)]);

    // Noise, not a constant; and each channel and each seed its own.
    EXPECT_GT(
        std::count_if(forward.begin(), forward.end(), [&](int32_t v) { return v != forward[0]; }),
        900);
    BoardOptions other = quiet_options();
    other.seed = 12;
    const SignalGenerator c(other, kTicks, 18);
    int same_channel = 0;
    int same_seed = 0;
    for (int i = 0; i < 1000; ++i) {
        same_channel += a.at(2, t0 + i / 200.0) == forward[static_cast<size_t>(i)];
        same_seed += c.at(1, t0 + i / 200.0) == forward[static_cast<size_t>(i)];
    }
    EXPECT_LT(same_channel, 50);
    EXPECT_LT(same_seed, 50);
}

TEST(SimSignalGenerator, WithoutQuakesStaysWithinNoiseAndMicroseism) {
    const SignalGenerator g(quiet_options(), kTicks, 18);
    int32_t most = peak(g, 0, epoch({2026, 7, 1, 0, 0, 0, 0}), 60);
    EXPECT_LE(most, 300 + 100 + 1);
    EXPECT_GT(most, 200);
}

struct QuakeCase {
    const char* name;
    std::vector<Quake> quakes;
    double every;
    text::DateTime at;
    bool burst;  // a burst rings in the two seconds from `at`
};

TEST(SimSignalGenerator, QuakesRingFromTheirOnsetForTheirDuration) {
    const Quake listed{{2026, 7, 1, 10, 30, 0, 0}, 40, 20000};
    const std::vector<QuakeCase> cases = {
        {"listed, just before", {listed}, 0, {2026, 7, 1, 10, 29, 58, 0}, false},
        {"listed, at onset", {listed}, 0, {2026, 7, 1, 10, 30, 0, 0}, true},
        {"listed, after its duration", {listed}, 0, {2026, 7, 1, 10, 30, 41, 0}, false},
        {"periodic, at a multiple", {}, 600, {2026, 7, 1, 12, 10, 0, 0}, true},
        {"periodic, at day start", {}, 600, {2026, 7, 2, 0, 0, 0, 0}, true},
        {"periodic, between", {}, 600, {2026, 7, 1, 12, 5, 0, 0}, false},
        // Counted from the day start, not from 1970: 7000 s does not divide a day.
        {"periodic, odd period", {}, 7000, {2026, 7, 1, 1, 56, 40, 0}, true},
        {"periodic, odd period off", {}, 7000, {2026, 7, 1, 2, 0, 0, 0}, false},
    };
    for (const QuakeCase& c : cases) {
        SCOPED_TRACE(c.name);
        BoardOptions o = quiet_options();
        o.quakes = c.quakes;
        o.quake_every_seconds = c.every;
        const SignalGenerator g(o, kTicks, 18);
        int32_t most = peak(g, 0, epoch(c.at), 2);
        if (c.burst) {
            EXPECT_GT(most, 10000);
        } else {
            EXPECT_LE(most, 401);
        }
    }
}

TEST(SimSignalGenerator, ClipsToTheSampleWidth) {
    for (int bits : {16, 18, 24}) {
        SCOPED_TRACE(bits);
        BoardOptions o = quiet_options();
        o.quakes.push_back({{2026, 7, 1, 10, 30, 0, 0}, 20, 1e9});
        const SignalGenerator g(o, kTicks, bits);
        int32_t low = 0;
        int32_t high = 0;
        int64_t first = std::llround(epoch({2026, 7, 1, 10, 30, 0, 0}) * kTicks);
        for (int64_t i = 0; i < 400; ++i) {
            int32_t v = g.at_tick(0, first + i);
            low = std::min(low, v);
            high = std::max(high, v);
        }
        EXPECT_EQ(low, -(1 << (bits - 1)));
        EXPECT_EQ(high, (1 << (bits - 1)) - 1);
    }
}

}  // namespace
}  // namespace velkantor::sim
