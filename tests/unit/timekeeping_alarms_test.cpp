#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "events/alarms.h"
#include "platform/fake/fake_devices.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

using events::Alarms;

// A loaded station with a parallel port and a sound that record what the alarm did.
struct AlarmStation {
    StationRig rig;
    platform::FakeParallelPort lpt;
    platform::FakeSound sound;

    AlarmStation() {
        rig.load();
        rig.station.set_devices({.parallel_port = &lpt, .sound = &sound});
        auto& general = rig.station.settings().general;
        general.lpt_port = 1;
        general.hw_alarm = 1;
    }
    Alarms& alarms() { return rig.station.alarms(); }
    auto& general() { return rig.station.settings().general; }
};

TEST(Alarms, RequestBeyondTheThreshold) {
    struct Case {
        int16_t enabled;
        int16_t threshold;
        int32_t value;
        int16_t pending;
    };
    const std::vector<Case> cases = {
        {1, 5000, 5001, 1}, {1, 5000, 5000, 0},   {1, 5000, -5001, 1},
        {0, 5000, 9999, 0}, {1, 0, INT32_MIN, 1}, {1, 5000, -5000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.enabled) + " " + std::to_string(c.value));
        AlarmStation st;
        auto& channel = st.rig.station.settings().channels[2];
        channel.alarm_enabled = c.enabled;
        channel.alarm_threshold = c.threshold;
        st.alarms().alarm_request(2, c.value);
        EXPECT_EQ(st.alarms().alarm_pending, c.pending);
    }
}

TEST(Alarms, ToneEverySecondTickAndTheBitWithIt) {
    // Per tick: whether a sample passed the threshold since the last tick; then what sounded
    // and the port's alarm bit after the tick.
    struct Case {
        std::string name;
        int16_t alarm_wav;
        std::vector<bool> pending;
        std::vector<std::vector<std::string>> sounds;
        std::vector<bool> bit;
    };
    const std::vector<Case> cases = {
        // The speaker stays told to be off until the next alarm.
        {"single sample",
         0,
         {true, false, false},
         {{"tone 1566"}, {"off"}, {"off"}},
         {true, false, false}},
        {"continuing",
         0,
         {true, true, true, true},
         {{"tone 1566"}, {"off"}, {"tone 1566"}, {"off"}},
         {true, true, true, true}},
        {"sound file",
         1,
         {true, true, true, false},
         {{"play /station/alarm.wav"}, {}, {"play /station/alarm.wav"}, {}},
         {true, true, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlarmStation st;
        st.general().alarm_wav = c.alarm_wav;
        for (size_t t = 0; t < c.pending.size(); ++t) {
            SCOPED_TRACE(t);
            st.sound.events.clear();
            if (c.pending[t]) st.alarms().alarm_pending = 1;
            st.alarms().AlarmTick();
            EXPECT_EQ(st.sound.events, c.sounds[t]);
            EXPECT_EQ((st.lpt.reg(1) & 2) != 0, c.bit[t]);
            EXPECT_EQ(st.alarms().alarm_pending, 0);
        }
    }
}

TEST(Alarms, PortBitFollowsLineTwoAndTheEventFlagOnlyWithTheHardwareAlarm) {
    struct Case {
        std::string name;
        int16_t hw_alarm;
        int16_t on_l2;
        int16_t on_events;
        int status;        // board status: 0x10 is line 2 high (idle)
        int16_t recorded;  // event_recorded
        bool bit;
    };
    const std::vector<Case> cases = {
        {"line 2 low", 1, 1, 0, 0x00, 0, true},
        {"line 2 high", 1, 1, 0, 0x10, 0, false},
        {"line 2 not watched", 1, 0, 0, 0x00, 0, false},
        {"event recorded", 1, 0, 1, 0x10, 1, true},
        {"event not watched", 1, 0, 0, 0x10, 1, false},
        {"no hardware alarm", 0, 1, 1, 0x00, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlarmStation st;
        auto& general = st.general();
        general.hw_alarm = c.hw_alarm;
        general.alarm_on_l2 = c.on_l2;
        general.alarm_on_events = c.on_events;
        ASSERT_TRUE(st.rig.start_blind("1.81"));
        std::string frame{static_cast<char>(0x81), 26, 3, 1, 0, 0, 12, static_cast<char>(c.status),
                          static_cast<char>(0xF0)};
        ASSERT_TRUE(st.rig.station.board_clock().ProcessBoardTimeFrame(frame));
        st.alarms().event_recorded = c.recorded;
        for (int tick = 0; tick < 3; ++tick) {
            st.alarms().AlarmTick();
            EXPECT_EQ((st.lpt.reg(1) & 2) != 0, c.bit) << "tick " << tick;
        }
        EXPECT_TRUE(st.sound.events.empty()) << "line 2 and the event flag never sound";
    }
}

TEST(Alarms, OtherBitsOfTheRegisterAreKept) {
    AlarmStation st;
    st.general().lpt_port = 2;
    st.lpt.reg(2) = 0x81;
    st.alarms().alarm_pending = 1;
    st.alarms().AlarmTick();
    EXPECT_EQ(st.lpt.reg(2), 0x83);
    st.alarms().AlarmTick();
    EXPECT_EQ(st.lpt.reg(2), 0x81);
    EXPECT_EQ(st.lpt.reg(1), 0) << "LPT1 untouched";
}

TEST(Alarms, MissingPortIsSaidOnceAndNothingElseHappens) {
    struct Case {
        std::string name;
        bool driver;  // a parallel port driver at all
        int16_t lpt;
        std::vector<std::string> said;
    };
    const std::vector<Case> cases = {
        {"no port chosen", true, 0, {}},
        {"device missing",
         true,
         1,
         {"LPT1 not available, alarm and watchdog bits not written: /dev/parport0: No such "
          "device"}},
        {"no driver",
         false,
         3,
         {"LPT3 not available, alarm and watchdog bits not written: no parallel port driver"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlarmStation st;
        st.lpt.missing = true;
        st.rig.station.set_devices(
            {.parallel_port = c.driver ? &st.lpt : nullptr, .sound = &st.sound});
        st.general().lpt_port = c.lpt;
        size_t mark = st.rig.event_log_messages().size();
        for (int tick = 0; tick < 3; ++tick) {
            st.alarms().alarm_pending = 1;
            st.alarms().AlarmTick();
        }
        auto log = st.rig.event_log_messages();
        EXPECT_EQ(
            std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(mark), log.end()),
            c.said);
        EXPECT_EQ(st.alarms().LptRead(c.lpt), 0);
        EXPECT_EQ(st.sound.events.size(), 3u) << "the sound goes on without the port";
    }
}

// The command files and the event log say the same of an event: one rounding (halves to
// the even neighbour) and the count of the lines in the file.
TEST(Alarms, CommandFileLines) {
    struct Case {
        runtime::EventSummary event;
        std::string sms;
        std::string mail;
        std::string log;
    };
    const std::vector<Case> cases = {
        {{"20260301_120000.CH1", "2026/03/01 12:00:00", 12345, 7.25, 12344.5},
         "2026/03/01 12:00:00 L:00012345 Max SLTA:7.2 Max Amplit.:012344",
         "2026/03/01 12:00:00 L:00012345 Max SLTA: 7.2 Max Amplit.:012344",
         "20260301_120000.CH1 2026/03/01 12:00:00 L:00012345 Max SLTA:7.2 Max Amplit:012344"},
        {{"20261231_235959.SHZ", "2026/12/31 23:59:59", 0, 0, 0},
         "2026/12/31 23:59:59 L:00000000 Max SLTA:0.0 Max Amplit.:000000",
         "2026/12/31 23:59:59 L:00000000 Max SLTA: 0.0 Max Amplit.:000000",
         "20261231_235959.SHZ 2026/12/31 23:59:59 L:00000000 Max SLTA:0.0 Max Amplit:000000"},
        {{"20260102_030405_2.CH3", "2026/01/02 03:04:05", 123456789, 12.35, 98765.5},
         "2026/01/02 03:04:05 L:123456789 Max SLTA:12.4 Max Amplit.:098766",
         "2026/01/02 03:04:05 L:123456789 Max SLTA: 12.4 Max Amplit.:098766",
         "20260102_030405_2.CH3 2026/01/02 03:04:05 L:123456789 Max SLTA:12.4 "
         "Max Amplit:098766"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(events::sms_line(c.event), c.sms);
        EXPECT_EQ(events::mail_line(c.event), c.mail);
        EXPECT_EQ(events::EventLogLine(c.event), c.log);
    }

    AlarmStation st;
    st.general().send_sms = 1;
    st.general().send_mail = 0;
    ASSERT_TRUE(st.alarms().WriteCommandFiles(cases[0].event));
    ASSERT_TRUE(st.alarms().WriteCommandFiles(cases[1].event));
    EXPECT_EQ(st.rig.file("sendsms.txt"), cases[0].sms + "\r\n" + cases[1].sms + "\r\n");
    EXPECT_FALSE(st.rig.fs.exists("/station/sendmail.txt"));
    st.general().send_mail = 1;
    ASSERT_TRUE(st.alarms().WriteCommandFiles(cases[0].event));
    EXPECT_EQ(st.rig.file("sendmail.txt"), cases[0].mail + "\r\n");
    st.rig.fs.set_full(true);
    EXPECT_FALSE(st.alarms().WriteCommandFiles(cases[0].event));
}

}  // namespace
}  // namespace velkantor::testing
