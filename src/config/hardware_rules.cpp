#include "config/hardware_rules.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "config/rates.h"
#include "config/settings_file.h"
#include "text/number_text.h"

namespace velkantor::config {

namespace {

bool one_of(double rate, std::initializer_list<double> rates) {
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

// Steps a channel down the rate list past the rates the interface cannot run. One step is
// not always enough: below 80 on a ZEDA board lies 60, which only the DATAQ board runs.
void lower_past(ChannelSettings& channel, std::initializer_list<double> unusable) {
    while (channel.sps_index > 0 && one_of(nominal_rate(channel.sps_index), unusable)) {
        channel.sps_index = static_cast<int16_t>(channel.sps_index - 1);
    }
}

}  // namespace

bool ApplyInterfaceType(Settings& settings, int16_t ad_type) {
    auto& general = settings.general;
    general.ad_type = ad_type;
    std::array<int16_t, kChannels> before{};
    for (size_t c = 0; c < before.size(); ++c) before[c] = settings.channels[c].sps_index;

    switch (ad_type) {
        case kInfiltec:
        case kLx1500:
            // Single-channel instruments at their own pace; they send no time.
            settings.channels[0].sps_index = 12;
            for (size_t c = 1; c < settings.channels.size(); ++c)
                settings.channels[c].sps_index = 0;
            general.pc_rtc = 1;
            general.pc_sync = 0;
            break;
        case kDataqDi194rs:
            general.pc_rtc = 1;
            general.pc_sync = 0;
            for (auto& channel : settings.channels) lower_past(channel, {25, 50, 100, 200});
            break;
        case kZeda10:
        case kZeda18:
        case kZeda20:
        case kZeda30:
            for (auto& channel : settings.channels) lower_past(channel, {15, 30, 60, 80, 120, 240});
            break;
        default:
            break;
    }

    bool changed = false;
    for (size_t c = 0; c < before.size(); ++c) {
        if (settings.channels[c].sps_index != before[c]) {
            changed = true;
            UpdateDerivedCounts(settings.channels[c]);
        }
    }
    return changed;
}

int16_t service_mode_of(bool mode1, bool mode2) {
    return static_cast<int16_t>((mode1 ? 1 : 0) + (mode2 ? 2 : 0));
}

bool service_mode1_ticked(int16_t service_mode) {
    return (service_mode & 1) != 0;
}
bool service_mode2_ticked(int16_t service_mode) {
    return (service_mode & 2) != 0;
}

std::string PurgeDaysText(std::string_view text) {
    return text::ClampNumberText(text, 1, 360);
}

std::string WatchdogSecondsText(std::string_view text) {
    return text::ClampNumberText(text, 5, 999);
}

std::string HoursPerRowText(std::string_view text) {
    // A fraction would reach the setting rounded, possibly to 5 or 7: round first.
    double hours =
        text::round_half_even(text::leading_number(text::ClampNumberText(text, 2, 8)).value_or(2));
    if (hours == 5) hours = 6;
    if (hours == 7) hours = 8;
    return text::shortest_real(hours);
}

int16_t checked_field_value(std::string_view text) {
    double value = text::round_half_even(text::leading_number(text).value_or(0));
    return text::to_i16(value).value_or(0);
}

}  // namespace velkantor::config
