#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

using runtime::SampleConsumers;
using Sample = std::pair<int, int32_t>;

// sps_index of the rates used here.
constexpr int kOff = 0, k20 = 9, k30 = 11, k50 = 12, k60 = 13, k100 = 15, k120 = 16, k200 = 17,
              k240 = 18;

// Takes what the main loop hands out, in order.
struct Recorder : SampleConsumers {
    std::vector<Sample> samples;
    std::vector<std::string> time_frames;
    // How many samples had come when each time frame came.
    std::vector<size_t> samples_before_frame;

    void trigger_and_record(int ch, int32_t value) override { samples.emplace_back(ch, value); }
    void board_time_frame(std::string_view frame) override {
        time_frames.emplace_back(frame);
        samples_before_frame.push_back(samples.size());
    }
};

// What went over the line from the station, with its time after START.
struct Sent {
    double at;
    std::string bytes;
};

struct Instrument {
    int16_t ad_type;
    const char* model;
    std::array<int, 4> sps_index;
    const char* line_settings;
    int input_length;
    platform::InputMode input_mode;
    const char* description;
    std::vector<Sent> start_script;
    std::string stop;
    const char* not_found_log;
    const char* not_found_warning;
};

std::string nul(const char* text, size_t size) {
    return std::string(text, size);
}

const Instrument kInstruments[] = {
    {config::kInfiltec,
     "INFILTEC",
     {k100, kOff, kOff, kOff},
     "9600,n,8,1",
     8,
     platform::InputMode::text,
     "Infiltec at 9600,n,8,1 ",
     {},
     "",
     "Error! Acquisition stopped. Board INFILTEC not found.",
     "INFILTEC board not found."},
    {config::kLx1500,
     "LX1500",
     {k100, kOff, kOff, kOff},
     "19200,n,8,1",
     8,
     platform::InputMode::text,
     "N.E. LX1500 at 19200,n,8,1 ",
     {{2, "G0T1"}, {2.5, "STBY"}, {3, "G0T1"}, {3.5, "G0T1"}, {4, "DONE"}},
     "STBY",
     "Error! Acquisition stopped. Board LX1500 not found.",
     "LX1500 Not found."},
    {config::kDataqDi194rs,
     "DATAQ",
     {k120, k60, kOff, kOff},
     "4800,n,8,1",
     1,
     platform::InputMode::binary,
     "DATAQ DI194RS at 4800,n,8,1 ",
     {{0, "3"},
      {1, nul("\0B\x01", 3)},
      {1.2, nul("\0S0", 3)},
      {1.4, nul("\0NZ", 3)},
      {1.6, nul("\0C3", 3)},
      {1.8, nul("\0D0", 3)},
      {2.0, nul("\0S1", 3)}},
     nul("\0S0", 3),
     "Error! Acquisition stopped. Board DATAQ DI-194RS not found",
     "DATAQ DI-194RS Not found."},
};

// A station with the instrument's settings and its simulated model on the line.
struct InstrumentStation {
    explicit InstrumentStation(const Instrument& instrument,
                               text::DateTime start = {2026, 3, 1, 12, 0, 0, 0},
                               sim::BoardOptions options = {})
        : rig(start) {
        rig.load();
        rig.station.set_consumers(&recorder);
        auto& settings = rig.station.settings();
        settings.general.ad_type = instrument.ad_type;
        for (size_t c = 0; c < 4; ++c) settings.channels[c].sps_index = instrument.sps_index[c];
        options.model = instrument.model;
        auto& board = rig.attach_board(options);
        double t0 = rig.clock.epoch_seconds();
        board.recorder = [this, t0](const sim::LineRecord& r) {
            if (!r.from_board) heard.push_back({r.time - t0, r.bytes});
        };
        board.sample_listener = [this](int ch, double at, int32_t value) {
            sent[ch].push_back(value);
            sent_at[ch].push_back(at);
        };
    }

    // What the station and the instrument call into outlives them.
    Recorder recorder;
    std::vector<Sent> heard;
    std::map<int, std::vector<int32_t>> sent;    // per channel, as the instrument sent them
    std::map<int, std::vector<double>> sent_at;  // and when (its clock is the PC's here)
    StationRig rig;
};

std::vector<int32_t> channel(const std::vector<Sample>& samples, int ch) {
    std::vector<int32_t> out;
    for (auto [c, v] : samples) {
        if (c == ch) out.push_back(v);
    }
    return out;
}

int second_of_day(std::string_view frame) {
    auto byte = [&](size_t i) { return static_cast<uint8_t>(frame[i]); };
    return byte(3) * 3600 + byte(2) * 60 + byte(1);
}

// Time frames are 6 bytes, one per PC second, each the second after the one before.
void expect_second_by_second(const std::vector<std::string>& frames) {
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].size(), 6u) << i;
        if (i == 0) continue;
        EXPECT_EQ((second_of_day(frames[i]) - second_of_day(frames[i - 1]) + 86400) % 86400, 1)
            << i;
    }
}

// The event log holds these lines in this order (other subsystems may add their own).
::testing::AssertionResult logged_in_order(const std::vector<std::string>& log,
                                           const std::vector<std::string>& lines) {
    auto at = log.begin();
    for (const auto& line : lines) {
        at = std::find(at, log.end(), line);
        if (at == log.end()) return ::testing::AssertionFailure() << "missing: " << line;
        ++at;
    }
    return ::testing::AssertionSuccess();
}

// Where `part` lies inside `whole` as one unbroken run; npos when it does not.
size_t run_inside(const std::vector<int32_t>& whole, const std::vector<int32_t>& part) {
    auto at = std::search(whole.begin(), whole.end(), part.begin(), part.end());
    return at == whole.end() ? std::string::npos : static_cast<size_t>(at - whole.begin());
}

TEST(InstrumentRun, StartScriptLineAndStop) {
    for (const auto& instrument : kInstruments) {
        SCOPED_TRACE(instrument.model);
        InstrumentStation run(instrument);
        ASSERT_TRUE(run.rig.host.run_for(20));

        const auto& port = run.rig.port;
        EXPECT_EQ(port.line_settings(), instrument.line_settings);
        EXPECT_EQ(port.input_length(), instrument.input_length);
        EXPECT_EQ(port.input_mode(), instrument.input_mode);
        EXPECT_TRUE(port.dtr());
        EXPECT_TRUE(port.rts());
        EXPECT_TRUE(logged_in_order(run.rig.event_log_messages(),
                                    {std::string("START with ") + instrument.description, "STOP"}));
        EXPECT_EQ(run.rig.station.run().board_description, instrument.description);

        std::vector<Sent> expected = instrument.start_script;
        if (!instrument.stop.empty()) expected.push_back({20, instrument.stop});
        ASSERT_EQ(run.heard.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(run.heard[i].at, expected[i].at, 1e-6) << i;
            EXPECT_EQ(run.heard[i].bytes, expected[i].bytes) << i;
        }
    }
}

TEST(InstrumentRun, TextInstrumentsDeliverEveryReadingInOrder) {
    struct Case {
        const Instrument& instrument;
        int rate;
    };
    for (const Case& c : {Case{kInstruments[0], 10}, Case{kInstruments[1], 50}}) {
        SCOPED_TRACE(c.instrument.model);
        InstrumentStation run(c.instrument);
        ASSERT_TRUE(run.rig.host.run_for(30));

        auto received = channel(run.recorder.samples, 0);
        EXPECT_EQ(received.size(), run.recorder.samples.size()) << "channel 0 only";
        // From the first reading after the start script to the STOP, less a second at most.
        EXPECT_GE(received.size(), static_cast<size_t>((30 - 5 - 1) * c.rate));
        EXPECT_NE(run_inside(run.sent[0], received), std::string::npos);

        // Passes, and with them time frames, begin after the start script.
        EXPECT_GE(run.recorder.time_frames.size(), 24u);
        expect_second_by_second(run.recorder.time_frames);
        // A reading of three characters or fewer waits for the next one, which may fall
        // into the next second.
        EXPECT_NEAR(run.rig.station.run().measured_rate, c.rate, 1);
        EXPECT_EQ(run.rig.station.run().configured_rate[0],
                  c.instrument.ad_type == config::kLx1500 ? 50 : 100);
    }
}

TEST(InstrumentRun, DataqDeliversEverySampleAndDecimatesTheSlowerChannel) {
    InstrumentStation run(kInstruments[2]);  // 120 and 60 per second
    ASSERT_TRUE(run.rig.host.run_for(30));
    const auto& sent = run.sent;

    auto fast = channel(run.recorder.samples, 0);
    auto slow = channel(run.recorder.samples, 1);
    EXPECT_GE(fast.size(), (30u - 3) * 120);
    size_t first = run_inside(sent.at(0), fast);
    ASSERT_NE(first, std::string::npos);
    // The slower channel's counter starts with the first scan read: its second sample is
    // its first taken, then every second one.
    ASSERT_GE(slow.size(), fast.size() / 2 - 1);
    for (size_t j = 0; j < slow.size(); ++j) {
        ASSERT_EQ(slow[j], sent.at(1).at(first + 2 * j + 1)) << j;
    }
    // Both channels of a scan come together: the slow one never runs ahead.
    EXPECT_LE(slow.size(), fast.size() / 2);
    EXPECT_EQ(run.rig.station.run().bad_frames, 0);
    expect_second_by_second(run.recorder.time_frames);
}

TEST(InstrumentRun, ReadingSecondRunsOnAcrossMidnight) {
    InstrumentStation run(kInstruments[0], {2026, 3, 1, 23, 59, 50, 0});
    ASSERT_TRUE(run.rig.host.run_for(20));
    const auto& frames = run.recorder.time_frames;
    ASSERT_GE(frames.size(), 19u);
    EXPECT_EQ(second_of_day(frames.front()), 86390);
    expect_second_by_second(frames);
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [](const std::string& f) { return second_of_day(f) == 0; }));
    EXPECT_GT(run.recorder.samples.size(), 150u);
}

// An instrument that sent and then went silent (a USB hiccup, a power dip) is restarted
// until it sends again, however long that takes; the run goes on.
TEST(InstrumentRun, LostInstrumentIsRestartedUntilItSendsAgain) {
    for (const auto& instrument : kInstruments) {
        SCOPED_TRACE(instrument.model);
        InstrumentStation run(instrument);
        ASSERT_TRUE(run.rig.station.start());
        double t0 = run.rig.clock.epoch_seconds();
        run.rig.host.run_until(t0 + 10);
        run.rig.line->set_connected(false);
        run.rig.host.run_until(t0 + 10 + 75);
        EXPECT_TRUE(run.rig.station.in_run());
        size_t before = run.recorder.samples.size();
        run.rig.line->set_connected(true);
        run.rig.host.run_until(t0 + 10 + 75 + 30);

        EXPECT_TRUE(run.rig.station.in_run());
        EXPECT_GT(run.recorder.samples.size(), before + 150) << "samples flow again";
        auto log = run.rig.event_log_messages();
        EXPECT_EQ(std::count(log.begin(), log.end(), std::string(instrument.not_found_log)), 0);
        EXPECT_TRUE(logged_in_order(log, {"Warning! A/D card restarted."}));
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [](const std::string& m) {
                                    return m.starts_with("A/D card data back after 0:01:");
                                }),
                  1)
            << ::testing::PrintToString(log);
        run.rig.stop();
        EXPECT_EQ(run.rig.station.run_end(), acquisition::RunEnd::stopped);
    }
}

// One that never sent since START is not there: its first restart says so and ends the run
// as at STOP, and the run's end says the board was not found.
TEST(InstrumentRun, InstrumentThatNeverSentIsNotFound) {
    for (const auto& instrument : kInstruments) {
        SCOPED_TRACE(instrument.model);
        InstrumentStation run(instrument);
        run.rig.line->set_connected(false);
        ASSERT_TRUE(run.rig.station.start());
        double t0 = run.rig.clock.epoch_seconds();
        run.rig.host.run_until(t0 + 120);

        EXPECT_FALSE(run.rig.station.in_run());
        EXPECT_EQ(run.rig.station.run_end(), acquisition::RunEnd::board_not_found);
        auto log = run.rig.event_log_messages();
        EXPECT_TRUE(logged_in_order(
            log, {std::string("START with ") + instrument.description,
                  "Warning! A/D card restarted.", instrument.not_found_log, "STOP"}));
        EXPECT_EQ(log.back(), "STOP");
        ASSERT_FALSE(run.rig.op.shown.empty());
        EXPECT_EQ(run.rig.op.shown.back().kind, "warning");
        EXPECT_EQ(run.rig.op.shown.back().text, instrument.not_found_warning);
        EXPECT_EQ(run.rig.station.settings().general.autostart, 0);
        EXPECT_FALSE(run.rig.port.is_open());
        // The restart comes 30 s after START; the instrument gets no second one.
        EXPECT_LT(run.rig.clock.epoch_seconds(), t0 + 45);
    }
}

// The PC clock set back over midnight, or by more than half a day within one: the frames of
// an instrument without a clock are dated by the PC second they were made for, not by
// guessing the day from the time of day.
TEST(InstrumentRun, APcClockSetBackDatesTheRestOfTheRunRight) {
    struct Case {
        text::DateTime start;
        double step;  // seconds, after 20 s
    };
    for (const auto& c : {Case{{2026, 3, 2, 0, 0, 0, 0}, -60},               // 00:00:20 -> 23:59:20
                          Case{{2026, 3, 2, 14, 0, 0, 0}, -13 * 3600.0}}) {  // 14:00 -> 01:00
        SCOPED_TRACE(c.step);
        InstrumentStation run(kInstruments[0], c.start);
        ASSERT_TRUE(run.rig.station.start());
        const double t0 = run.rig.clock.epoch_seconds();
        run.rig.host.run_until(t0 + 20);
        run.rig.clock.step_pc_clock(c.step);
        run.rig.host.run_until(t0 + 50);
        const double pc_now = text::to_epoch_seconds(run.rig.clock.now());
        EXPECT_NEAR(run.rig.station.run().board_epoch_second, pc_now, 3) << text::format_datetime(
            text::from_epoch_seconds(run.rig.station.run().board_epoch_second));
        run.rig.stop();
    }
}

TEST(InstrumentRun, InvalidPortIsCommPortNotValid) {
    InstrumentStation run(kInstruments[1]);
    auto& rig = run.rig;
    rig.port.next_open_result = {platform::OpenError::invalid_port, "/dev/ttyS0: no such device"};
    EXPECT_FALSE(rig.host.run_for(5));
    ASSERT_EQ(rig.op.shown.size(), 1u);
    EXPECT_EQ(rig.op.shown[0].title, "Error");
    EXPECT_EQ(rig.op.shown[0].text, "Comm Port not valid");
    EXPECT_EQ(rig.station.settings().general.autostart, 0);
    EXPECT_EQ(rig.event_log_messages().at(1), "START with N.E. LX1500 at 19200,n,8,1 ");
    EXPECT_TRUE(run.heard.empty());
}

TEST(InstrumentRun, DataqRateRules) {
    struct Case {
        std::array<int, 4> sps_index;
        std::string refusal;  // empty: accepted
    };
    const Case cases[] = {
        {{k120, k60, kOff, kOff}, ""},
        {{k240, kOff, kOff, kOff}, ""},
        {{k60, k60, k60, k60}, ""},
        {{kOff, k20, k60, kOff}, ""},
        {{k120, k50, kOff, kOff},
         "Channel 2  it's set to 50 SPS\r\nThis value is not compatible for data decimation "
         "with the other channels.\r\nTry to change this or the SPS of other channels."},
        {{k240, k100, kOff, kOff},
         "With this board you cannot have more than\r\n240 SPS as overall speed."},
        {{k200, k30, kOff, kOff},
         "Channel 1 it's set to 200 SPS\r\nThis value is not allowed with these number of "
         "channels."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sps_index[0] * 1000 + c.sps_index[1]);
        StationRig run;
        run.load();
        auto& settings = run.station.settings();
        settings.general.ad_type = config::kDataqDi194rs;
        for (size_t ch = 0; ch < 4; ++ch) settings.channels[ch].sps_index = c.sps_index[ch];
        ASSERT_TRUE(run.station.start());
        auto result = run.station.pass();
        if (c.refusal.empty()) {
            EXPECT_FALSE(result.ended);
            EXPECT_TRUE(run.op.shown.empty());
            EXPECT_EQ(run.port.written().back(), '1') << "the script ends with S1";
            continue;
        }
        EXPECT_TRUE(result.ended);
        ASSERT_EQ(run.op.shown.size(), 1u);
        EXPECT_EQ(run.op.shown[0].title, "Error");
        EXPECT_EQ(run.op.shown[0].text, c.refusal);
        EXPECT_TRUE(run.port.written().empty()) << "refused before any command";
        EXPECT_FALSE(run.port.is_open());
        EXPECT_EQ(settings.general.autostart, 0);
    }
}

// An instrument that sends exactly its rate, read as the real hosts read it (the bytes handed
// over in batches of 40 to 50 ms): each second of the datalog gets exactly the samples that
// came in that PC second, none is moved into the next second and none is cut.
TEST(InstrumentRun, ExactRateInBatchesKeepsEverySampleInItsSecond) {
    struct Case {
        const Instrument& instrument;
        std::array<int, 4> sps_index;
        int reading_rate;  // text instruments: readings per second
        double phase;      // where the instrument's samples fall in the PC second
    };
    const Case cases[] = {
        {kInstruments[2], {k120, k60, kOff, kOff}, 0, 0},
        {kInstruments[2], {k120, k60, kOff, kOff}, 0, 0.4 / 120},
        {kInstruments[0], {k50, kOff, kOff, kOff}, 50, 0},
        {kInstruments[0], {k50, kOff, kOff, kOff}, 50, 0.7 / 50},
        {kInstruments[1], {k50, kOff, kOff, kOff}, 0, 0.3 / 50},
    };
    constexpr double kSeconds = 180;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.instrument.model) + " phase " + std::to_string(c.phase));
        Instrument instrument = c.instrument;
        instrument.sps_index = c.sps_index;
        const text::DateTime start{2026, 3, 1, 12, 0, 0, 0};
        sim::BoardOptions options;
        options.reading_rate = c.reading_rate;
        options.board_start = text::from_epoch_seconds(text::to_epoch_seconds(start) - c.phase);
        InstrumentStation run(instrument, start, options);
        for (auto& channel : run.rig.station.settings().channels) channel.datalog_enabled = 1;
        run.rig.host.set_batches(0.040, 0.050);
        ASSERT_TRUE(run.rig.station.start());
        run.rig.host.run_until(run.rig.clock.epoch_seconds() + kSeconds);
        const auto& run_state = run.rig.station.run();
        const auto rates = run_state.configured_rate;
        run.rig.stop();

        const auto& rec = run.recorder;
        expect_second_by_second(rec.time_frames);
        ASSERT_GE(rec.time_frames.size(), static_cast<size_t>(kSeconds - 10));
        // When each sample was sent: channel 0 found in what the instrument sent; a slower
        // channel's sample comes with the channel 0 sample of its scan.
        auto fast = channel(rec.samples, 0);
        size_t first = run_inside(run.sent[0], fast);
        ASSERT_NE(first, std::string::npos) << "channel 0 arrives whole and in order";
        std::vector<double> sent_at(rec.samples.size());
        size_t k = first;
        double scan_time = 0;
        for (size_t i = 0; i < rec.samples.size(); ++i) {
            // (The instrument tells its own clock's time, the PC's less the phase.)
            if (rec.samples[i].first == 0) scan_time = run.sent_at[0].at(k++) + c.phase;
            sent_at[i] = scan_time;
        }

        // Every whole second between the first frame and STOP: each channel has exactly its
        // rate, and each sample was sent in that second.
        const double unit_seconds = 1.0 / std::max(rates[0], 1.0);
        int moved = 0;
        int seconds_off_rate = 0;
        std::string first_off;
        for (size_t f = 1; f + 1 < rec.time_frames.size(); ++f) {
            const int second = second_of_day(rec.time_frames[f]);
            std::array<int, 4> count{};
            for (size_t i = rec.samples_before_frame[f]; i < rec.samples_before_frame[f + 1]; ++i) {
                ++count[static_cast<size_t>(rec.samples[i].first)];
                // A unit at a boundary comes over the line for a unit's time, and its bytes
                // are seen only in batches: it may fall on either side.
                const double of_day = std::fmod(sent_at[i], 86400);
                if (of_day < second - unit_seconds || of_day >= second + 1 + unit_seconds) {
                    ++moved;
                }
            }
            for (size_t ch = 0; ch < 4; ++ch) {
                if (count[ch] == static_cast<int>(rates[ch])) continue;
                if (seconds_off_rate++ == 0) {
                    first_off = std::to_string(count[ch]) + " samples on channel " +
                                std::to_string(ch + 1) + " in second " + std::to_string(f);
                }
            }
        }
        EXPECT_EQ(seconds_off_rate, 0) << first_off;
        EXPECT_EQ(moved, 0);
        for (long n : run.rig.station.datalog().over_rate()) EXPECT_EQ(n, 0);
        for (long n : run.rig.station.datalog().filled()) EXPECT_EQ(n, 0);
    }
}

}  // namespace
}  // namespace velkantor::testing
