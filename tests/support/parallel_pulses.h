#pragma once

#include <cmath>
#include <vector>

#include "platform/fake/fake_devices.h"

namespace velkantor::testing {

// Ticks (counted from the first, at `first_tick`) at which bit 0 of the parallel port rose,
// and, when asked, how long each pulse stayed up.
inline std::vector<int> rising_ticks(const platform::FakeParallelPort& lpt, double first_tick,
                                     std::vector<double>* widths = nullptr) {
    std::vector<int> ticks;
    bool high = false;
    double rose = 0;
    for (const auto& w : lpt.writes) {
        bool now = (w.value & 1) != 0;
        if (now && !high) {
            rose = w.epoch_seconds;
            ticks.push_back(static_cast<int>(std::lround(w.epoch_seconds - first_tick)) + 1);
        }
        if (!now && high && widths) widths->push_back(w.epoch_seconds - rose);
        high = now;
    }
    return ticks;
}

}  // namespace velkantor::testing
