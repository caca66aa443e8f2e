#include "config/hardware_rules.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "config/rates.h"
#include "config/settings_file.h"
#include "timekeeping/trim_boxes.h"

namespace velkantor::testing {
namespace {

using Rates = std::array<int16_t, 4>;

config::Settings settings_with(int16_t ad_type, const Rates& rates) {
    config::Settings settings;
    config::SetDefaultConfiguration(settings, "/station");
    settings.general.ad_type = ad_type;
    for (size_t c = 0; c < rates.size(); ++c) {
        settings.channels[c].sps_index = rates[c];
        config::UpdateDerivedCounts(settings.channels[c]);
    }
    return settings;
}

Rates rates_of(const config::Settings& settings) {
    Rates rates{};
    for (size_t c = 0; c < rates.size(); ++c) rates[c] = settings.channels[c].sps_index;
    return rates;
}

int16_t index_of(double rate) {
    for (int i = 0; i < config::kRateEntries; ++i) {
        if (config::nominal_rate(i) == rate) return static_cast<int16_t>(i);
    }
    ADD_FAILURE() << "no rate " << rate;
    return 0;
}

Rates indexes(std::array<double, 4> rates) {
    Rates out{};
    for (size_t c = 0; c < out.size(); ++c) out[c] = index_of(rates[c]);
    return out;
}

TEST(InterfaceType, RatesAndClockFollowTheInterface) {
    struct Case {
        const char* what;
        int16_t from_type;
        int16_t to_type;
        std::array<double, 4> before;
        std::array<double, 4> after;
        bool changed;
        bool pc_clock_free;  // pc_rtc 1, pc_sync 0
    };
    const std::vector<Case> cases = {
        {"single-channel instrument",
         config::kZeda18,
         config::kInfiltec,
         {100, 5, 5, 0},
         {50, 0, 0, 0},
         true,
         true},
        {"already single-channel",
         config::kLx1500,
         config::kLx1500,
         {50, 0, 0, 0},
         {50, 0, 0, 0},
         false,
         true},
        {"DATAQ leaves the ZEDA rates",
         config::kZeda18,
         config::kDataqDi194rs,
         {25, 50, 100, 200},
         {20, 30, 80, 120},
         true,
         true},
        {"DATAQ keeps its own",
         config::kDataqDi194rs,
         config::kDataqDi194rs,
         {15, 30, 80, 240},
         {15, 30, 80, 240},
         false,
         true},
        {"ZEDA leaves the DATAQ rates",
         config::kDataqDi194rs,
         config::kZeda10,
         {15, 30, 60, 120},
         {10, 25, 50, 100},
         true,
         false},
        // One step down from 80 is 60, another DATAQ rate: it goes on to 50.
        {"ZEDA from 80 and 240",
         config::kDataqDi194rs,
         config::kZeda30,
         {80, 240, 0, 5},
         {50, 200, 0, 5},
         true,
         false},
        {"ZEDA keeps its own",
         config::kZeda18,
         config::kZeda20,
         {100, 200, 25, 0},
         {100, 200, 25, 0},
         false,
         false},
    };
    for (const Case& c : cases) {
        auto settings = settings_with(c.from_type, indexes(c.before));
        EXPECT_EQ(config::ApplyInterfaceType(settings, c.to_type), c.changed) << c.what;
        EXPECT_EQ(settings.general.ad_type, c.to_type) << c.what;
        EXPECT_EQ(rates_of(settings), indexes(c.after)) << c.what;
        EXPECT_EQ(settings.general.pc_rtc == 1 && settings.general.pc_sync == 0, c.pc_clock_free)
            << c.what;
        for (const auto& channel : settings.channels) {
            // The pre-event ring is sized from the rate: it must follow the new one.
            EXPECT_EQ(channel.pre_event_samples,
                      config::nominal_rate(channel.sps_index) * channel.pre_event_minutes * 60)
                << c.what;
        }
    }
}

TEST(NumberFields, ClampedAsTheyAreLeft) {
    struct Case {
        std::string (*check)(std::string_view);
        const char* typed;
        const char* shown;
    };
    const std::vector<Case> cases = {
        {config::PurgeDaysText, "500", "360"},       {config::PurgeDaysText, "0", "1"},
        {config::PurgeDaysText, "abc", "1"},         {config::PurgeDaysText, "12.5", "12.5"},
        {config::WatchdogSecondsText, "3", "5"},     {config::WatchdogSecondsText, "1000", "999"},
        {config::WatchdogSecondsText, "1e999", "5"}, {config::HoursPerRowText, "5", "6"},
        {config::HoursPerRowText, "7", "8"},         {config::HoursPerRowText, "9", "8"},
        {config::HoursPerRowText, "1", "2"},         {config::HoursPerRowText, "4", "4"},
        {config::HoursPerRowText, "5.4", "6"},       {config::HoursPerRowText, "7.5", "8"},
        {config::HoursPerRowText, "4.5", "4"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.check(c.typed), c.shown) << c.typed;
    EXPECT_EQ(config::checked_field_value("12.5"), 12);
    EXPECT_EQ(config::checked_field_value("13.5"), 14);
}

TEST(TrimBoxes, KnownErrorsAndTheirReadBack) {
    struct Case {
        double error;
        timekeeping::TrimBoxes boxes;
        const char* read_back;
    };
    const std::vector<Case> cases = {
        {1, {"80", "51", "01", "01"}, "1.00000000"},
        {-2, {"40", "57", "FF", "00"}, "-2.00000000"},
        {0, {"FF", "FF", "FF", "01"}, "0.00514984"},  // no correction
        {7, {"37", "30", "00", "01"}, "6.99991898"},
        {-0.001, {"01", "00", "00", "00"}, "-0.00514984"},  // magnitude capped
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timekeeping::trim_boxes_for_error(c.error), c.boxes) << c.error;
        EXPECT_EQ(timekeeping::clock_error_text(c.boxes), c.read_back) << c.error;
    }
}

TEST(TrimBoxes, WhatTheBoxesHold) {
    using timekeeping::TrimBoxes;
    EXPECT_EQ(timekeeping::trim_boxes_from_hex("0a0B0C0D"), (TrimBoxes{"0a", "0B", "0C", "0D"}));
    EXPECT_EQ(timekeeping::trim_boxes_from_hex("ABCDE"), (TrimBoxes{"AB", "CD", "E", ""}));
    EXPECT_EQ(timekeeping::normal_trim_box("a"), "0A");
    EXPECT_EQ(timekeeping::normal_trim_box("fe"), "FE");
    EXPECT_EQ(timekeeping::normal_trim_box(""), "");

    const std::vector<std::pair<TrimBoxes, const char*>> errors = {
        {{"FF", "FF", "FF", "02"}, "-0.00514984"},  // the null record, no trimming
        {{"80", "51", "1", "1"}, "1.00000000"},     // single digits are bytes too
        {{"00", "00", "00", "01"}, "???"},          // a trim of 0
        {{"80", "51", "0G", "01"}, "???"},         {{"80", "51", "", "01"}, "???"},
        {{"80", "51", "101", "01"}, "???"},
    };
    for (const auto& [boxes, text] : errors) {
        EXPECT_EQ(timekeeping::clock_error_text(boxes), text) << boxes[2];
    }
    EXPECT_EQ(timekeeping::trim_record_from_boxes({"40", "57", "ff", "0"}),
              (timekeeping::TrimRecord{0x40, 0x57, 0xFF, 0x00}));
    EXPECT_FALSE(timekeeping::trim_record_from_boxes({"40", "57", "FF", ""}));
}

}  // namespace
}  // namespace velkantor::testing
