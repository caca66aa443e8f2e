#pragma once

#include <span>
#include <vector>

// The reference seismic noise models drawn over a spectrum: the New Low Noise Model and the
// New High Noise Model of Peterson (1993), acceleration power in dB relative to
// 1 (m/s^2)^2/Hz.
namespace velkantor::display {

// One straight piece of a model: level(T) = a + b log10(T) for periods from `period_s` up to
// the next piece's period.
struct NoiseSegment {
    double period_s;
    double a;
    double b;
};

enum class NoiseModel { low, high };

// The published pieces of a model, shortest period first. Both models end at 100000 s.
std::span<const NoiseSegment> NoiseModelSegments(NoiseModel model);
inline constexpr double kNoiseModelLongestPeriod = 100000;

// The model's level at a period, from the piece that contains it; the longest period uses
// the last piece. Periods outside 0.10 .. 100000 s are extrapolated from the end pieces.
double NoiseModelLevel(NoiseModel model, double period_s);

struct NoisePoint {
    double log10_frequency;  // log10 of Hz
    double level_db;
};

// The points drawn for a model, lowest frequency (longest period) first, so that consecutive
// points are joined by straight segments: the low model at its 22 breakpoint periods, the
// high model at its breakpoints with two more points on its last piece (30000 and 10000 s).
const std::vector<NoisePoint>& LowNoiseModelPoints();
const std::vector<NoisePoint>& HighNoiseModelPoints();

}  // namespace velkantor::display
