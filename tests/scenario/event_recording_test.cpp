#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <vector>

#include "config/settings_file.h"
#include "datalog/datalog_reader.h"
#include "events/event_file.h"
#include "support/station_rig.h"
#include "text/number_text.h"

namespace velkantor::testing {
namespace {

// A quake on the simulated board becomes an event file holding exactly what the board sent.
class EventRecording : public ::testing::Test {
protected:
    StationRig rig;
    std::map<std::pair<int, int64_t>, int32_t> sent;  // (channel, board millisecond) -> value
    double t0 = 0;

    void SetUp() override {
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kZeda18;
        for (auto& c : settings.channels) record_events(c);
        settings.channels[3].sps_index = 0;
        t0 = rig.clock.epoch_seconds();
        sim::BoardOptions options;
        options.noise_amplitude = 200;
        options.quakes.push_back({text::from_epoch_seconds(t0 + 400), 30, 30000});
        auto& board = rig.attach_board(options);
        board.sample_listener = [this](int ch, double at, int32_t value) {
            sent[{ch, static_cast<int64_t>(std::llround(at * 1000))}] = value;
        };
        rig.op.answers.clear();
    }

    std::vector<std::string> event_files() const {
        std::vector<std::string> names;
        for (auto& name : rig.fs.list_directory(std::string(kStation) + "/events")) {
            if (name.find('.') != std::string::npos) names.push_back(name);
        }
        return names;
    }
};

TEST_F(EventRecording, QuakeEventHoldsWhatTheBoardSent) {
    ASSERT_TRUE(rig.host.run_for(600));
    auto names = event_files();
    std::vector<std::string> quake_files;
    double quake_start = t0 + 400 - 30 + 1;  // pre-event of 30 s before the trigger second
    for (const auto& name : names) {
        std::string bytes = rig.fs.contents(std::string(kStation) + "/events/" + name);
        auto lines = split_lines(bytes);
        ASSERT_GE(lines.size(), 29u) << name;
        // Every file is finished: its count equals its sample lines.
        auto count = text::leading_number(lines[2].substr(19)).value_or(-1);
        EXPECT_EQ(count, static_cast<double>(lines.size() - 29)) << name;
        std::string start_text = lines[1].substr(12, 19);
        auto start = text::parse_datetime(start_text);
        ASSERT_TRUE(start) << lines[1];
        double start_epoch = text::to_epoch_seconds(*start);
        if (std::fabs(start_epoch - quake_start) > 2) continue;
        quake_files.push_back(name);
        int ch = lines[24].back() - '1';
        // Sample k of the file is the board's sample at the start second + k / rate.
        for (size_t k = 0; k + 29 < lines.size(); ++k) {
            int64_t at = static_cast<int64_t>(std::llround(start_epoch * 1000)) +
                         static_cast<int64_t>(k) * 10;
            auto it = sent.find({ch, at});
            ASSERT_NE(it, sent.end()) << name << " line " << k;
            ASSERT_EQ(text::leading_number(lines[29 + k]).value_or(0), it->second)
                << name << " line " << k;
        }
        EXPECT_GT(lines.size() - 29, 3000u) << "pre-event, quake and post-event";
    }
    EXPECT_EQ(quake_files.size(), 3u) << "one per recording channel";
    auto log = rig.event_log_messages();
    int summaries = 0;
    for (const auto& m : log) summaries += m.find(" Max SLTA:") != std::string::npos;
    EXPECT_EQ(summaries, static_cast<int>(names.size()));
}

// The STA and the LTA grow from rest after START at their own speeds: their ratio is no sign
// of an event until the LTA has had its length of signal.
TEST_F(EventRecording, NoiseAfterStartRecordsNothingTheQuakeOneEventPerChannel) {
    ASSERT_TRUE(rig.station.start());
    rig.host.run_until(t0 + 60);  // two LTA lengths of background noise
    EXPECT_TRUE(event_files().empty());
    for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(rig.station.detector().channel(ch).event_state, 0);
    rig.host.run_until(t0 + 600);
    rig.stop();
    auto names = event_files();
    std::sort(names.begin(), names.end());
    std::string stamp = text::format_file_stamp(text::from_epoch_seconds(t0 + 400 - 30 + 1));
    EXPECT_EQ(names, (std::vector<std::string>{stamp + ".CH1", stamp + ".CH2", stamp + ".CH3"}));
}

TEST_F(EventRecording, StopDuringAnEventLeavesAFinishedFile) {
    ASSERT_TRUE(rig.host.run_for(410));  // stops 10 s into the quake
    bool found = false;
    for (const auto& name : event_files()) {
        std::string bytes = rig.fs.contents(std::string(kStation) + "/events/" + name);
        EXPECT_EQ(bytes.find(events::kCountPlaceholder), std::string::npos) << name;
        found = true;
    }
    EXPECT_TRUE(found);
}

TEST_F(EventRecording, ScheduledRecordingStartsInItsSecond) {
    auto& settings = rig.station.settings();
    for (auto& c : settings.channels) c.record_enabled = 0;
    settings.channels[1].record_enabled = 1;
    settings.channels[1].trigger_mode = 2;
    settings.general.send_sms = 1;
    settings.schedule_lines[4] =
        text::format_datetime(text::from_epoch_seconds(t0 + 200)) + " Ch:2";
    config::DecodeSchedule(settings);
    ASSERT_TRUE(rig.host.run_for(300));
    auto names = event_files();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0],
              text::format_file_stamp(text::from_epoch_seconds(t0 + 200 - 30 + 1)) + ".CH2");
    // A normally closed event is announced to the outside sender and marked as recorded.
    EXPECT_NE(rig.file("sendsms.txt")
                  .find(text::format_datetime(text::from_epoch_seconds(t0 + 200 - 30 + 1))),
              std::string::npos)
        << rig.file("sendsms.txt");
    EXPECT_EQ(rig.station.alarms().event_recorded, 1);
}

// What the station took from the board, per channel, in order.
struct TakenSamples : runtime::SampleConsumers {
    std::array<std::vector<int32_t>, 4> values;
    void detector_statistics(int ch, int32_t value) override {
        values[static_cast<size_t>(ch)].push_back(value);
    }
};

// START and a board restart empty the pre-event ring: an event that triggers sooner than its
// pre-event time afterwards holds only samples recorded since then, from the first of them
// that falls on a whole second, and its start time is that sample's.
TEST_F(EventRecording, AnEventSoonAfterAResetHoldsOnlyRecordedSamples) {
    auto& settings = rig.station.settings();
    for (auto& c : settings.channels) c.trigger_mode = 0;  // amplitude: not held after a reset
    // A quake 10 s after START, and one 10 s after a restart of the board at t0 + 100; the
    // pre-event time is 30 s.
    sim::BoardOptions options;
    options.noise_amplitude = 200;
    options.quakes.push_back({text::from_epoch_seconds(t0 + 10), 5, 30000});
    options.quakes.push_back({text::from_epoch_seconds(t0 + 110), 5, 30000});
    auto& board = rig.attach_board(options);
    board.sample_listener = [this](int ch, double at, int32_t value) {
        sent[{ch, static_cast<int64_t>(std::llround(at * 1000))}] = value;
    };
    TakenSamples taken;
    rig.station.set_consumers(&taken);
    ASSERT_TRUE(rig.station.start());
    rig.host.run_until(t0 + 100);
    std::array<size_t, 4> at_restart{};
    for (size_t ch = 0; ch < 4; ++ch) at_restart[ch] = taken.values[ch].size();
    rig.station.run().restart_request = 2;
    rig.host.run_until(t0 + 200);
    rig.stop();
    rig.station.set_consumers(nullptr);

    auto names = event_files();
    ASSERT_EQ(names.size(), 6u) << "one event per recording channel after each reset";
    for (const auto& name : names) {
        auto lines = split_lines(rig.fs.contents(std::string(kStation) + "/events/" + name));
        ASSERT_GT(lines.size(), 29u) << name;
        auto start = text::parse_datetime(lines[1].substr(12, 19));
        ASSERT_TRUE(start) << lines[1];
        double start_epoch = text::to_epoch_seconds(*start);
        int ch = lines[24].back() - '1';
        auto c = static_cast<size_t>(ch);
        bool after_restart = start_epoch > t0 + 100;
        size_t reset_index = after_restart ? at_restart[c] : 0;
        // The file's samples are the ones taken since the reset, from the first whole second
        // on: no zeros the board never sent, nothing from before the reset.
        const auto& took = taken.values[c];
        std::vector<int32_t> file_values;
        for (size_t k = 29; k < lines.size(); ++k) {
            file_values.push_back(static_cast<int32_t>(text::leading_number(lines[k]).value_or(0)));
        }
        auto found = std::search(took.begin() + static_cast<std::ptrdiff_t>(reset_index),
                                 took.end(), file_values.begin(), file_values.end());
        ASSERT_NE(found, took.end()) << name;
        EXPECT_LT(found - took.begin() - static_cast<std::ptrdiff_t>(reset_index), 100)
            << name << ": the first whole second after the reset";
        // Sample k is the board's sample at the start time + k / rate.
        for (size_t k = 0; k < file_values.size(); ++k) {
            int64_t at = static_cast<int64_t>(std::llround(start_epoch * 1000)) +
                         static_cast<int64_t>(k) * 10;
            auto it = sent.find({ch, at});
            ASSERT_NE(it, sent.end()) << name << " line " << k;
            ASSERT_EQ(file_values[k], it->second) << name << " line " << k;
        }
        // The summary line carries the same start.
        EXPECT_NE(rig.file("evtfile.dat").find(name + " " + lines[1].substr(12, 19)),
                  std::string::npos)
            << name;
    }
}

// A board clock that jumps over the entry's second never starts that recording.
TEST(ScheduledRecording, ASkippedSecondNeverFires) {
    StationRig rig;
    rig.load();
    auto& settings = rig.station.settings();
    for (auto& c : settings.channels) {
        c.sps_index = 15;
        c.record_enabled = 0;
    }
    settings.channels[0].record_enabled = 1;
    settings.channels[0].trigger_mode = 2;
    settings.channels[0].stop_params = "1800,0.2,2,5";
    config::DecodeStopParams(settings.channels[0]);
    config::UpdateDerivedCounts(settings.channels[0]);
    double t0 = rig.clock.epoch_seconds();
    settings.schedule_lines[0] =
        text::format_datetime(text::from_epoch_seconds(t0 + 100)) + " Ch:1";
    settings.schedule_lines[1] =
        text::format_datetime(text::from_epoch_seconds(t0 + 150)) + " Ch:1";
    config::DecodeSchedule(settings);
    sim::BoardOptions options;
    options.clock.jumps.push_back({text::from_epoch_seconds(t0 + 98), 5});
    rig.attach_board(options);
    ASSERT_TRUE(rig.host.run_for(200));
    std::vector<std::string> names;
    for (auto& name : rig.fs.list_directory(std::string(kStation) + "/events")) {
        if (name.find('.') != std::string::npos) names.push_back(name);
    }
    // Only the second entry: the board went from t0+98 straight to t0+104.
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].substr(0, 15),
              text::format_file_stamp(text::from_epoch_seconds(t0 + 150 - 120 + 1)).substr(0, 15));
}

// A new station's settings with recording switched on: each event lasts at least its pre-
// and post-event time. (Its stop field gave a maximum length of 0: every event ended right
// after its pre-event part and the next began at the next sample under the same name, ~50
// times a second, until the event log was cleared by its size rule.)
TEST(NewStationRecording, EventsAreNotCutToTheirPreEventPart) {
    StationRig rig;
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    auto& first = settings.channels[0];
    EXPECT_EQ(first.max_event_minutes, first.pre_event_minutes + first.post_event_minutes);
    for (auto& c : settings.channels) c.sps_index = 15;
    first.record_enabled = 1;
    first.trigger_mode = 0;  // the board's noise starts an event at once
    first.start_amplitude = 50;
    config::UpdateDerivedCounts(first);
    rig.attach_board();
    ASSERT_TRUE(rig.host.run_for(10));
    auto log = rig.event_log_messages();
    int summaries = 0;
    for (const auto& m : log) summaries += m.find(" Max SLTA:") != std::string::npos;
    EXPECT_EQ(summaries, 1) << "one event, ended by STOP";
    EXPECT_LT(log.size(), 20u);
    int files = 0;
    for (const auto& name : rig.fs.list_directory(std::string(kStation) + "/events")) {
        files += name.find('.') != std::string::npos;
    }
    EXPECT_EQ(files, 1);
}

// Auto offset on a running station: for its first 5 s the detector's DC level is the last
// raw sample, then it follows the signal with a time constant of 5 LTAs (here 5 x 30 s x 100
// per second); each conditioned sample is the raw one minus the level left by the sample
// before it. Checked on every sample of the datalog against the board's own values.
// With the offset taken automatically, a short LTA begins after the DC warm-up's zeros:
// the quiet background right after START sets nothing off.
TEST(AutoOffsetRun, AShortLtaGivesNoFalseEventAtStart) {
    StationRig rig;
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) c.sps_index = 15;
    auto& channel = settings.channels[0];
    record_events(channel);
    channel.start_params = "2000,2,0.5,1,3,2.5";  // STA 1 s, LTA 3 s, ratio 2.5
    config::DecodeStartParams(channel);
    channel.auto_offset = 1;
    sim::BoardOptions options;
    options.noise_amplitude = 200;
    rig.attach_board(options);
    rig.op.answers.clear();
    ASSERT_TRUE(rig.host.run_for(60));
    for (const auto& name : rig.fs.list_directory(std::string(kStation) + "/events")) {
        EXPECT_EQ(name.find('.'), std::string::npos) << "a false event: " << name;
    }
}

// A board restarted after an outage begins a new stream: an event open when it went silent
// ends as at STOP (its file does not close the gap up), and the next event starts at the new
// stream's own time.
TEST_F(EventRecording, AnEventOpenAcrossAnOutageEndsAtTheOutage) {
    ASSERT_TRUE(rig.station.start());
    rig.host.run_until(t0 + 402);  // the quake at t0 + 400 has opened events
    ASSERT_TRUE(rig.station.detector().any_recording());
    const double silent_from = rig.clock.epoch_seconds();
    rig.line->set_connected(false);
    rig.host.run_until(silent_from + 60);
    EXPECT_FALSE(rig.station.detector().any_recording()) << "the events ended at the restart";
    rig.line->set_connected(true);
    rig.host.run_until(silent_from + 120);
    rig.stop();

    int quake_files = 0;
    for (const auto& name : event_files()) {
        auto lines = split_lines(rig.file("events/" + name));
        ASSERT_GE(lines.size(), 29u) << name;
        auto start = text::parse_datetime(lines[1].substr(12, 19));
        ASSERT_TRUE(start) << lines[1];
        const double first = text::to_epoch_seconds(*start);
        if (first > silent_from) continue;  // an event of the new stream
        ++quake_files;
        // Finished, and no sample of it lies after the board went silent: the new stream's
        // samples are not appended to it as if the outage had not been.
        auto count = text::leading_number(lines[2].substr(19)).value_or(-1);
        EXPECT_EQ(count, static_cast<double>(lines.size() - 29)) << name;
        EXPECT_LE(first + static_cast<double>(lines.size() - 29) / 100, silent_from + 1) << name;
    }
    EXPECT_EQ(quake_files, 3) << "one per recording channel";
}

TEST(AutoOffsetRun, TheDcLevelReachesTheConditionedSamples) {
    StationRig rig;
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) c.sps_index = 15;
    settings.channels[0].auto_offset = 1;
    settings.channels[0].datalog_enabled = 1;
    std::vector<std::pair<double, int32_t>> sent;  // channel 1: board time, raw value
    auto& board = rig.attach_board();
    board.sample_listener = [&sent](int ch, double at, int32_t value) {
        if (ch == 0) sent.emplace_back(at, value);
    };
    ASSERT_TRUE(rig.host.run_for(20));
    ASSERT_GT(sent.size(), 1900u);

    std::map<int64_t, int32_t> expected;  // board millisecond -> conditioned value
    double dc = 0;
    for (size_t k = 0; k < sent.size(); ++k) {
        auto [at, raw] = sent[k];
        // In the warm-up (five seconds) the level is the sample itself, taken before the
        // sample is conditioned: the first samples are zeros, never the whole DC level.
        if (k < 500) dc = raw;
        expected[std::llround(at * 1000)] = raw - static_cast<int32_t>(text::round_half_even(dc));
        if (k >= 500) dc = dc + (raw - dc) / (5 * 30 * 100);
    }
    size_t checked = 0;
    const std::string folder = std::string(kStation) + "/datalog";
    for (const auto& name : rig.fs.list_directory(folder)) {
        auto file = datalog::ParseDatalogName(name);
        if (!file || file->channel != 0) continue;
        std::string bytes = rig.fs.contents(folder + "/" + name);
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
            uint32_t bits = 0;
            for (int b = 3; b >= 0; --b)
                bits = bits << 8 | static_cast<uint8_t>(bytes[i + static_cast<size_t>(b)]);
            auto value = static_cast<int32_t>(bits);
            auto at = std::llround(file->start_epoch * 1000) + static_cast<int64_t>(i / 4) * 10;
            auto it = expected.find(at);
            ASSERT_NE(it, expected.end()) << name << " sample " << i / 4;
            ASSERT_EQ(value, it->second) << name << " sample " << i / 4;
            ++checked;
        }
    }
    EXPECT_GT(checked, 1500u) << "warm-up and after";
}

}  // namespace
}  // namespace velkantor::testing
