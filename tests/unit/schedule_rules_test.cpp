#include "events/schedule_rules.h"

#include <gtest/gtest.h>

namespace velkantor::events {
namespace {

TEST(ScheduleRules, ChannelTextIsTheDigitTheTriggerReadsOrNothing) {
    struct Case {
        const char* typed;
        const char* stored;  // nullptr: refused
    };
    const Case cases[] = {
        {"2", "2"},      {" 3 ", "3"},      {"02", "2"},      {"2.0", "2"},     {"0", "0"},
        {"4", "4"},      {"2abc", nullptr}, {"abc", nullptr}, {"5", nullptr},   {"9", nullptr},
        {"-1", nullptr}, {"1.5", nullptr},  {"", nullptr},    {"   ", nullptr}, {"1e999", nullptr},
    };
    for (const auto& c : cases) {
        auto stored = ScheduleChannelText(c.typed);
        if (c.stored) {
            EXPECT_EQ(stored, std::optional<std::string>(c.stored)) << '"' << c.typed << '"';
        } else {
            EXPECT_FALSE(stored) << '"' << c.typed << '"';
        }
    }
}

TEST(ScheduleRules, SplitToleratesWhatTheFileMayHold) {
    struct Case {
        const char* entry;
        const char* date;
        const char* time;
        const char* channel;
    };
    const Case cases[] = {
        {"2005/03/12 14:30:00 Ch:2", "2005/03/12", "14:30:00", "2"},
        {"2005/03/12 14:30:00 Ch:", "2005/03/12", "14:30:00", ":"},
        {"garbage", "garbage", "", "e"},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        const ScheduleFields fields = SplitScheduleEntry(c.entry);
        EXPECT_EQ(fields.date, c.date) << c.entry;
        EXPECT_EQ(fields.time, c.time) << c.entry;
        EXPECT_EQ(fields.channel, c.channel) << c.entry;
    }
}

TEST(ScheduleRules, ListAndApplyKeepElementsBeyondTwenty) {
    config::Settings settings;
    settings.schedule_lines[0] = "A";
    settings.schedule_lines[1] = "   ";
    settings.schedule_lines[2] = "B";
    settings.schedule_lines[20] = "element 21";
    settings.schedule_lines[24] = "element 25";
    EXPECT_EQ(ScheduleListEntries(settings), (std::vector<std::string>{"A", "B"}));

    ApplyScheduleList(settings, {"X"});
    EXPECT_EQ(settings.schedule_lines[0], "X");
    for (size_t k = 1; k < 20; ++k) EXPECT_EQ(settings.schedule_lines[k], "") << k;
    EXPECT_EQ(settings.schedule_lines[20], "element 21");
    EXPECT_EQ(settings.schedule_lines[24], "element 25");

    std::vector<std::string> too_many(21, "E");
    too_many.back() = "the 21st";
    ApplyScheduleList(settings, too_many);
    EXPECT_EQ(settings.schedule_lines[19], "E");
    EXPECT_EQ(settings.schedule_lines[20], "element 21");
}

}  // namespace
}  // namespace velkantor::events
