#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/fake/fake_devices.h"
#include "support/parallel_pulses.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

using text::DateTime;

void low_rate(acquisition::Station& station) {
    auto& settings = station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& channel : settings.channels) channel.sps_index = 0;
    settings.channels[0].sps_index = 6;  // "5"
}

TEST(TimerRun, ThirtyFiveSecondsOfSilenceRestartTheBoardOnce) {
    StationRig rig({2026, 3, 1, 12, 0, 0, 0});
    rig.load();
    low_rate(rig.station);
    rig.attach_board();
    ASSERT_TRUE(rig.station.start());
    double t0 = rig.clock.epoch_seconds();
    rig.host.run_until(t0 + 10);
    double frames_before = rig.station.run().data_frames;
    rig.line->set_connected(false);
    rig.host.run_until(t0 + 45);
    EXPECT_EQ(rig.station.run().data_frames, frames_before);
    rig.line->set_connected(true);
    rig.host.run_until(t0 + 90);
    rig.stop();

    auto log = rig.event_log_messages();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Warning! A/D card restarted."), 1);
    EXPECT_GT(rig.station.run().data_frames, frames_before + 40 * 5) << "data flows again";
}

TEST(TimerRun, WatchdogPulsesWhileTheMainLoopRuns) {
    StationRig rig({2026, 3, 1, 12, 0, 0, 0});
    platform::FakeParallelPort lpt(&rig.clock);
    rig.load();
    rig.station.set_devices({.parallel_port = &lpt, .pc_clock = &rig.pc_clock});
    low_rate(rig.station);
    auto& general = rig.station.settings().general;
    general.lpt_port = 1;
    general.use_velkmon = 1;
    rig.attach_board();
    ASSERT_TRUE(rig.station.start());
    // Counting starts with the first tick after the watchdog is switched on.
    general.watchdog_enabled = 1;
    double first_tick = std::floor(rig.clock.epoch_seconds()) + 1;
    rig.host.run_until(first_tick + 199.5);

    std::vector<double> widths;
    std::vector<int> rising = rising_ticks(lpt, first_tick, &widths);
    EXPECT_EQ(rising, (std::vector<int>{57, 117, 177}));
    ASSERT_EQ(widths.size(), 3u);
    for (double w : widths) EXPECT_NEAR(w, 0.1, 1e-6);
    EXPECT_EQ(rig.file("velkant.dct"), "doctor\r\n");
    EXPECT_GT(rig.station.run().data_frames, 190 * 5) << "the pauses cost no data";
}

TEST(TimerRun, AutostartPressesStartOneTickAfterLoad) {
    std::string ini;
    {
        StationRig first;
        first.load();
        ini = first.file("velkant.ini");
    }
    auto at = ini.find("AUT= 0 ");
    ASSERT_NE(at, std::string::npos);
    ini.replace(at, 7, "AUT= 1 ");

    StationRig rig({2026, 3, 1, 12, 0, 0, 0});
    rig.load(ini);
    low_rate(rig.station);
    rig.attach_board();
    double loaded = rig.clock.epoch_seconds();
    // The host: it presses START when the timer asks for it.
    while (!rig.station.timer().take_start_request()) {
        ASSERT_LT(rig.clock.epoch_seconds(), loaded + 5);
        rig.host.wait(0.25);
    }
    EXPECT_LE(rig.clock.epoch_seconds() - loaded, 1.0) << "on the first tick";
    ASSERT_TRUE(rig.station.start());
    EXPECT_EQ(rig.station.settings().general.autostart, 1);
    rig.host.run_until(rig.clock.epoch_seconds() + 10);
    EXPECT_GT(rig.station.run().data_frames, 40);
    rig.stop();

    // Stopped by the operator: autostart is off, nothing presses START again.
    EXPECT_EQ(rig.station.settings().general.autostart, 0);
    rig.host.wait(5);
    EXPECT_FALSE(rig.station.timer().start_requested());
    auto log = rig.event_log_messages();
    EXPECT_EQ(std::count(log.begin(), log.end(), "START with ZEDA V181"), 1);
}

// The PC clock five years ahead of the board (a mistyped year): the purge counts the days
// from the board's date, the one the files are named by, so it deletes what is older than
// the purge days by that date and nothing else.
TEST(TimerRun, PurgeCountsDaysFromTheBoardDateNotThePcDate) {
    StationRig rig({2031, 3, 1, 12, 0, 0, 0});
    rig.load();
    low_rate(rig.station);
    auto& settings = rig.station.settings();
    settings.general.never_purge = 0;
    settings.general.purge_days = 30;
    settings.channels[0].datalog_enabled = 1;
    const std::string folder = std::string(kStation) + "/datalog/";
    const std::vector<std::string> old = {"20260115_120000_0005N.LG0",
                                          "20260115_120000_0005N.LG0.2"};  // 45 days
    const std::vector<std::string> recent = {
        "20260215_120000_0005N.LG0", "20260215_120000_0005N.LG0.2", "20260301_000000_0005N.LG0"};
    for (const auto& name : old) rig.fs.put(folder + name, "xy");
    for (const auto& name : recent) rig.fs.put(folder + name, "xy");
    sim::BoardOptions options;
    options.board_start = {2026, 3, 1, 12, 0, 0, 0};
    rig.attach_board(options);
    ASSERT_TRUE(rig.station.start());
    // One name a tick: a minute examines the folder several times over.
    rig.host.run_until(rig.clock.epoch_seconds() + 60);

    for (const auto& name : old) EXPECT_FALSE(rig.fs.exists(folder + name)) << name;
    for (const auto& name : recent) EXPECT_TRUE(rig.fs.exists(folder + name)) << name;
    bool written_today = false;
    for (const auto& name : rig.fs.list_directory(folder)) {
        written_today |= name.rfind("20260301_12", 0) == 0;
    }
    EXPECT_TRUE(written_today) << "the run's own file, by the board's time";
}

}  // namespace
}  // namespace velkantor::testing
