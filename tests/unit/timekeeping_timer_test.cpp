#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "datalog/datalog_reader.h"
#include "platform/fake/fake_devices.h"
#include "support/parallel_pulses.h"
#include "timekeeping/housekeeping_view.h"
#include "timekeeping_station.h"

namespace velkantor::testing {
namespace {

struct ViewRecorder : timekeeping::HousekeepingView {
    void show_trigger_indicator(int ch, bool visible) override {
        trigger[static_cast<size_t>(ch)] = visible;
    }
    void show_record_button(int ch, bool recording) override {
        stop_caption[static_cast<size_t>(ch)] = recording;
    }
    void enable_stop_button(bool enabled) override { stop_enabled = enabled; }
    void show_buffer_load(size_t count, size_t) override { buffer_count = count; }
    void show_free_disk_space(std::string_view text) override { fds = text; }
    void show_pc_time(std::string_view text) override { pc_time = text; }

    std::array<bool, 4> trigger{};
    std::array<bool, 4> stop_caption{};
    std::optional<bool> stop_enabled;
    size_t buffer_count = 0;
    std::string fds;
    std::string pc_time;
};

// A loaded station with every device faked; `start()` puts it in a blind run.
struct TimerStation {
    StationRig rig;
    platform::FakeParallelPort lpt{&rig.clock};
    platform::FakeSound sound;
    platform::FakeDiskSpace disk;
    ViewRecorder view;

    TimerStation() {
        rig.load();
        rig.station.set_devices({.parallel_port = &lpt,
                                 .sound = &sound,
                                 .disk_space = &disk,
                                 .pc_clock = &rig.pc_clock});
        rig.station.set_housekeeping_view(&view);
    }
    void start() { ASSERT_TRUE(rig.start_blind()); }
    // One timer tick through the host, as a second of virtual time passes.
    void tick() { rig.host.wait(1); }
    std::vector<std::string> events() const { return rig.event_log_messages(); }
    auto& general() { return rig.station.settings().general; }
};

TEST(PeriodicTimer, WatchdogPulseSchedule) {
    struct Case {
        int16_t period;
        int ticks;
        std::vector<int> pulses;
    };
    const std::vector<Case> cases = {
        {60, 200, {57, 117, 177}},
        {10, 40, {7, 17, 27, 37}},
        {3, 20, {}},  // the pulse would fall before the first tick
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.period);
        TimerStation st;
        auto& general = st.general();
        general.watchdog_enabled = 1;
        general.watchdog_period = c.period;
        general.lpt_port = 1;
        // The alarm bit is held on throughout: the pulses must leave it alone.
        general.hw_alarm = 1;
        general.alarm_on_events = 1;
        st.rig.station.alarms().event_recorded = 1;
        double first_tick = std::floor(st.rig.clock.epoch_seconds()) + 1;
        for (int t = 0; t < c.ticks; ++t) st.tick();

        std::vector<double> widths;
        EXPECT_EQ(rising_ticks(st.lpt, first_tick, &widths), c.pulses);
        for (double w : widths) EXPECT_NEAR(w, 0.1, 1e-6);
        for (const auto& w : st.lpt.writes) EXPECT_EQ(w.value & 2, 2) << w.epoch_seconds;
    }
}

TEST(PeriodicTimer, StalledMainLoopGetsNoPulseAndNoHeartbeat) {
    TimerStation st;
    st.start();
    auto& general = st.general();
    general.watchdog_enabled = 1;
    general.watchdog_period = 10;
    general.lpt_port = 1;
    general.use_velkmon = 1;
    double first_tick = std::floor(st.rig.clock.epoch_seconds()) + 1;
    for (int t = 0; t < 20; ++t) {
        st.rig.station.pass();  // the loop passes between ticks
        st.tick();
    }
    EXPECT_EQ(rising_ticks(st.lpt, first_tick), (std::vector<int>{7, 17}));
    EXPECT_EQ(st.rig.file("velkant.dct"), "doctor\r\n");

    st.tick();  // sees the last pass
    EXPECT_TRUE(st.rig.fs.remove("/station/velkant.dct"));
    size_t writes = st.lpt.writes.size();
    for (int t = 0; t < 30; ++t) st.tick();
    EXPECT_FALSE(st.rig.fs.exists("/station/velkant.dct"));
    EXPECT_EQ(rising_ticks(st.lpt, first_tick), (std::vector<int>{7, 17}));
    for (size_t i = writes; i < st.lpt.writes.size(); ++i) {
        EXPECT_EQ(st.lpt.writes[i].value & 1, 0) << "only the alarm bit is written";
    }
}

TEST(PeriodicTimer, SerialBufferGuard) {
    // Per tick: the count the port holds before it, the event log lines it adds, charting
    // after it, and the count left.
    struct Step {
        size_t waiting;
        std::vector<std::string> said;
        int16_t no_charting;
        size_t left;
    };
    const std::string shed = "Serial buffer at 65%. Chart draw disabled";
    const std::string flushed = "Serial buffer overload. Buffer flushed.";
    const size_t size = 32768;
    const std::vector<Step> steps = {
        {size * 60 / 100, {}, 0, size * 60 / 100},
        {size * 66 / 100, {shed}, 1, size * 66 / 100},
        {size * 66 / 100, {}, 1, size * 66 / 100},
        {size * 30 / 100, {}, 1, size * 30 / 100},      // between 25 % and 65 %: still shed
        {size * 70 / 100, {shed}, 1, size * 70 / 100},  // a new excursion
        {size * 96 / 100, {flushed}, 1, 0},
        {0, {}, 0, 0},  // below 25 %: the charts come back
        {size * 97 / 100, {shed, flushed}, 1, 0},
    };
    TimerStation st;
    st.start();
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        const Step& s = steps[i];
        size_t waiting = st.rig.port.bytes_waiting();
        if (s.waiting > waiting) {
            st.rig.port.deliver(std::string(s.waiting - waiting, 'x'));
        } else if (s.waiting < waiting) {
            st.rig.port.discard_input();
            st.rig.port.deliver(std::string(s.waiting, 'x'));
        }
        size_t mark = st.events().size();
        st.rig.station.tick();
        EXPECT_EQ(after(st.events(), mark), s.said);
        EXPECT_EQ(st.general().no_charting, s.no_charting);
        EXPECT_EQ(st.rig.port.bytes_waiting(), s.left);
        EXPECT_EQ(st.view.buffer_count, s.left);
    }

    // The operator's own "No charts" stays.
    st.rig.station.timer().set_no_charts_box(true);
    st.general().no_charting = 1;
    st.rig.station.tick();
    EXPECT_EQ(st.general().no_charting, 1);
}

TEST(PeriodicTimer, NoisySerialCommunications) {
    struct Case {
        long bad_frames;
        size_t waiting;
        bool said;
    };
    const std::vector<Case> cases = {{7, 10, true}, {6, 0, true}, {7, 25, false}, {5, 10, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bad_frames) + " " + std::to_string(c.waiting));
        TimerStation st;
        st.start();
        st.rig.station.run().bad_frames = c.bad_frames;
        st.rig.port.deliver(std::string(c.waiting, 'x'));
        size_t mark = st.events().size();
        st.rig.station.tick();
        EXPECT_EQ(after(st.events(), mark),
                  c.said ? std::vector<std::string>{"Noisy serial communications."}
                         : std::vector<std::string>{});
        EXPECT_EQ(st.rig.station.run().bad_frames, c.said ? 0 : c.bad_frames);
    }
}

TEST(PeriodicTimer, BadFrameCounterClearedEveryTenMinutesWhenLow) {
    for (long bad : {4L, 5L}) {
        TimerStation st;
        st.rig.station.run().bad_frames = bad;
        for (int t = 0; t < 600; ++t) st.rig.station.tick();
        EXPECT_EQ(st.rig.station.run().bad_frames, bad);
        st.rig.station.tick();
        EXPECT_EQ(st.rig.station.run().bad_frames, bad < 5 ? 0 : bad);
    }
}

TEST(PeriodicTimer, EventFlagEndsWithAnEmptiedEventList) {
    for (bool emptied : {true, false}) {
        SCOPED_TRACE(emptied);
        TimerStation st;
        if (emptied) st.rig.fs.put("/station/evtfile.dat", "Event list.\r\n");
        st.rig.station.alarms().event_recorded = 1;
        for (int t = 0; t < 120; ++t) st.rig.station.tick();
        EXPECT_EQ(st.rig.station.alarms().event_recorded, 1);
        st.rig.station.tick();
        EXPECT_EQ(st.rig.station.alarms().event_recorded, emptied ? 0 : 1);
    }
}

TEST(PeriodicTimer, ChannelIndicatorsAndStopButton) {
    TimerStation st;
    st.start();
    auto& detector = st.rig.station.detector();
    detector.channel(1).trigger_countdown = 2;
    detector.channel(2).event_state = 1;
    st.rig.station.tick();
    EXPECT_EQ(st.view.trigger, (std::array<bool, 4>{false, true, false, false}));
    EXPECT_EQ(st.view.stop_caption, (std::array<bool, 4>{false, false, true, false}));
    EXPECT_EQ(st.view.stop_enabled, false) << "no STOP while a channel records";
    detector.channel(2).event_state = 0;
    st.rig.station.tick();
    EXPECT_EQ(st.view.stop_caption, (std::array<bool, 4>{}));
    EXPECT_EQ(st.view.stop_enabled, true);
}

TEST(PeriodicTimer, FreeDiskSpaceInTheTitle) {
    struct Case {
        bool device;
        std::optional<uint64_t> free;
        std::string fds;
    };
    const std::vector<Case> cases = {
        {true, 123456789, "FDS: 123456 Kb"},
        {true, 999, "FDS: 0 Kb"},
        {true, std::nullopt, "FDS: N.A."},
        {false, 123456789, "FDS: N.A."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fds);
        TimerStation st;
        st.disk.free = c.free;
        if (!c.device) st.rig.station.set_devices({});
        st.rig.station.tick();
        EXPECT_EQ(st.view.fds, c.fds);
        if (c.device) {
            EXPECT_EQ(st.disk.asked.back(), "/station");
        }
    }
    EXPECT_EQ(
        timekeeping::title_with_free_space("VELKANTOR 2.28 ZEDA V.1.81 - FDS:", "FDS: 123456 Kb"),
        "VELKANTOR 2.28 ZEDA V.1.81 - FDS: 123456 Kb");
    EXPECT_EQ(timekeeping::title_with_free_space("VELKANTOR 2.28 - FDS: 99 Kb", "FDS: N.A."),
              "VELKANTOR 2.28 - FDS: N.A.");
}

TEST(PeriodicTimer, IdleStationShowsThePcClock) {
    StationRig rig({2026, 3, 1, 12, 0, 0, 0});
    rig.load();
    ViewRecorder view;
    rig.station.set_housekeeping_view(&view);
    rig.clock.set(text::to_epoch_seconds({2026, 3, 1, 12, 0, 7, 125}));
    rig.station.tick();
    EXPECT_EQ(view.pc_time, "2026/03/01 12:00:07.125");
}

// Ages are counted in days from the board's date (2026/03/01 here, from its time frame).
TEST(PeriodicTimer, PurgeDeletesOldDatalogFilesOnlyOnePerTick) {
    const std::vector<std::string> files = {
        "20250101_120000_0100N.LG0.bak",  // not a datalog name
        "20250101_120000_0100N.LG7",      // no such channel
        "20260101_120000_0100N.LG0",      // 59 days
        "20260101_120000_0100N.LG0.2",    // 59 days, seconds that came again
        "20260129_235959_0100N.LG2",      // 31 days
        "20260130_000000_0100L.LG1",      // 30 days: kept
        "20260215_120000_00.5N.LG3",
        "20260302_000000_0100N.LG0",  // after the board's day
        "START_20250101.lg1",
        "notes.txt",
    };
    const std::vector<std::string> past_purge_days = {
        "20260101_120000_0100N.LG0", "20260101_120000_0100N.LG0.2", "20260129_235959_0100N.LG2"};
    struct Case {
        std::string name;
        int16_t never_purge;
        bool running;
        bool time_frame;  // the run has had its first time frame
        int16_t purge_days;
        int ticks;
        std::vector<std::string> deleted;
    };
    const std::vector<Case> cases = {
        {"one file per tick", 0, true, true, 30, 3, {"20260101_120000_0100N.LG0"}},
        {"all examined", 0, true, true, 30, 14, past_purge_days},
        {"never purge", 1, true, true, 30, 14, {}},
        {"not running", 0, false, true, 30, 14, {}},
        {"no time frame yet: no date to count from", 0, true, false, 30, 14, {}},
        {"every day up to the board's, none after it",
         0,
         true,
         true,
         -1,
         14,
         {"20260101_120000_0100N.LG0", "20260101_120000_0100N.LG0.2", "20260129_235959_0100N.LG2",
          "20260130_000000_0100L.LG1", "20260215_120000_00.5N.LG3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimerStation st;
        for (const auto& name : files) st.rig.fs.put("/station/datalog/" + name, "x");
        st.general().never_purge = c.never_purge;
        st.general().purge_days = c.purge_days;
        if (c.running) st.start();
        if (c.running && c.time_frame) {
            st.rig.station.run().firmware_version = "1.81";
            ASSERT_TRUE(
                st.rig.station.board_clock().ProcessBoardTimeFrame(frame9(2026, 3, 1, 12, 0, 0)));
        }
        for (int t = 0; t < c.ticks; ++t) st.rig.station.tick();
        std::vector<std::string> deleted;
        for (const auto& name : files) {
            if (!st.rig.fs.exists("/station/datalog/" + name)) deleted.push_back(name);
        }
        EXPECT_EQ(deleted, c.deleted);
    }
}

// The purge deletes by the same names the readers take: a ".N" file goes with its period
// and a name the readers do not read is never the purge's.
TEST(PeriodicTimer, PurgeTakesTheReadersDatalogNames) {
    for (const char* name :
         {"20260101_120000_0100N.LG0", "20260101_120000_0100N.LG0.2",
          "20260101_120000_0100N.LG0.12", "20260101_120000_0100N.LG0.1",
          "20260101_120000_0100N.LG0.0", "20260101_120000_0100N.LG0.02",
          "20260101_120000_0100N.LG0.2.3", "20260101_120000_0100X.LG0", "20260101_120000_0000N.LG0",
          "20260101_120000_1e+1N.LG0", "20260230_120000_0100N.LG0"}) {
        EXPECT_EQ(timekeeping::datalog_file_date(name).has_value(),
                  datalog::ParseDatalogName(name).has_value())
            << name;
    }
    auto date = timekeeping::datalog_file_date("20260101_235959_0100N.LG0.2");
    ASSERT_TRUE(date);
    EXPECT_EQ(*date, (text::DateTime{2026, 1, 1, 0, 0, 0, 0}));
}

TEST(PeriodicTimer, AFailingStepIsReportedAndTheTickGoesOn) {
    for (int16_t service_mode : {0, 1}) {
        SCOPED_TRACE(service_mode);
        TimerStation st;
        st.general().use_velkmon = 1;
        st.general().service_mode = service_mode;
        st.disk.free = 5000;
        st.rig.fs.set_read_only("/station");
        if (service_mode != 0) {
            EXPECT_THROW(st.tick(), runtime::FatalError);
            continue;
        }
        st.tick();
        const auto& lines = st.rig.station.errors().lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("Error:75/"), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(" / Timer 1 / 206 / "), std::string::npos) << lines[0];
        EXPECT_EQ(st.view.fds, "FDS: 5 Kb") << "the steps after the failure still ran";
    }
}

TEST(PeriodicTimer, AutostartArmedAtLoadPressesStartOnTheNextTick) {
    StationRig first;
    first.load();
    std::string ini = first.file("velkant.ini");
    auto at = ini.find("AUT= 0 ");
    ASSERT_NE(at, std::string::npos);
    ini.replace(at, 7, "AUT= 1 ");

    StationRig rig;
    rig.load(ini);
    EXPECT_EQ(rig.station.settings().general.autostart, 2);
    EXPECT_FALSE(rig.station.timer().start_requested());
    rig.host.wait(1);
    EXPECT_TRUE(rig.station.timer().take_start_request());
    EXPECT_FALSE(rig.station.timer().take_start_request());
}

}  // namespace
}  // namespace velkantor::testing
