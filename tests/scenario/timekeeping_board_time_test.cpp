#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/zeda_board.h"
#include "support/station_rig.h"
#include "timekeeping/second_listener.h"

namespace velkantor::testing {
namespace {

using text::DateTime;

// A station on a simulated board whose one channel runs at 5 samples per second, so that
// runs of half a day stay quick.
struct SimStation {
    StationRig rig;

    explicit SimStation(DateTime start, sim::BoardOptions options = {},
                        int16_t ad_type = config::kZeda18)
        : rig(start) {
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = ad_type;
        for (auto& channel : settings.channels) channel.sps_index = 0;
        settings.channels[0].sps_index = 6;  // "5"
        settings.channels[1].sps_index = ad_type == config::kZeda30 ? 6 : 0;
        rig.attach_board(options);
    }
    std::vector<std::string> events() const { return rig.event_log_messages(); }
    // The time log as (PC epoch seconds of the line, text).
    std::vector<std::pair<double, std::string>> time_log() const {
        std::vector<std::pair<double, std::string>> out;
        for (const auto& line : split_lines(rig.file("timefile.txt"))) {
            auto stamp = text::parse_datetime(line.substr(0, 19));
            if (stamp) out.emplace_back(text::to_epoch_seconds(*stamp), line.substr(20));
        }
        return out;
    }
};

// The board date and time of every second the board clock accepted.
struct SecondRecorder : timekeeping::SecondListener {
    explicit SecondRecorder(acquisition::Station& station) : station_(station) {
        station.set_second_listener(this);
    }
    ~SecondRecorder() override { station_.set_second_listener(nullptr); }
    void show_measured_rate(double) override {
        seen.push_back(station_.board_clock().state().board_datetime_text);
    }
    std::vector<std::string> seen;

private:
    acquisition::Station& station_;
};

size_t count(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

TEST(TimekeepingRun, LockedBySynchronisationUnlockedAfterTheTimeOut) {
    struct Case {
        int16_t sync_source;
        std::string label;
        int unlock_minute;
    };
    for (const Case& c : std::vector<Case>{{1, "DCF", 720}, {0, "GPS", 11}}) {
        SCOPED_TRACE(c.label);
        // The receiver synchronises every minute until 08:10, then is lost.
        sim::BoardOptions options;
        options.clock.sync_every_seconds = 60;
        options.clock.receiver_lost = {{{2026, 3, 1, 8, 10, 0, 0}, {2026, 3, 2, 0, 0, 0, 0}}};
        SimStation st({2026, 3, 1, 8, 0, 0, 0}, options);
        st.rig.station.settings().general.sync_source = c.sync_source;
        st.rig.station.board_clock().set_sync_source_label(c.label);
        ASSERT_TRUE(st.rig.host.run_for(10 * 60 + (c.unlock_minute + 2) * 60));

        std::vector<std::pair<double, std::string>> states;
        double last_sync = 0;
        size_t syncs = 0;
        for (const auto& [at, text] : st.time_log()) {
            if (text.rfind("SYNC:", 0) == 0) {
                ++syncs;
                EXPECT_NE(text.find(" PCRTC:0 PCSYN:0"), std::string::npos) << text;
                last_sync = text::to_epoch_seconds(*text::parse_datetime(text.substr(5, 19))) + 1;
            } else if (text.find(" Status:") != std::string::npos) {
                states.emplace_back(at, text);
            }
        }
        EXPECT_GE(syncs, 9u);
        ASSERT_EQ(states.size(), 3u);
        EXPECT_EQ(states[0].second, "START - Sync mode:" + c.label + " Status:Unlocked");
        EXPECT_EQ(states[1].second, c.label + " Status:Locked");
        EXPECT_EQ(states[2].second, c.label + " Status:Unlocked");
        EXPECT_EQ(text::format_time(text::from_epoch_seconds(last_sync)), "08:09:00");
        double unlocked_after = states[2].first - last_sync;
        EXPECT_GE(unlocked_after, c.unlock_minute * 60.0);
        EXPECT_LE(unlocked_after, c.unlock_minute * 60.0 + 1);

        auto events = st.events();
        EXPECT_EQ(count(events, "Time Locked"), 1u);
        EXPECT_EQ(count(events, "Time UnLocked"), 1u);
        EXPECT_EQ(st.rig.station.run().lock_state, "N");
    }
}

// Firmware 1.62 to 2.10 sends the first second of a day with the day before; 3.00 does
// not need the fix. The simulated board dates its frames right, so these frames are the
// ones such a board sends, fed to the main loop.
TEST(TimekeepingRun, MidnightWithTheFirmwaresThatLag) {
    auto frame = [](int day, int h, int m, int s) {
        return std::string{static_cast<char>(0x81),
                           26,
                           3,
                           static_cast<char>(day),
                           static_cast<char>(s),
                           static_cast<char>(m),
                           static_cast<char>(h),
                           0,
                           static_cast<char>(0xF0)};
    };
    const std::string frames = frame(1, 23, 59, 58) + frame(1, 23, 59, 59) + frame(1, 0, 0, 0) +
                               frame(2, 0, 0, 1) + frame(2, 0, 0, 2);
    struct Case {
        std::string firmware;
        std::string at_midnight;
    };
    for (const Case& c :
         std::vector<Case>{{"2.10", "2026/03/02 00:00:00"}, {"3.00", "2026/03/01 00:00:00"}}) {
        SCOPED_TRACE(c.firmware);
        StationRig rig({2026, 3, 1, 23, 59, 57, 0});
        rig.load();
        ASSERT_TRUE(rig.start_blind(c.firmware));
        SecondRecorder recorder(rig.station);
        size_t mark = rig.event_log_messages().size();
        rig.port.deliver(frames + std::string(4, '\0'));
        for (int i = 0; i < 40; ++i) rig.station.pass();
        EXPECT_EQ(recorder.seen, (std::vector<std::string>{
                                     "2026/03/01 23:59:58", "2026/03/01 23:59:59", c.at_midnight,
                                     "2026/03/02 00:00:01", "2026/03/02 00:00:02"}));
        auto log = rig.event_log_messages();
        EXPECT_EQ(log.size(), mark) << "no warning: " << log.back();
    }
}

TEST(TimekeepingRun, MidnightOnASimulatedBoardOfFirmwareThree) {
    sim::BoardOptions options;
    options.model = "ZEDA30";
    SimStation st({2026, 3, 1, 23, 59, 50, 0}, options, config::kZeda30);
    SecondRecorder recorder(st.rig.station);
    ASSERT_TRUE(st.rig.host.run_for(20));
    EXPECT_EQ(st.rig.station.run().firmware_version, "3.00");
    ASSERT_GE(recorder.seen.size(), 10u);
    auto midnight = std::find(recorder.seen.begin(), recorder.seen.end(), "2026/03/02 00:00:00");
    ASSERT_NE(midnight, recorder.seen.end());
    EXPECT_EQ(*(midnight - 1), "2026/03/01 23:59:59");
    for (size_t i = 1; i < recorder.seen.size(); ++i) {
        double step = text::to_epoch_seconds(*text::parse_datetime(recorder.seen[i])) -
                      text::to_epoch_seconds(*text::parse_datetime(recorder.seen[i - 1]));
        EXPECT_EQ(step, 1) << recorder.seen[i];
    }
    for (const auto& m : st.events()) EXPECT_EQ(m.find("Warning!"), std::string::npos) << m;
}

TEST(TimekeepingRun, ImpossibleBoardTimeIsCorrectedFromThePc) {
    sim::BoardOptions options;
    options.clock.bad_times = {{{2026, 3, 1, 12, 0, 10, 0}, sim::BadTime::Field::hours}};
    SimStation st({2026, 3, 1, 12, 0, 0, 0}, options);
    st.rig.station.settings().general.gmt_offset = -1;
    std::vector<std::pair<double, std::string>> heard;
    st.rig.board->recorder = [&](const sim::LineRecord& r) {
        if (!r.from_board) heard.emplace_back(r.time, r.bytes);
    };
    ASSERT_TRUE(st.rig.host.run_for(30));

    auto events = st.events();
    auto bad = std::find(events.begin(), events.end(),
                         "Warning! Bad time from A/D card: 2026/03/01 24:00:10");
    ASSERT_NE(bad, events.end());
    ASSERT_NE(bad + 1, events.end());
    EXPECT_EQ((bad + 1)->rfind("Warning! Time corrected to: 2026/03/01 12:00:1", 0), 0u)
        << *(bad + 1);
    EXPECT_EQ(count(events, "Warning! Bad time from A/D card: 2026/03/01 24:00:10"), 1u);
    // The seconds discarded during the correction are no jump of the board.
    EXPECT_EQ(count(events, "Warning! Too much time difference:"), 0u);

    // Set time, time zone and date, one second apart.
    std::vector<std::pair<double, std::string>> clock_commands;
    for (const auto& h : heard) {
        auto type = static_cast<uint8_t>(h.second[0]);
        if (h.second.size() == 6 && (type == 0x83 || type == 0x82 || type == 0x87)) {
            clock_commands.push_back(h);
        }
    }
    ASSERT_EQ(clock_commands.size(), 3u);
    EXPECT_EQ(static_cast<uint8_t>(clock_commands[0].second[0]), 0x83);
    EXPECT_EQ(clock_commands[1].second, std::string("\x82\xFF\xFF\xFF\xFF\xFF", 6));
    EXPECT_EQ(clock_commands[2].second, std::string("\x87\x1A\x03\x01\x00\x00", 6));
    EXPECT_NEAR(clock_commands[1].first - clock_commands[0].first, 1, 1e-6);
    EXPECT_NEAR(clock_commands[2].first - clock_commands[1].first, 1, 1e-6);
    auto* zeda = dynamic_cast<sim::ZedaBoard*>(st.rig.board.get());
    ASSERT_NE(zeda, nullptr);
    EXPECT_EQ(zeda->time_zone_correction(), -1);
    EXPECT_NEAR(zeda->board_time(st.rig.clock.epoch_seconds()), st.rig.clock.epoch_seconds(), 1);
}

TEST(TimekeepingRun, BoardClockJumpsAreLoggedOncePerJump) {
    sim::BoardOptions options;
    options.clock.jumps = {{{2026, 3, 1, 12, 0, 20, 0}, 5}, {{2026, 3, 1, 12, 0, 40, 0}, -10}};
    SimStation st({2026, 3, 1, 12, 0, 0, 0}, options);
    ASSERT_TRUE(st.rig.host.run_for(60));
    std::vector<std::string> warnings;
    for (const auto& m : st.events()) {
        if (m.find("time difference") != std::string::npos || m.rfind("Previous:", 0) == 0) {
            warnings.push_back(m);
        }
    }
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "Warning! Too much time difference:", "Previous:12:00:19 Received:12:00:25",
                  "Warning! Too much time difference:", "Previous:12:00:39 Received:12:00:30"}));
}

}  // namespace
}  // namespace velkantor::testing
