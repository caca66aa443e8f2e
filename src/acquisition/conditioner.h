#pragma once

#include <array>

#include "config/settings.h"
#include "runtime/run_state.h"

namespace velkantor::acquisition {

struct ExtenderCoefficients {
    double a0 = 0;
    double b1 = 0;
    double b2 = 0;
    bool unstable = false;  // r above 0.9999; reported, not acted on
};

// The short fixed chain between a decoded value and the value every consumer gets:
// averaging of the slowest rates, the period extender, DC removal, clipping, inversion.
class Conditioner {
public:
    static ExtenderCoefficients PeriodExtenderDesign(double fs, double bandwidth, double frequency);

    // Start of a run: design the period extender of a channel (setting 1, 2 or 3).
    void design(int ch, int16_t period_extender, int rate);
    // Start/restart block: the averaging sums start again.
    void reset_averages();

    // Averaging for channels below 3 samples per second. False: the sample is held back.
    bool average(int ch, runtime::RunState& run);
    double PeriodExtenderStep(double x, int ch);
    // Period extender (when set), offset, clipping and inversion into sample_value[ch].
    void ConditionSample(int ch, runtime::RunState& run, const config::ChannelSettings& channel);
    void extend(int ch, runtime::RunState& run, int16_t period_extender);

    // The running DC level, kept by the detector.
    std::array<double, config::kChannels> dc_average{};

private:
    std::array<int16_t, config::kChannels> average_count_{};
    std::array<double, config::kChannels> average_sum_{};
    std::array<ExtenderCoefficients, config::kChannels> extender_{};
    // y(n-2), y(n-1), y(n): kept from run to run.
    std::array<std::array<double, 3>, config::kChannels> extender_state_{};
};

}  // namespace velkantor::acquisition
