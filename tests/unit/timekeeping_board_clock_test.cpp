#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/fake/fake_devices.h"
#include "support/station_rig.h"
#include "timekeeping/board_clock.h"
#include "timekeeping/date_format_check.h"
#include "timekeeping_station.h"

namespace velkantor::testing {
namespace {

using text::DateTime;

TEST(BoardClock, FrameLayoutFollowsTheFirmware) {
    struct Case {
        std::string firmware;
        std::string frame;
        bool accepted;
        std::string datetime;
    };
    const std::vector<Case> cases = {
        {"1.81", frame9(2026, 3, 5, 10, 20, 30), true, "2026/03/05 10:20:30"},
        {"3.00", frame9(2027, 1, 2, 10, 20, 30), true, "2027/01/02 10:20:30"},
        // Dated frames whose date is not trusted, and short frames: the PC's date.
        {"1.63", frame9(2027, 1, 2, 10, 20, 30), true, "2026/03/01 10:20:30"},
        {"1.xx", frame6(10, 20, 30), true, "2026/03/01 10:20:30"},
        {"ZEDA x.xx at 38400", frame6(10, 20, 30), true, "2026/03/01 10:20:30"},
        // Any other length is ignored.
        {"1.81", frame6(10, 20, 30), false, ""},
        {"1.xx", frame9(2026, 3, 5, 10, 20, 30), false, ""},
        {"2.10", bytes({0x81, 0xF0}), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware + " " + std::to_string(c.frame.size()));
        RunningStation st(c.firmware);
        st.rig.station.run().second_sample_count[0] = 7;
        EXPECT_EQ(st.feed(c.frame), c.accepted);
        EXPECT_EQ(st.state().board_datetime_text, c.datetime);
        // Only an accepted second ends the per-channel counting.
        EXPECT_EQ(st.rig.station.run().second_sample_count[0], c.accepted ? 0 : 7);
        EXPECT_EQ(st.rig.station.run().measured_rate, c.accepted ? 7 : 0);
    }
}

TEST(BoardClock, FramesWithoutADateTurnTheDayWithTheirTime) {
    struct Case {
        int16_t ad_type;
        std::string firmware;
        bool short_frames;
    };
    const std::vector<Case> cases = {
        {config::kZeda18, "1.xx", true},
        {config::kZeda18, "1.63", false},
        // An instrument without a clock, after a ZEDA run of the same program.
        {config::kInfiltec, "1.81", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        RunningStation st(c.firmware, {2026, 3, 1, 23, 59, 58, 0});
        st.rig.station.settings().general.ad_type = c.ad_type;
        auto frame = [&](int h, int m, int s) {
            return c.short_frames ? frame6(h, m, s) : frame9(2000, 1, 1, h, m, s);
        };
        std::vector<std::string> seen;
        for (auto [h, m, s] :
             std::vector<std::array<int, 3>>{{23, 59, 58}, {23, 59, 59}, {0, 0, 0}, {0, 0, 1}}) {
            ASSERT_TRUE(st.feed(frame(h, m, s)));
            seen.push_back(st.state().board_datetime_text);
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"2026/03/01 23:59:58", "2026/03/01 23:59:59",
                                                  "2026/03/02 00:00:00", "2026/03/02 00:00:01"}));
    }
}

TEST(BoardClock, ImpossibleTimeIsCorrectedFromThePcWithCommandsOneSecondApart) {
    struct Case {
        std::string frame;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {frame9(2026, 3, 1, 24, 0, 0, 0x20), "2026/03/01 24:00:00"},
        {frame9(2026, 3, 1, 12, 60, 0, 0x20), "2026/03/01 12:60:00"},
        {frame9(2026, 3, 1, 12, 0, 60, 0x20), "2026/03/01 12:00:60"},
        {frame9(2026, 13, 1, 12, 0, 0, 0x20), "2026/13/01 12:00:00"},
        {frame9(2026, 2, 29, 12, 0, 0, 0x20), "2026/02/29 12:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        RunningStation st;
        st.rig.station.settings().general.gmt_offset = -2;
        const DateTime pc{2026, 3, 1, 12, 0, 5, 0};
        st.set_pc(pc);
        st.rig.port.deliver("pending");
        size_t mark = st.events().size();
        ASSERT_TRUE(st.feed(c.frame));

        EXPECT_EQ(after(st.events(), mark),
                  (std::vector<std::string>{"Warning! Bad time from A/D card: " + c.logged,
                                            "Warning! Time corrected to: 2026/03/01 12:00:05"}));
        double t0 = text::to_epoch_seconds(pc);
        ASSERT_EQ(st.heard.size(), 3u);
        EXPECT_EQ(st.heard[0], std::make_pair(t0, bytes({0x83, 5, 0, 12, 0, 0})));
        EXPECT_EQ(st.heard[1], std::make_pair(t0 + 1, bytes({0x82, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE})));
        EXPECT_EQ(st.heard[2], std::make_pair(t0 + 2, bytes({0x87, 26, 3, 1, 0, 0})));
        EXPECT_EQ(st.rig.port.bytes_waiting(), 0u) << "pending input discarded";
        // The second goes on with the PC's time; its synchronisation flag is not believed.
        EXPECT_EQ(st.state().board_datetime_text, "2026/03/01 12:00:05");
        EXPECT_EQ(st.state().last_sync_text, "");
    }
}

TEST(BoardClock, TimeZoneCorrectionIsASignedByteRepeatedFiveTimes) {
    RunningStation st;
    for (auto [offset, byte] : std::vector<std::pair<int, int>>{
             {0, 0x00}, {5, 0x05}, {-1, 0xFF}, {-2, 0xFE}, {-23, 0xE9}}) {
        SCOPED_TRACE(offset);
        st.heard.clear();
        st.rig.station.settings().general.gmt_offset = static_cast<int16_t>(offset);
        st.rig.station.board_clock().SetBoardClockFromPc();
        ASSERT_EQ(st.heard.size(), 3u);
        EXPECT_EQ(st.heard[1].second, bytes({0x82, byte, byte, byte, byte, byte}));
    }
}

TEST(BoardClock, BoardIsDatedWithTheDayOnWhichTheDateIsSent) {
    // Set at 23:59:59.5: the date goes out two seconds later, on the new day.
    RunningStation st;
    st.rig.clock.set(text::to_epoch_seconds({2026, 3, 1, 23, 59, 59, 500}));
    st.rig.station.board_clock().SetBoardClockFromPc();
    ASSERT_EQ(st.heard.size(), 3u);
    EXPECT_EQ(st.heard[0].second, bytes({0x83, 59, 59, 23, 0, 0}));
    EXPECT_EQ(st.heard[2].second, bytes({0x87, 26, 3, 2, 0, 0}));
}

TEST(BoardClock, MidnightDateFixOnlyForTheFirmwaresThatNeedIt) {
    // Those firmwares send the first second of a day with the day before.
    const std::vector<std::string> frames = {
        frame9(2026, 3, 1, 23, 59, 59), frame9(2026, 3, 1, 0, 0, 0), frame9(2026, 3, 2, 0, 0, 1)};
    struct Case {
        std::string firmware;
        std::vector<std::string> seen;
    };
    const std::vector<Case> cases = {
        {"2.10", {"2026/03/01 23:59:59", "2026/03/02 00:00:00", "2026/03/02 00:00:01"}},
        {"1.62", {"2026/03/01 23:59:59", "2026/03/02 00:00:00", "2026/03/02 00:00:01"}},
        {"3.00", {"2026/03/01 23:59:59", "2026/03/01 00:00:00", "2026/03/02 00:00:01"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        RunningStation st(c.firmware);
        size_t mark = st.events().size();
        std::vector<std::string> seen;
        for (const auto& f : frames) {
            ASSERT_TRUE(st.feed(f));
            seen.push_back(st.state().board_datetime_text);
        }
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(after(st.events(), mark), std::vector<std::string>{}) << "no jump at midnight";
    }
}

TEST(BoardClock, JumpOfMoreThanTwoSecondsIsLoggedOnce) {
    struct Case {
        DateTime previous;
        DateTime received;
        bool warned;
    };
    const std::vector<Case> cases = {
        {{2026, 3, 1, 12, 0, 0}, {2026, 3, 1, 12, 0, 5}, true},
        {{2026, 3, 1, 12, 0, 0}, {2026, 3, 1, 12, 0, 2}, false},
        {{2026, 3, 1, 12, 0, 10}, {2026, 3, 1, 12, 0, 7}, true},
        {{2026, 3, 1, 12, 0, 10}, {2026, 3, 1, 12, 0, 10}, false},
        {{2026, 3, 1, 23, 59, 59}, {2026, 3, 2, 0, 0, 0}, false},
        {{2026, 3, 1, 23, 59, 57}, {2026, 3, 2, 0, 0, 0}, false},
        {{2026, 3, 1, 23, 59, 59}, {2026, 3, 2, 0, 0, 4}, false},
        {{2026, 3, 1, 23, 59, 58}, {2026, 3, 2, 0, 0, 1}, true},
    };
    RunningStation st("3.00");
    auto frame = [](const DateTime& t) {
        return frame9(t.year, t.month, t.day, t.hour, t.minute, t.second);
    };
    for (const Case& c : cases) {
        std::string previous = text::format_time(c.previous);
        std::string received = text::format_time(c.received);
        SCOPED_TRACE(previous + " -> " + received);
        ASSERT_TRUE(st.feed(frame(c.previous)));
        size_t mark = st.events().size();
        ASSERT_TRUE(st.feed(frame(c.received)));
        std::vector<std::string> expected;
        if (c.warned) {
            expected = {"Warning! Too much time difference:",
                        "Previous:" + previous + " Received:" + received};
        }
        EXPECT_EQ(after(st.events(), mark), expected);
    }
}

TEST(BoardClock, LockHoldsForTheTimeOutAfterTheLastSynchronisation) {
    struct Case {
        int16_t sync_source;
        std::string label;
        int locked_minutes;  // still locked this many minutes (and 59 s) after
    };
    for (const Case& c : std::vector<Case>{{1, "DCF", 719}, {0, "GPS", 10}}) {
        SCOPED_TRACE(c.label);
        RunningStation st("3.00");
        st.rig.station.settings().general.sync_source = c.sync_source;
        st.rig.station.board_clock().set_sync_source_label(c.label);
        size_t events_mark = st.events().size();
        size_t time_mark = st.time_log().size();
        const double synced = text::to_epoch_seconds({2026, 3, 1, 12, 0, 0});
        auto frame_at = [&](double seconds_after, int status = 0) {
            DateTime t = text::from_epoch_seconds(synced + seconds_after);
            return frame9(t.year, t.month, t.day, t.hour, t.minute, t.second, status);
        };
        std::string sync_frame = frame_at(0, 0x20);
        ASSERT_TRUE(st.feed(sync_frame));
        EXPECT_EQ(st.rig.station.run().lock_state, "L");
        EXPECT_EQ(st.state().last_sync_text, "2026/03/01 11:59:59");
        EXPECT_EQ(st.state().sync_minute_marks[720], 1);
        ASSERT_TRUE(st.feed(frame_at(c.locked_minutes * 60.0 + 59)));
        EXPECT_EQ(st.rig.station.run().lock_state, "L");
        ASSERT_TRUE(st.feed(frame_at((c.locked_minutes + 1) * 60.0)));
        EXPECT_EQ(st.rig.station.run().lock_state, "N");
        ASSERT_TRUE(st.feed(frame_at((c.locked_minutes + 1) * 60.0 + 1)));

        EXPECT_EQ(after(st.time_log(), time_mark),
                  (std::vector<std::string>{
                      "SYNC:2026/03/01 11:59:59 TPS:" + sync_frame + " PCRTC:0 PCSYN:0",
                      c.label + " Status:Locked", c.label + " Status:Unlocked"}));
        std::vector<std::string> events;
        for (const auto& m : after(st.events(), events_mark)) {
            if (m.rfind("Time ", 0) == 0) events.push_back(m);
        }
        EXPECT_EQ(events, (std::vector<std::string>{"Time Locked", "Time UnLocked"}));
    }
}

TEST(BoardClock, SynchronisationIsTakenOncePerRunOfTheFlag) {
    RunningStation st("3.00");
    size_t mark = st.time_log().size();
    for (int s = 0; s < 3; ++s) ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, s, 0x20)));
    ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, 3, 0x00)));
    ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, 4, 0x20)));
    int syncs = 0;
    for (const auto& line : after(st.time_log(), mark)) syncs += line.rfind("SYNC:", 0) == 0;
    EXPECT_EQ(syncs, 2);
    EXPECT_EQ(st.state().last_sync_text, "2026/03/01 12:00:03");
}

TEST(BoardClock, PcSetsTheBoardAtMidnightAndEveryPeriod) {
    struct Case {
        int16_t sync_every;
        DateTime pc;
        bool sets;
    };
    const std::vector<Case> cases = {
        {3, {2026, 3, 2, 0, 0, 0}, true},    {3, {2026, 3, 2, 4, 0, 0}, true},
        {3, {2026, 3, 2, 8, 0, 0}, true},    {3, {2026, 3, 2, 6, 0, 0}, false},
        {3, {2026, 3, 2, 4, 0, 1}, false},   {0, {2026, 3, 2, 13, 0, 0}, true},
        {0, {2026, 3, 2, 13, 30, 0}, false}, {6, {2026, 3, 3, 0, 0, 0}, true},
        {6, {2026, 3, 3, 12, 0, 0}, false},
    };
    RunningStation st("3.00");
    auto& general = st.rig.station.settings().general;
    general.pc_sync = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sync_every) + " " + text::format_time(c.pc));
        general.sync_every = c.sync_every;
        DateTime pc = c.pc;
        pc.millisecond = 300;
        st.set_pc(pc);
        st.heard.clear();
        size_t mark = st.events().size();
        std::string frame = frame9(pc.year, pc.month, pc.day, pc.hour, pc.minute, pc.second);
        ASSERT_TRUE(st.feed(frame));
        ASSERT_TRUE(st.feed(frame)) << "a second frame in the same PC second";
        std::vector<std::string> said;
        for (const auto& m : after(st.events(), mark)) {
            if (m.rfind("A/D card", 0) == 0) said.push_back(m);
        }
        if (c.sets) {
            ASSERT_EQ(st.heard.size(), 1u);
            EXPECT_EQ(st.heard[0].second, bytes({0x83, pc.second, pc.minute, pc.hour, 0, 0}));
            EXPECT_EQ(said, std::vector<std::string>{"A/D card syncronized with PC time at: " +
                                                     text::format_time(pc)});
        } else {
            EXPECT_TRUE(st.heard.empty());
            EXPECT_TRUE(said.empty());
        }
    }
    EXPECT_TRUE(st.rig.pc_clock.set_to.empty()) << "the PC clock is never set from the board";
}

TEST(BoardClock, BoardSetsThePcClockAwayFromMidnight) {
    struct Case {
        std::string firmware;
        DateTime pc;
        int16_t pc_rtc;
        int16_t pc_sync;
        std::string set_to;  // empty: not set
    };
    const std::vector<Case> cases = {
        {"1.81", {2026, 3, 1, 12, 0, 0}, 0, 0, "2026/03/05 12:00:11"},
        {"2.00", {2026, 3, 1, 0, 2, 1}, 0, 0, "2026/03/05 12:00:11"},
        {"3.00", {2026, 3, 1, 12, 0, 0}, 0, 0, "2026/03/01 12:00:11"},
        {"2.10", {2026, 3, 1, 23, 57, 59}, 0, 0, "2026/03/01 12:00:11"},
        {"1.81", {2026, 3, 1, 0, 2, 0}, 0, 0, ""},
        {"1.81", {2026, 3, 1, 23, 58, 0}, 0, 0, ""},
        {"1.81", {2026, 3, 1, 12, 0, 0}, 1, 0, ""},
        {"1.81", {2026, 3, 1, 12, 0, 0}, 0, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware + " " + text::format_time(c.pc));
        RunningStation st(c.firmware);
        auto& general = st.rig.station.settings().general;
        general.pc_rtc = c.pc_rtc;
        general.pc_sync = c.pc_sync;
        general.sync_every = 0;
        st.set_pc(c.pc);
        ASSERT_TRUE(st.feed(frame9(2026, 3, 5, 12, 0, 10)));
        std::vector<std::string> set;
        for (const auto& t : st.rig.pc_clock.set_to) set.push_back(text::format_datetime(t));
        EXPECT_EQ(set, c.set_to.empty() ? std::vector<std::string>{}
                                        : std::vector<std::string>{c.set_to});
    }
}

TEST(BoardClock, PcClockWithoutPermissionIsSaidOnceAndLeftAlone) {
    struct Case {
        bool permitted;
        std::optional<platform::PcClockResult> refusal;
        std::string said;
        int attempts;
    };
    const std::vector<Case> cases = {
        {false, std::nullopt,
         "The PC clock is not set from the A/D card time: start VELKANTOR with --set-pc-clock "
         "to allow it.",
         0},
        {true,
         platform::PcClockResult{platform::PcClockResult::Status::not_permitted,
                                 "Operation not permitted"},
         "The PC clock cannot be set from the A/D card time: Operation not permitted", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        RunningStation st;
        platform::FakePcClock refusing;
        refusing.refusal = c.refusal;
        st.rig.station.set_devices({.pc_clock = c.permitted ? &refusing : nullptr});
        size_t mark = st.events().size();
        for (int s = 0; s < 3; ++s) ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, s)));
        EXPECT_EQ(after(st.events(), mark), std::vector<std::string>{c.said});
        EXPECT_EQ(refusing.attempts, c.attempts);
    }
}

TEST(BoardClock, PermissionToSetThePcClockOnlyByTheFlag) {
    EXPECT_FALSE(app::parse_command_line({"--headless"}).set_pc_clock);
    EXPECT_TRUE(app::parse_command_line({"--headless", "--set-pc-clock"}).set_pc_clock);
}

TEST(BoardClock, SecondsDiscardedByACorrectionAreNoJump) {
    RunningStation st("3.00");
    st.set_pc({2026, 3, 1, 12, 0, 10, 0});
    ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, 9)));
    ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 24, 0, 10)));
    size_t mark = st.events().size();
    ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, 13)));  // 11 and 12 were discarded
    EXPECT_EQ(after(st.events(), mark), std::vector<std::string>{});
    ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, 20)));
    EXPECT_EQ(after(st.events(), mark),
              (std::vector<std::string>{"Warning! Too much time difference:",
                                        "Previous:12:00:13 Received:12:00:20"}));
}

TEST(BoardClock, SampleCountDiagnosticsInServiceModeThree) {
    for (int16_t service_mode : {3, 1}) {
        SCOPED_TRACE(service_mode);
        RunningStation st;
        auto& run = st.rig.station.run();
        st.rig.station.settings().general.service_mode = service_mode;
        run.configured_rate = {100, 100, 0, 0};
        run.second_check_count = {100, 99, 0, 1};
        size_t mark = st.events().size();
        ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, 0)));
        std::vector<std::string> expected;
        if (service_mode == 3) expected = {"Xerror 1 AT 12:00:00", "Xerror 1 AT 12:00:00"};
        EXPECT_EQ(after(st.events(), mark), expected);
        EXPECT_EQ(st.state().xerror[1], service_mode == 3 ? 1 : 0);
        EXPECT_EQ(run.second_check_count, (std::array<int16_t, 4>{0, 0, 0, 0}));
    }
}

TEST(BoardClock, TimeWindowTexts) {
    struct Case {
        std::string label;
        int status;
        bool synced;
        timekeeping::TimeWindowTexts texts;
    };
    const std::vector<Case> cases = {
        {"DCF",
         0x20 | 0x40,
         true,
         {"DCF77 Sync: 2026/03/01 11:59:59", "Status: Locked", "DCF tx daylight time", true, 720}},
        {"DCF",
         0x20,
         true,
         {"DCF77 Sync: 2026/03/01 11:59:59", "Status: Locked", "DCF tx solar time", true, 720}},
        {"GPS",
         0x20,
         true,
         {"GPS   Sync: 2026/03/01 11:59:59", "Status: Locked", "GPS tx UTC time", true, 720}},
        {"DCF", 0x40, false, {"DCF77 Sync: ", "Status: Not Locked", "...", false, 720}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.texts.hour_type);
        RunningStation st("3.00");
        st.rig.station.board_clock().set_sync_source_label(c.label);
        ASSERT_TRUE(st.feed(frame9(2026, 3, 1, 12, 0, 0, c.status)));
        auto texts = st.rig.station.board_clock().time_window_texts();
        EXPECT_EQ(texts.sync, c.texts.sync);
        EXPECT_EQ(texts.status, c.texts.status);
        EXPECT_EQ(texts.hour_type, c.texts.hour_type);
        EXPECT_EQ(texts.sync_bit, c.texts.sync_bit);
        EXPECT_EQ(texts.minute_of_day, c.texts.minute_of_day);
    }
}

TEST(BoardClock, PcTimestampTexts) {
    const std::vector<std::pair<std::string, std::string>> forms = {
        {"2026/03/01 12:34:56", "2026/03/01 12:34:56"},
        {"2026/03/01 7:12:34", "2026/03/01 07:12:34"},   // no leading zero
        {"2026/03/01 07.12.34", "2026/03/01 07:12:34"},  // dots
        {"2026/03/01 7.12.34", "2026/03/01 07:12:34"},
        {"2026/03/01", "2026/03/01 00:00:00"},  // midnight shows the date alone
    };
    for (const auto& [shown, normal] : forms)
        EXPECT_EQ(timekeeping::normalise_pc_now(shown), normal);

    StationRig rig({2026, 3, 1, 7, 12, 34, 250});
    platform::PatternDateFormats formats("YYYY/MM/DD", "H.MM.SS");
    rig.station.set_devices({.date_formats = &formats});
    rig.station.board_clock().RefreshPcTimestamp();
    const auto& state = rig.station.board_clock().state();
    EXPECT_EQ(state.pc_now_text, "2026/03/01 07:12:34");
    EXPECT_EQ(state.pc_fraction_text, ".250");
    EXPECT_EQ(state.pc_date_text, "2026/03/01");
    EXPECT_EQ(state.pc_time_text, "07:12:34");
}

TEST(DateFormatCheck, FormatsFoundFromTheProbeMoment) {
    struct Case {
        std::string date_pattern;
        std::string time_pattern;
        std::string date_format;
        std::string time_format;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"YYYY/MM/DD", "HH:MM:SS", "YYYY/MM/DD", "HH:MM:SS", true},
        {"DD/MM/YYYY", "HH:MM:SS", "DD/MM/YYYY", "HH:MM:SS", false},
        {"MM/DD/YYYY", "H:MM:SS", "MM/DD/YYYY", "H:MM:SS", false},
        {"YYYY/DD/MM", "HH.MM.SS", "YYYY/DD/MM", "HH.MM.SS", false},
        {"YYYY/MM/DD", "H.MM.SS", "YYYY/MM/DD", "H.MM.SS", false},
        {"YYYY-MM-DD", "HH:MM:SS", "YYYY/MM/DD", "HH:MM:SS", false},
        {"YY/MM/DD", "HH:MM:SS", "DD/MM/YYYY", "HH:MM:SS", false},
        {"YYYY/MM/DD", "HH-MM-SS", "YYYY/MM/DD", "HH?MM?SS", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date_pattern + " " + c.time_pattern);
        platform::PatternDateFormats formats(c.date_pattern, c.time_pattern);
        auto found = timekeeping::probe_date_formats(formats);
        EXPECT_EQ(found.date_format, c.date_format);
        EXPECT_EQ(found.time_format, c.time_format);
        EXPECT_EQ(found.expected, c.expected);
    }
    auto own = timekeeping::probe_date_formats(platform::ProgramDateFormats());
    EXPECT_TRUE(own.expected) << "the program's own forms never draw the warning";
}

TEST(DateFormatCheck, WarningAtLoadForUnexpectedForms) {
    const std::string lines =
        "The DATE format of your system is DD/MM/YYYY\r\n"
        "The TIME format of your system is H.MM.SS\r\n"
        "This is not the better for VELKANTOR operation. \r\n"
        "Your system should be setup with YEAR/MONTH/DAY date format.\r\n"
        "Set the YYYY/MM/DD short format mode.\r\n"
        "Use / (slash) separator for date and : (colon) as separator for time.\r\n"
        "Be sure that the time is expressed as HH:mm:ss and not H:MM:SS or hh:mm:ss\r\n"
        "\r\n"
        "You can set-up the right time format using Control_Panel / International_Format.\r\n";
    struct Case {
        int16_t service_mode;
        int16_t no_version_warn;
        bool own_forms;
        std::string warned;  // empty: no warning
    };
    const std::vector<Case> cases = {
        {0, 0, false, lines},
        {1, 0, false,
         lines + "Machine date/time: DD/MM/YYYY = H.MM.SS\r\nDate/Time: 01/03/2026 = 9.05.07\r\n"},
        {0, 1, false, ""},
        {0, 0, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.service_mode * 10 + c.no_version_warn);
        StationRig rig({2026, 3, 1, 9, 5, 7, 0});
        platform::PatternDateFormats formats("DD/MM/YYYY", "H.MM.SS");
        if (!c.own_forms) rig.station.set_devices({.date_formats = &formats});
        rig.load();
        auto& general = rig.station.settings().general;
        general.service_mode = c.service_mode;
        general.no_version_warn = c.no_version_warn;
        rig.op.shown.clear();
        rig.station.board_clock().load();
        if (c.warned.empty()) {
            EXPECT_TRUE(rig.op.shown.empty());
        } else {
            ASSERT_EQ(rig.op.shown.size(), 1u);
            EXPECT_EQ(rig.op.shown[0].kind, "warning");
            EXPECT_EQ(rig.op.shown[0].text, c.warned);
        }
        EXPECT_EQ(rig.station.board_clock().state().system_date_format,
                  c.own_forms ? "YYYY/MM/DD" : "DD/MM/YYYY");
    }
}

}  // namespace
}  // namespace velkantor::testing
