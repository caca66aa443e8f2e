#include "acquisition/conditioner.h"

#include <cmath>
#include <limits>

#include "text/number_text.h"

namespace velkantor::acquisition {

namespace {

constexpr double kTwoPi = 6.28318530718;

// A double that does not fit 32 bits is an overflow: the statement is skipped.
bool fits_i32(double value) {
    return std::isfinite(value) && value >= std::numeric_limits<int32_t>::min() &&
           value <= std::numeric_limits<int32_t>::max();
}

}  // namespace

ExtenderCoefficients Conditioner::PeriodExtenderDesign(double fs, double bandwidth,
                                                       double frequency) {
    ExtenderCoefficients c;
    if (fs <= 0) return c;
    double w = frequency * kTwoPi / fs;
    double r = 1 - bandwidth * kTwoPi / fs / 2;
    c.a0 = (1 - r) * std::sqrt(1 - 2 * r * std::cos(2 * w) + r * r);
    c.b1 = -2 * r * std::cos(w);
    c.b2 = r * r;
    c.unstable = r > 0.9999;
    return c;
}

void Conditioner::design(int ch, int16_t period_extender, int rate) {
    static const double kFrequency[] = {0, 1.0, 0.3, 0.05};
    if (period_extender < 1 || period_extender > 3) return;
    extender_[static_cast<size_t>(ch)] =
        PeriodExtenderDesign(rate, 8.0, kFrequency[period_extender]);
}

void Conditioner::reset_averages() {
    average_count_.fill(0);
    average_sum_.fill(0);
    // The auto offset's level is learnt again, as the detector's is.
    dc_average.fill(0);
}

bool Conditioner::average(int ch, runtime::RunState& run) {
    auto c = static_cast<size_t>(ch);
    double rate = run.configured_rate[c];
    if (rate >= 3) return true;
    average_count_[c] = static_cast<int16_t>(average_count_[c] + 1);
    if (rate == 0 || average_count_[c] == 0) return true;
    average_sum_[c] += run.raw_sample[c];
    if (average_count_[c] < 2 / rate) return false;
    double mean = text::round_half_even(average_sum_[c] / average_count_[c]);
    if (fits_i32(mean)) run.raw_sample[c] = static_cast<int32_t>(mean);
    average_count_[c] = 0;
    average_sum_[c] = 0;
    return true;
}

double Conditioner::PeriodExtenderStep(double x, int ch) {
    auto c = static_cast<size_t>(ch);
    auto& k = extender_[c];
    auto& y = extender_state_[c];
    double out = k.a0 * x - k.b1 * y[1] - k.b2 * y[0];
    if (!std::isfinite(out)) out = 0;  // a diverging filter starts again from rest
    y[0] = y[1];
    y[1] = out;
    y[2] = out;
    return out;
}

void Conditioner::extend(int ch, runtime::RunState& run, int16_t period_extender) {
    if (period_extender <= 0) return;
    auto c = static_cast<size_t>(ch);
    double y = PeriodExtenderStep(run.raw_sample[c], ch);
    double v = text::round_half_even(run.raw_sample[c] + 5 * y);
    if (fits_i32(v)) run.raw_sample[c] = static_cast<int32_t>(v);
}

void Conditioner::ConditionSample(int ch, runtime::RunState& run,
                                  const config::ChannelSettings& channel) {
    auto c = static_cast<size_t>(ch);
    double offset = channel.auto_offset != 0 ? -text::round_half_even(dc_average[c])
                                             : text::round_half_even(channel.dc_offset);
    double v = run.raw_sample[c] + (std::isfinite(offset) ? offset : 0.0);
    if (v > run.clip_upper) v = run.clip_upper;
    if (v < run.clip_lower) v = run.clip_lower;
    auto value = static_cast<int32_t>(v);
    if (channel.invert > 0) value = -value;
    run.sample_value[c] = value;
}

}  // namespace velkantor::acquisition
