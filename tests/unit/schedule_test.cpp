#include "events/schedule.h"

#include <gtest/gtest.h>

namespace velkantor::events {
namespace {

TEST(ScheduleEntry, AddRules) {
    struct Case {
        const char* date;
        const char* time;
        const char* channel;
        int entries;
        const char* entry;  // nullptr: refused with `refusal`
        const char* refusal;
    };
    const Case cases[] = {
        {"2005/03/12", "14:30:00", "2", 0, "2005/03/12 14:30:00 Ch:2", nullptr},
        {"2005/3/2", "4:05", "3", 5, "2005/03/02 04:05:00 Ch:3", nullptr},
        {"2005/03/12", "14:30:00", "7", 0, "2005/03/12 14:30:00 Ch:1", nullptr},
        {"2005/03/12", "14:30:00", "-1", 0, "2005/03/12 14:30:00 Ch:1", nullptr},
        {"2005/03/12", "14:30:00", "0", 0, "2005/03/12 14:30:00 Ch:0", nullptr},
        {"2005/02/30", "14:30:00", "1", 0, nullptr, "Wrong date or time"},
        {"2005/03/12", "24:00:00", "1", 0, nullptr, "Wrong date or time"},
        {"tomorrow", "noon", "1", 0, nullptr, "Wrong date or time"},
        {"2005/03/12", "14:30:00", "1", 20, nullptr, "Maximum number of scheduled event is 20"},
    };
    for (const auto& c : cases) {
        auto edit = MakeScheduleEntry(c.date, c.time, c.channel, c.entries);
        if (c.entry) {
            EXPECT_TRUE(edit.ok) << c.date << " " << c.time;
            EXPECT_EQ(edit.entry, c.entry);
        } else {
            EXPECT_FALSE(edit.ok) << c.date << " " << c.time;
            EXPECT_EQ(edit.title, "Error");
            EXPECT_EQ(edit.text, c.refusal);
        }
    }
}

}  // namespace
}  // namespace velkantor::events
