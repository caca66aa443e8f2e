#include "display/noise_psd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace velkantor::display {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// An accelerometer of one count per m/s^2: its density of acceleration is that of its counts.
GroundResponse unit_accelerometer() {
    GroundResponse response;
    response.motion = GroundMotion::acceleration;
    response.counts_per_unit = 1;
    return response;
}

std::vector<double> white_noise(size_t count, double sigma, unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<double> normal(0, sigma);
    std::vector<double> samples(count);
    for (auto& s : samples) s = normal(generator);
    return samples;
}

// --- the levels ---------------------------------------------------------------------------

// White noise of variance s^2 at rate r has the one-sided density 2 s^2 / r in every band,
// whatever the taper, the overlap and the smoothing do.
TEST(NoisePsd, WhiteNoiseIsAtItsTheoreticalLevelInEveryBand) {
    // Half a day at a low rate for the long periods, whose bands hold few lines of a piece;
    // two hours at a high rate for the short ones up to the Nyquist frequency.
    struct {
        double rate;
        double hours;
        double longest_checked;  // seconds
    } const cases[] = {{20, 12, 1e9}, {100, 2, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const double sigma = 300;
        auto samples = white_noise(static_cast<size_t>(c.rate * c.hours * 3600), sigma, 7);
        // A trend and an offset, as a drifting sensor adds: the detrending takes them out.
        for (size_t i = 0; i < samples.size(); ++i) samples[i] += 5000 + 0.01 * i;
        PsdCurve curve = StretchPsd(samples, c.rate, unit_accelerometer());
        ASSERT_FALSE(curve.empty());
        const double expected = 10 * std::log10(2 * sigma * sigma / c.rate);
        // From near the Nyquist frequency to periods of minutes.
        EXPECT_LE(BandPeriod(curve.first_band), 3.0 / c.rate);
        EXPECT_GE(BandPeriod(curve.last_band()), 100);
        double sum = 0;
        for (int band = curve.first_band; band <= curve.last_band(); ++band) {
            sum += *curve.level(band);
            if (BandPeriod(band) > c.longest_checked) continue;
            EXPECT_NEAR(*curve.level(band), expected, 1.0) << "period " << BandPeriod(band);
        }
        // Each band scatters; together they show a scale that is off (the taper's power).
        EXPECT_NEAR(sum / static_cast<double>(curve.level_db.size()), expected, 0.25);
    }
}

// A sine of amplitude A carries the power A^2/2; the octave band centred on its frequency
// spreads it over fc/sqrt 2 Hz. Bands an octave away do not hold it.
TEST(NoisePsd, SineShowsAtItsFrequencyAtItsPower) {
    const double rate = 50;
    const double amplitude = 1000;
    const int band = -8;  // 2 Hz
    const double f0 = 1 / BandPeriod(band);
    auto samples = white_noise(static_cast<size_t>(rate * 3600), 1, 3);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] += amplitude * std::sin(kTwoPi * f0 * static_cast<double>(i) / rate + 0.3);
    }
    PsdCurve curve = StretchPsd(samples, rate, unit_accelerometer());
    const double expected = 10 * std::log10(amplitude * amplitude / 2 / (f0 / std::numbers::sqrt2));
    ASSERT_TRUE(curve.level(band));
    EXPECT_NEAR(*curve.level(band), expected, 0.2);
    for (int away : {band - 8, band + 8}) {
        ASSERT_TRUE(curve.level(away));
        EXPECT_LT(*curve.level(away), expected - 40) << "period " << BandPeriod(away);
    }
}

// --- counts to ground acceleration ----------------------------------------------------------

struct CalibrationCase {
    const char* name;
    int16_t sensor_type;
    int16_t measure_unit;
    double sensitivity;  // volts per unit
    double gain;
    double bits;
    double range;
    bool calibrated;
    double counts_per_si_unit;
    int derivatives;  // from the sensor's motion to acceleration
};

TEST(NoisePsd, CalibrationGivesCountsPerGroundMotion) {
    const CalibrationCase cases[] = {
        // 100 V per m/s, x10, 24 bits over 20 V.
        {"velocity in m", 1, 1, 100, 10, 24, 20, true, 100 * 10 * 16777216.0 / 20, 1},
        // 0.1 V per mm/s is 100 V per m/s.
        {"velocity in mm", 1, 3, 0.1, 10, 24, 20, true, 100 * 10 * 16777216.0 / 20, 1},
        // 1 mV per um is 1000 V per m.
        {"displacement in um", 2, 4, 0.001, 1, 16, 10, true, 1000 * 65536.0 / 10, 2},
        // 10 mV per cm/s^2 is 1 V per m/s^2.
        {"acceleration in cm", 3, 2, 0.01, 1000, 18, 20, true, 1000 * 262144.0 / 20, 0},
        {"acceleration in nm", 3, 5, 1e-9, 1, 16, 20, true, 65536.0 / 20, 0},
        {"unknown sensor", 0, 1, 100, 10, 24, 20, false, 1, 0},
        {"unit not set", 1, 0, 100, 10, 24, 20, false, 1, 0},
        {"no gain", 1, 1, 100, 0, 24, 20, false, 1, 0},
        {"negative range", 1, 1, 100, 10, 24, -20, false, 1, 0},
        {"bits not a number", 1, 1, 100, 10, NAN, 20, false, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        config::ChannelSettings channel;
        channel.sensor_type = c.sensor_type;
        channel.measure_unit = c.measure_unit;
        channel.sensor_sensitivity = c.sensitivity;
        channel.amplifier_gain = c.gain;
        channel.ad_bits = c.bits;
        channel.ad_range = c.range;
        GroundResponse response = ChannelGroundResponse(channel);
        EXPECT_EQ(response.calibrated(), c.calibrated);
        EXPECT_EQ(response.uncalibrated_reason.empty(), c.calibrated);
        for (double f : {0.05, 1.0, 8.0}) {
            double expected = c.calibrated ? std::pow(kTwoPi * f, 2 * c.derivatives) /
                                                 (c.counts_per_si_unit * c.counts_per_si_unit)
                                           : 1.0;
            EXPECT_NEAR(AccelerationPowerFactor(response, f) / expected, 1, 1e-9) << f << " Hz";
        }
    }
}

// A geophone of 1 s and 0.707 damping: flat in velocity well above 1 Hz, down by 1/(2h) at
// its natural frequency and falling as f^2 below it, so removing it raises the long periods.
TEST(NoisePsd, VelocitySensorPolesAreRemovedBelowTheNaturalFrequency) {
    GroundResponse flat;
    flat.motion = GroundMotion::velocity;
    flat.counts_per_unit = 1e9;
    GroundResponse geophone = WithVelocitySensorPoles(flat, 1.0, 0.707);
    struct {
        double f;
        double magnitude;
    } const cases[] = {{20, 1.0}, {1, 1 / (2 * 0.707)}, {0.05, 0.0025}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.f);
        EXPECT_NEAR(ResponseMagnitude(geophone, c.f) / c.magnitude, 1, 0.01);
        EXPECT_NEAR(AccelerationPowerFactor(geophone, c.f) /
                        (AccelerationPowerFactor(flat, c.f) / (c.magnitude * c.magnitude)),
                    1, 0.01);
    }
}

// The largest power of two in a quarter hour, within its bounds.
TEST(NoisePsd, PieceLengthByRate) {
    const std::pair<double, int> cases[] = {{0, 0},         {0.05, 0},    {1, 512},
                                            {20, 16384},    {100, 65536}, {200, 131072},
                                            {1200, 131072}, {NAN, 0},     {-5, 0}};
    for (auto [rate, length] : cases) EXPECT_EQ(PsdPieceLength(rate), length) << rate;
}

// --- hours as the samples come ------------------------------------------------------------

struct HourlyFeed {
    // Feeds whole seconds of white noise from `from_s` up to `to_s` (epoch seconds).
    std::vector<PsdHour> feed(int64_t from_s, int64_t to_s) {
        std::vector<PsdHour> hours;
        for (int64_t t = from_s; t < to_s; ++t) {
            std::vector<int32_t> second(static_cast<size_t>(rate));
            for (auto& v : second) v = static_cast<int32_t>(std::lround(normal(generator)));
            if (auto hour = psd.add(t * 1'000'000, rate, second, unit_accelerometer())) {
                hours.push_back(*hour);
            }
        }
        return hours;
    }
    double rate = 20;
    HourlyPsd psd;
    std::mt19937 generator{11};
    std::normal_distribution<double> normal{0, 200};
};

TEST(NoisePsd, HoursAreGivenOutWhenComplete) {
    HourlyFeed f;
    const int64_t ten = 1'765'000'800;  // a whole hour
    ASSERT_EQ(ten % 3600, 0);
    // Half of 10:00 (too little), all of 11:00, then 12:00 with twenty minutes missing.
    auto hours = f.feed(ten + 1800, ten + 2 * 3600);
    EXPECT_TRUE(hours.empty());
    hours = f.feed(ten + 2 * 3600, ten + 2 * 3600 + 1);
    ASSERT_EQ(hours.size(), 1u);
    EXPECT_EQ(hours[0].start_us, (ten + 3600) * 1'000'000);
    // 72000 samples in pieces of 16384 every 4096.
    EXPECT_EQ(hours[0].curve.pieces, 14);
    const double expected = 10 * std::log10(2 * 200.0 * 200.0 / f.rate);
    double sum = 0;
    for (double level : hours[0].curve.level_db) sum += level;
    EXPECT_NEAR(sum / static_cast<double>(hours[0].curve.level_db.size()), expected, 0.5);

    hours = f.feed(ten + 2 * 3600 + 1, ten + 2 * 3600 + 600);
    hours = f.feed(ten + 2 * 3600 + 1800, ten + 3 * 3600 + 1);
    EXPECT_TRUE(hours.empty()) << "an hour with a gap of half of it";
}

}  // namespace
}  // namespace velkantor::display
