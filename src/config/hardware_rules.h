#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings.h"

// The rules of the hardware setup window that do not need a window: the interface type's
// consequences, the service mode and the checks of its number fields.
namespace velkantor::config {

inline constexpr const char* kRatesChangedText =
    "SPS selection changed according to the\r\nselected board capability.";

// Sets `ad_type` and brings the rates and the PC clock options in line with what that
// interface can do; the derived sample counts follow the rates. True when any channel's rate
// changed (the operator is told).
bool ApplyInterfaceType(Settings& settings, int16_t ad_type);

// `service_mode` from the two boxes: 1 for mode 1, 2 for mode 2, 3 for both.
int16_t service_mode_of(bool mode1, bool mode2);
bool service_mode1_ticked(int16_t service_mode);
bool service_mode2_ticked(int16_t service_mode);

// The number fields as they are left (focus lost or ENTER): clamped, written back plainly.
std::string PurgeDaysText(std::string_view text);        // 1..360 days
std::string WatchdogSecondsText(std::string_view text);  // 5..999 seconds
// 2..8 whole hours, and only the ones that divide the day's rows evenly: 5 becomes 6 and
// 7 becomes 8.
std::string HoursPerRowText(std::string_view text);
// The whole number a checked field holds (halves to even).
int16_t checked_field_value(std::string_view text);

}  // namespace velkantor::config
