#include "display/noise_models.h"

#include <array>
#include <cmath>

namespace velkantor::display {

namespace {

// Peterson (1993), USGS Open-File Report 93-322, tables of the two models.
constexpr std::array<NoiseSegment, 21> kLowNoise = {{
    {0.10, -162.36, 5.64},    {0.17, -166.70, 0.00},    {0.40, -170.00, -8.30},
    {0.80, -166.40, 28.90},   {1.24, -168.60, 52.48},   {2.40, -159.98, 29.81},
    {4.30, -141.10, 0.00},    {5.00, -71.36, -99.77},   {6.00, -97.26, -66.49},
    {10.00, -132.18, -31.57}, {12.00, -205.27, 36.16},  {15.60, -37.65, -104.33},
    {21.90, -114.37, -47.10}, {31.60, -160.58, -16.28}, {45.00, -187.50, 0.00},
    {70.00, -216.47, 15.70},  {101.00, -185.00, 0.00},  {154.00, -168.34, -7.61},
    {328.00, -217.43, 11.90}, {600.00, -258.28, 26.60}, {10000.00, -346.88, 48.75},
}};

constexpr std::array<NoiseSegment, 11> kHighNoise = {{
    {0.10, -108.73, -17.23},
    {0.22, -150.34, -80.50},
    {0.32, -122.31, -23.87},
    {0.80, -116.85, 32.51},
    {3.80, -108.48, 18.08},
    {4.60, -74.66, -32.95},
    {6.30, 0.66, -127.18},
    {7.90, -93.37, -22.42},
    {15.40, 73.54, -162.98},
    {20.00, -151.52, 10.01},
    {354.80, -206.66, 31.63},
}};

// The high model's published breakpoints give only two points over its last piece, which
// spans more than two decades; 30000 and 10000 s sit on that same straight piece.
constexpr std::array<double, 14> kHighNoisePeriods = {
    100000, 30000, 10000, 354.8, 20, 15.4, 7.9, 6.3, 4.6, 3.8, 0.8, 0.32, 0.22, 0.10};

NoisePoint point_at(NoiseModel model, double period_s) {
    return {-std::log10(period_s), NoiseModelLevel(model, period_s)};
}

}  // namespace

std::span<const NoiseSegment> NoiseModelSegments(NoiseModel model) {
    if (model == NoiseModel::low) return kLowNoise;
    return kHighNoise;
}

double NoiseModelLevel(NoiseModel model, double period_s) {
    auto segments = NoiseModelSegments(model);
    const NoiseSegment* piece = &segments.front();
    for (const auto& segment : segments) {
        if (segment.period_s <= period_s) piece = &segment;
    }
    return piece->a + piece->b * std::log10(period_s);
}

const std::vector<NoisePoint>& LowNoiseModelPoints() {
    static const std::vector<NoisePoint> points = [] {
        std::vector<NoisePoint> p{point_at(NoiseModel::low, kNoiseModelLongestPeriod)};
        for (auto it = kLowNoise.rbegin(); it != kLowNoise.rend(); ++it) {
            p.push_back(point_at(NoiseModel::low, it->period_s));
        }
        return p;
    }();
    return points;
}

const std::vector<NoisePoint>& HighNoiseModelPoints() {
    static const std::vector<NoisePoint> points = [] {
        std::vector<NoisePoint> p;
        for (double period : kHighNoisePeriods) p.push_back(point_at(NoiseModel::high, period));
        return p;
    }();
    return points;
}

}  // namespace velkantor::display
