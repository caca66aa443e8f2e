#include "signal_generator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "hash.h"

namespace velkantor::sim {

namespace {

// Uniform in [0, 1) from the top 53 bits.
double unit(uint64_t h) {
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kMicroseismHz = 0.15;
// 0.15 Hz repeats exactly every 20 s; taking the phase within that period keeps it exact
// at epoch-sized tick counts.
constexpr int64_t kMicroseismPeriodSeconds = 20;
// A burst longer than this many periods is cut short rather than summed without end.
constexpr int kMaxOverlappingQuakes = 64;

}  // namespace

SignalGenerator::SignalGenerator(const BoardOptions& options, int ticks_per_second, int sample_bits)
    : seed_(options.seed),
      noise_(options.noise_amplitude),
      every_(options.quake_every_seconds),
      ticks_per_second_(std::max(ticks_per_second, 1)),
      min_(-(int32_t{1} << (sample_bits - 1))),
      max_((int32_t{1} << (sample_bits - 1)) - 1) {
    for (const Quake& q : options.quakes) {
        bursts_.push_back({text::to_epoch_seconds(q.board_time) * ticks_per_second_,
                           q.duration_seconds, q.amplitude});
    }
}

double SignalGenerator::burst(int channel, double t, double duration, double amplitude) const {
    if (t < 0 || t >= duration || duration <= 0) return 0;
    // Decays to about 1 % by the end of the burst; each channel rings at its own pitch, as
    // the vertical and horizontal components of a real record do.
    double envelope = std::exp(-4.6 * t / duration);
    double f = 2.0 + 0.5 * channel;
    return amplitude * envelope *
           (0.75 * std::sin(kTwoPi * f * t) + 0.25 * std::sin(kTwoPi * 1.7 * f * t));
}

double SignalGenerator::periodic_quakes(int channel, int64_t tick) const {
    if (every_ <= 0) return 0;
    const Quake shape;
    const int64_t day_ticks = int64_t{86400} * ticks_per_second_;
    const double tps = ticks_per_second_;
    int64_t today = floor_div(tick, day_ticks) * day_ticks;
    double sum = 0;
    // A burst that starts late in the day rings on past midnight.
    for (int64_t day : {today, today - day_ticks}) {
        double since_day = static_cast<double>(tick - day) / tps;
        double last_k = std::floor(std::min(since_day, 86400.0 - 1e-9) / every_);
        for (int n = 0; n < kMaxOverlappingQuakes && last_k - n >= 0; ++n) {
            double after = since_day - (last_k - n) * every_;
            if (after >= shape.duration_seconds) break;
            sum += burst(channel, after, shape.duration_seconds, shape.amplitude);
        }
    }
    return sum;
}

int32_t SignalGenerator::at_tick(int channel, int64_t tick) const {
    uint64_t h =
        mix(seed_ ^ mix(static_cast<uint64_t>(channel) ^ mix(static_cast<uint64_t>(tick))));
    // Sum of two uniforms: peaks at the amplitude but mostly near zero, like real noise.
    double noise = noise_ * (unit(h) + unit(mix(h)) - 1.0);

    const int64_t period = kMicroseismPeriodSeconds * ticks_per_second_;
    int64_t within = tick - floor_div(tick, period) * period;
    double phase0 = kTwoPi * unit(mix(seed_ + 0x51ED + static_cast<uint64_t>(channel)));
    double microseism =
        noise_ / 3.0 *
        std::sin(kTwoPi * kMicroseismHz * static_cast<double>(within) / ticks_per_second_ + phase0);

    double quakes = periodic_quakes(channel, tick);
    for (const Burst& b : bursts_) {
        double after = (static_cast<double>(tick) - b.onset_tick) / ticks_per_second_;
        quakes += burst(channel, after, b.duration, b.amplitude);
    }

    double v = std::round(noise + microseism + quakes);
    return static_cast<int32_t>(
        std::clamp(v, static_cast<double>(min_), static_cast<double>(max_)));
}

int32_t SignalGenerator::at(int channel, double board_epoch_seconds) const {
    return at_tick(channel, std::llround(board_epoch_seconds * ticks_per_second_));
}

}  // namespace velkantor::sim
