#pragma once

#include <string>

#include "config/settings.h"

namespace velkantor::config {

// The main window's rate list checks a new rate against the interface type.
struct RateChoice {
    bool allowed = true;
    std::string title;    // of the refusal's message
    std::string message;  // empty when allowed
};
RateChoice CheckRateChoice(int16_t ad_type, int sps_index);

// Sets channel ch's rate (already checked) with the copy rules of the boards that run every
// channel at one rate, and recomputes the derived sample counts of the channels changed.
void ApplyRateChoice(Settings& settings, int ch, int sps_index);

}  // namespace velkantor::config
