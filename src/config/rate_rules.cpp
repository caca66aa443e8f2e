#include "config/rate_rules.h"

#include <algorithm>
#include <initializer_list>

#include "config/rates.h"
#include "config/settings_file.h"

namespace velkantor::config {

namespace {

bool one_of(double rate, std::initializer_list<double> rates) {
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

}  // namespace

RateChoice CheckRateChoice(int16_t ad_type, int sps_index) {
    double rate = nominal_rate(sps_index);
    bool off = sps_index == 0;
    bool zeda =
        ad_type == kZeda10 || ad_type == kZeda18 || ad_type == kZeda20 || ad_type == kZeda30;
    if (zeda && one_of(rate, {15, 30, 60, 80, 120, 240})) {
        return {false, "Errror", "Freq to be used only with DATAQ DI194RS a/d board"};
    }
    if (ad_type == kDataqDi194rs && one_of(rate, {25, 50, 100, 200})) {
        return {false, "Errror", "Freq to be used only with ZEDAx a/d boards"};
    }
    if (ad_type == kZeda20 && !off && !one_of(rate, {5, 10, 20, 25, 50, 100, 200}) &&
        !(rate > 200)) {
        return {false, "Error", "Freq not allowed for the ZEDA20 24 bit board"};
    }
    if (ad_type == kZeda30 && !off && !one_of(rate, {5, 10, 25, 50, 100})) {
        return {false, "Error", "Freq not allowed for the ZEDA30 16 channel board"};
    }
    return {};
}

void ApplyRateChoice(Settings& settings, int ch, int sps_index) {
    auto index = static_cast<int16_t>(sps_index);
    settings.channels[static_cast<size_t>(ch & 3)].sps_index = index;
    int16_t ad_type = settings.general.ad_type;
    if (ad_type == kZeda20) {
        // The 24-bit board runs channels 1 to 3 at one rate and has no fourth.
        for (int c = 0; c < 3; ++c) {
            auto& channel = settings.channels[static_cast<size_t>(c)];
            if (channel.sps_index > 0) channel.sps_index = index;
        }
        settings.channels[3].sps_index = 0;
    } else if (ad_type == kZeda30) {
        for (auto& channel : settings.channels) {
            if (channel.sps_index > 0) channel.sps_index = index;
        }
    }
    for (auto& channel : settings.channels) UpdateDerivedCounts(channel);
}

}  // namespace velkantor::config
