#include "timekeeping/utc_offset.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/real/system_clock.h"

namespace velkantor::timekeeping {
namespace {

constexpr int kHour = 3600;

// Board time minus UTC by who set the board last, the receiver, the correction and the season.
TEST(UtcOffset, FollowsWhoKeepsTheBoardTime) {
    using S = BoardTimeSource;
    struct Case {
        S source;
        int sync_source;  // 1 DCF77, 0 GPS
        int gmt_offset;
        bool daylight;
        int pc_offset;
        int expected;
    };
    for (const auto& c : {
             // Set from the PC (or an instrument without a clock): the PC's zone, whatever
             // the receiver settings say.
             Case{S::pc, 1, 0, false, 1 * kHour, 1 * kHour},
             Case{S::pc, 1, 0, true, 2 * kHour, 2 * kHour},
             Case{S::pc, 0, 5, false, -5 * kHour, -5 * kHour},
             Case{S::pc, 0, 0, false, 5 * kHour + 1800, 5 * kHour + 1800},
             // DCF77: CET in winter, CEST when the daylight bit is set, plus the correction
             // (stored one less than the zone the time window shows).
             Case{S::receiver, 1, 0, false, 0, 1 * kHour},
             Case{S::receiver, 1, 0, true, 0, 2 * kHour},
             Case{S::receiver, 1, -1, false, 7 * kHour, 0},  // the board keeps UTC in winter
             Case{S::receiver, 1, -1, true, 0, 1 * kHour},
             Case{S::receiver, 1, 1, true, 0, 3 * kHour},
             // GPS: UTC plus the correction; the daylight bit means nothing.
             Case{S::receiver, 0, 0, true, 2 * kHour, 0},
             Case{S::receiver, 0, -5, false, 0, -5 * kHour},
             Case{S::receiver, 0, 9, false, 0, 9 * kHour},
         }) {
        UtcOffsetInputs in{c.source, c.sync_source, c.gmt_offset, c.daylight, c.pc_offset};
        EXPECT_EQ(board_utc_offset(in), c.expected)
            << (c.source == S::pc ? "pc " : "receiver ") << c.sync_source << " " << c.gmt_offset
            << " " << c.daylight;
    }
}

// The machine's zone at a local time, summer and winter and the hours of the changes, read
// from the system's zone rules under TZ (restored after).
class WithZone {
public:
    explicit WithZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~WithZone() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    WithZone(const WithZone&) = delete;
    WithZone& operator=(const WithZone&) = delete;

private:
    std::optional<std::string> old_;
};

TEST(UtcOffset, MachineZoneAtALocalTime) {
    struct Case {
        const char* zone;
        text::DateTime local;
        int expected;
    };
    platform::SystemClock clock;
    for (const auto& c : {
             Case{"Europe/Berlin", {2026, 1, 15, 12, 0, 0, 0}, 1 * kHour},
             Case{"Europe/Berlin", {2026, 7, 15, 12, 0, 0, 0}, 2 * kHour},
             // Spring: 01:59:59 is still CET, 03:00:00 already CEST.
             Case{"Europe/Berlin", {2026, 3, 29, 1, 59, 59, 0}, 1 * kHour},
             Case{"Europe/Berlin", {2026, 3, 29, 3, 0, 0, 0}, 2 * kHour},
             // Autumn: 03:00:00 is CET again; 01:59:59 CEST.
             Case{"Europe/Berlin", {2026, 10, 25, 1, 59, 59, 0}, 2 * kHour},
             Case{"Europe/Berlin", {2026, 10, 25, 3, 0, 0, 0}, 1 * kHour},
             Case{"America/New_York", {2026, 1, 15, 12, 0, 0, 0}, -5 * kHour},
             Case{"America/New_York", {2026, 7, 15, 12, 0, 0, 0}, -4 * kHour},
             Case{"Asia/Kolkata", {2026, 7, 15, 12, 0, 0, 0}, 5 * kHour + 1800},
             Case{"UTC", {2026, 7, 15, 12, 0, 0, 0}, 0},
         }) {
        WithZone zone(c.zone);
        EXPECT_EQ(clock.utc_offset_at(c.local), c.expected)
            << c.zone << " " << c.local.month << "/" << c.local.day << " " << c.local.hour;
    }
    // The hour that happens twice (02:00 to 03:00 at the end of summer time) is taken as the
    // one of the two nearer to now: long past, both are as near, and either is an answer.
    WithZone zone("Europe/Berlin");
    const int twice = clock.utc_offset_at({2026, 10, 25, 2, 30, 0, 0});
    EXPECT_TRUE(twice == kHour || twice == 2 * kHour) << twice;
}

}  // namespace
}  // namespace velkantor::timekeeping
