// The station tells its observer (the alerts) of events, alarms, a lost board and the disk
// check at the moments the event log, the alarms and the command files hear of them.
#include <gtest/gtest.h>

#include <cmath>

#include "config/settings_file.h"
#include "platform/fake/fake_devices.h"
#include "support/station_rig.h"
#include "text/date_time.h"

namespace velkantor::testing {
namespace {

// What the observer heard, one line each, with the board time it heard it at.
struct HeardMoments : runtime::StationObserver {
    explicit HeardMoments(acquisition::Station& s) : station(s) {}
    void event_started(int ch, const std::string& name, const std::string& start,
                       bool scheduled) override {
        lines.push_back("start " + std::to_string(ch + 1) + (scheduled ? " scheduled" : ""));
        names.push_back(name);
        starts.push_back(start);
    }
    void event_ended(int ch, const runtime::EventSummary& event, double seconds,
                     bool at_stop) override {
        lines.push_back("end " + std::to_string(ch + 1) + (at_stop ? " at stop" : ""));
        names.push_back(event.file_name);
        starts.push_back(event.start_text);
        durations.push_back(seconds);
        peaks.push_back(event.max_half_wave_peak);
    }
    void alarm_exceeded(int ch, int32_t value, int32_t threshold) override {
        lines.push_back("alarm " + std::to_string(ch + 1));
        EXPECT_GT(std::abs(value), threshold);
    }
    void board_lost() override { lines.push_back("board lost"); }
    void board_back(double seconds) override {
        lines.push_back("board back");
        outage = seconds;
    }
    void disk_space_checked(uint64_t free_bytes) override {
        ++disk_checks;
        disk_free = free_bytes;
    }

    acquisition::Station& station;
    std::vector<std::string> lines;
    std::vector<std::string> names;
    std::vector<std::string> starts;
    std::vector<double> durations;
    std::vector<double> peaks;
    double outage = -1;
    int disk_checks = 0;
    uint64_t disk_free = 0;
};

class AlertObserver : public ::testing::Test {
protected:
    StationRig rig;
    HeardMoments heard{rig.station};
    runtime::Registration observing;
    platform::FakeDiskSpace disk;
    double t0 = 0;

    void SetUp() override {
        rig.load();
        observing = rig.station.services().observe(heard);
        rig.station.set_devices({.disk_space = &disk, .pc_clock = &rig.pc_clock});
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kZeda18;
        for (auto& c : settings.channels) {
            record_events(c, "1800,0.2,2,4");
            c.record_enabled = 0;
        }
        t0 = rig.clock.epoch_seconds();
        rig.op.answers.clear();
    }

    void quake_at(double seconds) {
        sim::BoardOptions options;
        options.noise_amplitude = 200;
        options.quakes.push_back({text::from_epoch_seconds(t0 + seconds), 30, 30000});
        rig.attach_board(options);
    }
};

TEST_F(AlertObserver, AQuakeIsHeardAsStartAlarmAndEndOfEachRecordingChannel) {
    auto& channels = rig.station.settings().channels;
    channels[0].record_enabled = 1;
    channels[2].record_enabled = 1;
    channels[0].alarm_enabled = 1;
    channels[0].alarm_threshold = 10000;
    quake_at(100);
    ASSERT_TRUE(rig.host.run_for(200));

    // One alarm per event, however many samples pass the threshold; nothing of channel 2.
    std::vector<std::string> ch1, ch3;
    for (const auto& line : heard.lines) {
        if (line.ends_with(" 1")) ch1.push_back(line);
        if (line.ends_with(" 3")) ch3.push_back(line);
    }
    EXPECT_EQ(ch1, (std::vector<std::string>{"start 1", "alarm 1", "end 1"})) << heard.lines.size();
    EXPECT_EQ(ch3, (std::vector<std::string>{"start 3", "end 3"}));
    EXPECT_EQ(ch1.size() + ch3.size(), heard.lines.size());
    // The end names the file the start named, which is on the disk and in the event log.
    ASSERT_EQ(heard.names.size(), 4u);
    auto log = rig.event_log_messages();
    for (size_t i = 0; i < heard.names.size(); ++i) {
        EXPECT_TRUE(rig.fs.exists(std::string(kStation) + "/events/" + heard.names[i]));
    }
    for (size_t i = 0; i < heard.durations.size(); ++i) {
        // The file's lines at 100 per second: the quake rings about 20 s above the stop level.
        EXPECT_GT(heard.durations[i], 15);
        EXPECT_LT(heard.durations[i], 60);
        EXPECT_GT(heard.peaks[i], 10000);
    }
    EXPECT_EQ(heard.starts[0], text::format_datetime(text::from_epoch_seconds(t0 + 100 - 30 + 1)))
        << "the start of the pre-event";
}

TEST_F(AlertObserver, StopDuringAnEventEndsItAtStop) {
    rig.station.settings().channels[1].record_enabled = 1;
    quake_at(60);
    ASSERT_TRUE(rig.host.run_for(65));
    EXPECT_EQ(heard.lines, (std::vector<std::string>{"start 2", "end 2 at stop"}));
    EXPECT_EQ(rig.file("sendsms.txt"), "") << "no command file for a cut event";
}

TEST_F(AlertObserver, AScheduledRecordingSaysSo) {
    auto& settings = rig.station.settings();
    settings.channels[1].record_enabled = 1;
    settings.channels[1].trigger_mode = 2;
    settings.schedule_lines[0] = text::format_datetime(text::from_epoch_seconds(t0 + 60)) + " Ch:2";
    config::DecodeSchedule(settings);
    rig.attach_board();
    ASSERT_TRUE(rig.host.run_for(120));
    EXPECT_EQ(heard.lines, (std::vector<std::string>{"start 2 scheduled", "end 2"}));
}

TEST_F(AlertObserver, ALostBoardIsHeardOnceAndItsReturnWithTheOutage) {
    rig.attach_board();
    ASSERT_TRUE(rig.station.start());
    rig.host.run_until(t0 + 10);
    rig.line->set_connected(false);
    rig.host.run_until(t0 + 10 + 2 * 3600);  // hourly restart lines meanwhile
    rig.line->set_connected(true);
    rig.host.run_until(rig.clock.epoch_seconds() + 60);
    rig.stop();

    EXPECT_EQ(heard.lines, (std::vector<std::string>{"board lost", "board back"}));
    EXPECT_NEAR(heard.outage, 2 * 3600, 60);
}

TEST_F(AlertObserver, EachSecondsDiskCheckIsHeard) {
    disk.free = 123'000'000;
    rig.attach_board();
    ASSERT_TRUE(rig.host.run_for(10));
    EXPECT_GE(heard.disk_checks, 9);
    EXPECT_EQ(heard.disk_free, 123'000'000u);
}

}  // namespace
}  // namespace velkantor::testing
