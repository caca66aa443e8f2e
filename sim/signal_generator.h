#pragma once

#include <cstdint>
#include <vector>

#include "board_model.h"

namespace velkantor::sim {

// The ground motion a simulated board digitises. Every sample is a pure function of the
// seed, the channel and the board time counted in ticks of the board's sampling clock, so a
// test can recompute any sample the board sent, in any order, without replaying the stream.
//
// The signal is background noise (peak `noise_amplitude`), a slow microseism (0.15 Hz, a
// third of the noise), and quake bursts: a sharp onset with an exponentially decaying
// oscillation of a few hertz, at each listed quake and, with `quake_every_seconds`, at every
// whole multiple of that period counted from the start of each board day. Values are
// clipped to the board's sample width.
class SignalGenerator {
public:
    SignalGenerator(const BoardOptions& options, int ticks_per_second, int sample_bits);

    int32_t at_tick(int channel, int64_t tick) const;
    // The board time is taken to the nearest tick.
    int32_t at(int channel, double board_epoch_seconds) const;

    int32_t min_value() const { return min_; }
    int32_t max_value() const { return max_; }

private:
    struct Burst {
        double onset_tick;
        double duration;
        double amplitude;
    };
    double burst(int channel, double seconds_after_onset, double duration, double amplitude) const;
    double periodic_quakes(int channel, int64_t tick) const;

    uint64_t seed_;
    double noise_;
    double every_;
    int ticks_per_second_;
    int32_t min_;
    int32_t max_;
    std::vector<Burst> bursts_;
};

}  // namespace velkantor::sim
