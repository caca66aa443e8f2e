// What a run keeps from the one before it, what happens while it starts, and what the clock
// or a long-absent board does to it: each through the station and a simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "stream/datalog_export.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

constexpr int kOff = 0, k60 = 13, k100 = 15, k120 = 16;

// Counts what the chain hands to the datalog.
struct DatalogCounter : runtime::SampleConsumers {
    std::array<long, 4> appended{};
    void datalog_append(int ch, int32_t) override { ++appended[static_cast<size_t>(ch & 3)]; }
};

struct Board {
    const char* model;
    int16_t ad_type;
    std::array<int, 4> sps_index;
    const char* version = "";  // ZEDA firmware reply
};

// The boards whose time frames carry no date, and the instruments whose seconds are the PC's.
const Board kUndatedBoards[] = {
    {"INFILTEC", config::kInfiltec, {k100, kOff, kOff, kOff}},
    {"LX1500", config::kLx1500, {k100, kOff, kOff, kOff}},
    {"DATAQ", config::kDataqDi194rs, {k120, k60, kOff, kOff}},
    {"ZEDA18", config::kZeda18, {k100, k100, kOff, kOff}, "V180"},
};
const Board kPcPacedInstruments[] = {
    {"INFILTEC", config::kInfiltec, {k100, kOff, kOff, kOff}},
    {"LX1500", config::kLx1500, {k100, kOff, kOff, kOff}},
    {"DATAQ", config::kDataqDi194rs, {k120, k60, kOff, kOff}},
};
const Board kZeda18{"ZEDA18", config::kZeda18, {k100, k100, kOff, kOff}};

struct BoardStation {
    explicit BoardStation(const Board& board, text::DateTime start, sim::BoardOptions options = {})
        : rig(start) {
        rig.load();
        rig.station.set_consumers(&counter);
        auto& settings = rig.station.settings();
        settings.general.ad_type = board.ad_type;
        for (size_t c = 0; c < 4; ++c) {
            settings.channels[c].sps_index = board.sps_index[c];
            settings.channels[c].datalog_enabled = board.sps_index[c] != kOff ? 1 : 0;
        }
        options.model = board.model;
        options.version = board.version;
        rig.attach_board(options);
    }

    // START, the loop until `seconds` later, STOP and the exit sequence.
    void run(double seconds) { ASSERT_TRUE(rig.host.run_for(seconds)); }
    double now() const { return rig.clock.epoch_seconds(); }

    // Channel `ch`'s datalog files and their sample counts.
    std::map<std::string, uint64_t> datalog(int ch) {
        std::map<std::string, uint64_t> files;
        std::string folder = std::string(kStation) + "/datalog";
        for (const auto& name : rig.fs.list_directory(folder)) {
            if (name.size() < 25 || name.substr(21, 4) != ".LG" + std::to_string(ch)) continue;
            files[name] = rig.fs.file_size(folder + "/" + name).value_or(0) /
                          static_cast<uint64_t>(rig.station.datalog().bytes_per_sample());
        }
        return files;
    }
    uint64_t datalog_samples(int ch) {
        uint64_t total = 0;
        for (const auto& [name, samples] : datalog(ch)) total += samples;
        return total;
    }
    long count(const std::string& message) const {
        auto log = rig.event_log_messages();
        return std::count(log.begin(), log.end(), message);
    }
    // Event log lines that begin with `head` and end with `tail`.
    long count(const std::string& head, const std::string& tail) const {
        auto log = rig.event_log_messages();
        return std::count_if(log.begin(), log.end(), [&](const std::string& m) {
            return m.starts_with(head) && m.ends_with(tail);
        });
    }

    DatalogCounter counter;
    StationRig rig;
};

TEST(RunBoundaries, NextMorningsRunIsDatedByItsOwnDay) {
    for (const auto& board : kUndatedBoards) {
        SCOPED_TRACE(board.model);
        BoardStation s(board, {2026, 3, 1, 17, 59, 0, 0});
        s.run(60);
        // Stopped at 18:00; the board stays on the line overnight and START comes at 08:00.
        s.rig.line->set_connected(false);
        s.rig.clock.set(text::to_epoch_seconds({2026, 3, 2, 8, 0, 0, 0}));
        s.rig.line->set_connected(true);
        s.run(30);

        EXPECT_EQ(s.rig.station.board_clock().state().board_date_text, "2026/03/02");
        int today = 0;
        for (const auto& [name, samples] : s.datalog(0)) {
            EXPECT_TRUE(name.starts_with("20260301_1") || name.starts_with("20260302_08")) << name;
            if (name.starts_with("20260302_08")) ++today;
        }
        EXPECT_GE(today, 1);
    }
}

TEST(RunBoundaries, SummerTimeEndsWithoutLosingOrMovingASample) {
    for (const auto& board : kPcPacedInstruments) {
        SCOPED_TRACE(board.model);
        BoardStation s(board, {2026, 10, 25, 2, 50, 0, 0});
        auto& station = s.rig.station;
        station.settings().general.flush_period = 0;  // a file every 5 minutes
        ASSERT_TRUE(station.start());
        double t0 = s.now();
        s.rig.host.run_until(t0 + 605);
        // 03:00:05 becomes 02:00:05: every file of the first pass is there.
        auto first_pass = s.datalog(0);
        s.rig.clock.step_pc_clock(-3600);
        s.rig.host.run_until(t0 + 605 + 3600);
        s.rig.stop();

        double rate = station.run().configured_rate[0];
        auto files = s.datalog(0);
        // The repeated seconds went into files of their own, beside the first pass's.
        int repeated = 0;
        for (const auto& [name, samples] : first_pass) {
            auto now = files.at(name);
            // The file open at the step took at most the rest of its second.
            EXPECT_LE(now - samples, static_cast<uint64_t>(rate)) << name;
            if (files.count(name + ".2") != 0) ++repeated;
        }
        EXPECT_GE(repeated, 1);
        // Every sample handed to the datalog is in it, but for the parts of a second whose
        // place is unknown: before the run's first time frame and at the step.
        EXPECT_LE(static_cast<double>(s.counter.appended[0] - s.datalog_samples(0)), 3 * rate);
        // No second holds more than its rate.
        for (const auto& [name, samples] : files) {
            EXPECT_LE(static_cast<double>(samples), 300 * rate + rate) << name;
        }
    }
}

TEST(RunBoundaries, PcClockIsNeverSetFromItsOwnTime) {
    for (const auto& board : kPcPacedInstruments) {
        SCOPED_TRACE(board.model);
        BoardStation s(board, {2026, 3, 1, 12, 0, 0, 0});
        auto& general = s.rig.station.settings().general;
        general.pc_sync = 0;
        general.pc_rtc = 0;
        s.run(20);
        EXPECT_EQ(s.rig.pc_clock.attempts, 0);
        EXPECT_EQ(s.count("The PC clock is not set from ", ": its time is the PC clock's own."), 1);
    }
}

TEST(RunBoundaries, AutostartDoesNotPressStartInsideStartsOwnQuestion) {
    BoardStation s(kZeda18, {2026, 3, 1, 12, 0, 0, 0});
    auto& station = s.rig.station;
    station.settings().general.events_folder = "/elsewhere/events";
    station.settings().general.autostart = 2;  // armed, as the load leaves it
    int starts_pressed = 0;
    auto desktop_tick = [&] {
        // The desktop's timer: it presses START whenever the housekeeping asks for it.
        if (!station.in_run() && station.timer().take_start_request()) {
            ++starts_pressed;
            station.start();
        }
    };
    // The operator reads the question for five seconds; the timer runs meanwhile.
    s.rig.op.while_open = [&] {
        if (s.rig.op.shown.size() > 3) return;
        for (int i = 0; i < 5; ++i) {
            s.rig.host.wait(1);
            desktop_tick();
        }
    };
    for (int i = 0; i < 3 && !station.in_run(); ++i) {
        s.rig.host.wait(1);
        desktop_tick();
    }
    ASSERT_TRUE(station.in_run());
    EXPECT_EQ(starts_pressed, 1);
    EXPECT_EQ(s.rig.op.shown.size(), 2u);  // the folder question and its "ERROR!" answer
    s.rig.host.run_until(s.now() + 5);
    s.rig.stop();
    auto times = split_lines(s.rig.file("timefile.txt"));
    EXPECT_EQ(std::count_if(times.begin(), times.end(),
                            [](const std::string& l) {
                                return l.find("START - Sync mode:") != std::string::npos;
                            }),
              1);
}

TEST(RunBoundaries, StopDuringTheHandshakeEndsTheStartUp) {
    sim::BoardOptions options;
    options.faults.mute_handshake = true;
    BoardStation s(kZeda18, {2026, 3, 1, 12, 0, 0, 0}, options);
    auto& station = s.rig.station;
    double t0 = s.now();
    s.rig.host.on_tick = [&](double now) {
        if (now - t0 >= 2 && station.starting()) station.stop();
    };
    EXPECT_FALSE(station.start());
    EXPECT_LT(s.now() - t0, 3.5);
    EXPECT_FALSE(station.starting());
    EXPECT_FALSE(station.in_run());
    EXPECT_FALSE(station.refused());
    EXPECT_FALSE(s.rig.port.is_open());
    EXPECT_EQ(station.settings().general.autostart, 0);
    EXPECT_EQ(s.rig.event_log_messages().back(), "STOP");
    for (const auto& shown : s.rig.op.shown) EXPECT_NE(shown.kind, "warning") << shown.text;
    // START is pressed again and works as before.
    s.rig.host.on_tick = nullptr;
    EXPECT_FALSE(station.start());  // the mute board is still not found
    EXPECT_TRUE(station.refused());
}

TEST(RunBoundaries, StopDuringTheStartScriptEndsTheRun) {
    BoardStation s(kPcPacedInstruments[1], {2026, 3, 1, 12, 0, 0, 0});  // LX1500
    auto& station = s.rig.station;
    std::string heard;
    s.rig.board->recorder = [&](const sim::LineRecord& r) {
        if (!r.from_board) heard += r.bytes;
    };
    ASSERT_TRUE(station.start());
    double t0 = s.now();
    s.rig.host.on_tick = [&](double now) {
        if (now - t0 >= 1 && station.run().acquisition_running == 1) station.stop();
    };
    s.rig.host.run_until(t0 + 30);
    EXPECT_FALSE(station.in_run());
    EXPECT_LT(s.now() - t0, 4);
    EXPECT_FALSE(s.rig.port.is_open());
    EXPECT_EQ(heard.find("DONE"), std::string::npos) << "the script went on after STOP";
    EXPECT_EQ(s.count("STOP"), 1);
}

TEST(RunBoundaries, ABoardGoneForHoursIsLoggedOnceAnHour) {
    BoardStation s(kZeda18, {2026, 3, 1, 12, 0, 0, 0});
    auto& station = s.rig.station;
    ASSERT_TRUE(station.start());
    double t0 = s.now();
    s.rig.host.run_until(t0 + 10);
    s.rig.line->set_connected(false);
    int opens = s.rig.port.open_count();
    s.rig.host.run_until(t0 + 10 + 3 * 3600 + 600);
    s.rig.line->set_connected(true);
    int attempts = s.rig.port.open_count() - opens;
    s.rig.host.run_until(s.now() + 60);
    s.rig.stop();

    EXPECT_GT(attempts, 200) << "the restarts themselves go on";
    EXPECT_EQ(s.count("Warning! A/D card restarted."), 4);  // at its start, then hourly
    EXPECT_EQ(s.count("A/D card data back after 3:1", " without data."), 1);
}

TEST(RunBoundaries, AFailedWriteToTheBoardLosesNothingOfItsSecond) {
    BoardStation s(kZeda18, {2026, 3, 1, 12, 59, 45, 0});
    auto& station = s.rig.station;
    auto& general = station.settings().general;
    general.pc_sync = 1;     // the board is set from the PC...
    general.sync_every = 0;  // ...every hour, at 13:00:00
    ASSERT_TRUE(station.start());
    double t0 = s.now();
    s.rig.host.run_until(t0 + 10);
    s.rig.port.fail_writes = true;
    s.rig.host.run_until(t0 + 20);
    s.rig.port.fail_writes = false;
    s.rig.host.run_until(t0 + 30);
    s.rig.stop();

    EXPECT_NE(s.rig.file("stub.dat").find("Device I/O error"), std::string::npos);
    // One file up to 13:00:00 and one from it: the second of the failed write was written
    // in its place and nothing began a file of its own.
    auto files = s.datalog(0);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files.begin()->first.starts_with("20260301_1259"));
    EXPECT_TRUE(files.rbegin()->first.starts_with("20260301_130000"));
    EXPECT_LE(s.counter.appended[0] - s.datalog_samples(0), 100u);
}

TEST(RunBoundaries, FilledSamplesAreCountedAndLoggedHourly) {
    sim::BoardOptions options;
    options.faults.unterminated_frames = {{2026, 3, 1, 12, 59, 40, 0}, {2026, 3, 1, 13, 0, 20, 0}};
    BoardStation s(kZeda18, {2026, 3, 1, 12, 59, 30, 0}, options);
    s.run(70);
    const auto& filled = s.rig.station.datalog().filled();
    long total = 0;
    for (long n : filled) total += n;
    EXPECT_GE(total, 2);

    // One line for 12 h and one for 13 h, per channel that had to be filled.
    std::regex line(R"(.*\b(\d+) samples filled on channel ([1-4])$)");
    long logged = 0;
    int lines = 0;
    for (const auto& l : split_lines(s.rig.file("timefile.txt"))) {
        std::smatch m;
        if (!std::regex_match(l, m, line)) continue;
        logged += std::stol(m[1]);
        ++lines;
    }
    EXPECT_EQ(logged, total);
    EXPECT_GE(lines, 2);
    EXPECT_EQ(s.count("Samples filled in this run: ", "."), 1);

    // The datalog keeps its places with the filled samples; the miniSEED export leaves them
    // out as gaps, as the stream does: every sample it exports is a real one.
    stream::ExportRequest span;
    span.datalog_folder = std::string(kStation) + "/datalog";
    span.codes.network = "XX";
    span.codes.station = "VELK";
    span.from_epoch = text::to_epoch_seconds({2026, 3, 1, 12, 59, 30, 0});
    span.minutes = 2;
    auto exported = stream::ExportDatalog(s.rig.fs, s.rig.station.settings(), span);
    for (int ch = 0; ch < 4; ++ch) {
        const auto c = static_cast<size_t>(ch);
        if (s.datalog_samples(ch) == 0) continue;
        // (The few samples of STOP's last part of a second lie past the span's whole seconds.)
        EXPECT_NEAR(static_cast<double>(exported.samples[c] + filled[c]),
                    static_cast<double>(s.datalog_samples(ch)), 5)
            << "channel " << ch + 1;
        if (filled[c] > 0) {
            EXPECT_GE(exported.gaps[c], 1) << "channel " << ch + 1;
        }
    }
}

}  // namespace
}  // namespace velkantor::testing
