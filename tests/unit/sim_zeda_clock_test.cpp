#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sim/board_model.h"
#include "sim/zeda_board.h"
#include "sim_zeda_stream.h"

namespace velkantor::sim {
namespace {

using text::DateTime;
using text::to_epoch_seconds;
using namespace zeda_test;

constexpr double kPcStart = 5000;
const DateTime kNoon{2026, 6, 10, 12, 0, 0, 0};

double epoch(const DateTime& t) {
    return to_epoch_seconds(t);
}

// A ZEDA18 whose clock reads 12:00:00 at PC time 5000, started at once with only its time
// frames unless told otherwise.
class SimZedaClock : public ::testing::Test {
protected:
    BoardOptions options() const {
        BoardOptions o;
        o.board_start = kNoon;
        o.pc_start = kPcStart;
        return o;
    }
    std::unique_ptr<ZedaBoard> make(const BoardOptions& o,
                                    const std::string& start = start_command(0, 0, 0, 0)) {
        std::unique_ptr<BoardModel> made = make_board(o);
        auto* zeda = dynamic_cast<ZedaBoard*>(made.get());
        EXPECT_NE(zeda, nullptr);
        made.release();
        std::unique_ptr<ZedaBoard> board(zeda);
        board->receive(start, kPcStart);
        return board;
    }
    // Board seconds of the time frames, counted from noon.
    static std::vector<int64_t> seconds_after_noon(const std::string& stream) {
        std::vector<int64_t> out;
        for (const TimeFrame& f : time_frames(stream)) {
            out.push_back(f.second - static_cast<int64_t>(epoch(kNoon)));
        }
        return out;
    }
};

struct DriftCase {
    double ppm;
    int64_t last_second;  // of the last time frame one PC day after noon, counted from noon
};

TEST_F(SimZedaClock, DriftShowsAsSecondsOverADay) {
    const std::vector<DriftCase> cases = {
        {0, 86400},
        {50, 86404},   // 4.32 s fast
        {-50, 86395},  // 4.32 s slow
        {200, 86417},  // 17.28 s fast
    };
    for (const DriftCase& c : cases) {
        SCOPED_TRACE(c.ppm);
        BoardOptions o = options();
        o.clock.drift_ppm = c.ppm;
        auto board = make(o);
        std::vector<int64_t> seconds = seconds_after_noon(board->advance_to(kPcStart + 86400));
        ASSERT_FALSE(seconds.empty());
        EXPECT_EQ(seconds.back(), c.last_second);
        EXPECT_EQ(seconds.size(), static_cast<size_t>(c.last_second)) << "no second lost";
        EXPECT_NEAR(board->board_time(kPcStart + 86400) - epoch(kNoon), 86400 * (1 + c.ppm * 1e-6),
                    1e-4);
    }
}

TEST_F(SimZedaClock, SamplingFollowsTheCrystalAndSetTimeRestartsThePhase) {
    BoardOptions o = options();
    o.clock.drift_ppm = 500;
    auto board = make(o, start_command(1, 0, 0, 0));  // 200 per second
    size_t samples = 0;
    board->sample_listener = [&](int, double, int32_t) { ++samples; };
    board->advance_to(kPcStart + 100.001);
    // Board seconds 1 to 100.05: 99.05 seconds of samples and the one at the end.
    EXPECT_EQ(samples, 19811u);

    // Set at PC 5100.3 to 08:00:00: the board reads that there and then, and runs on fast.
    const double set_at = kPcStart + 100.3;
    board->advance_to(set_at);
    board->receive(set_time(8, 0, 0), set_at);
    const double eight = epoch({2026, 6, 10, 8, 0, 0, 0});
    EXPECT_NEAR(board->board_time(set_at), eight, 1e-6);
    EXPECT_NEAR(board->board_time(set_at + 1000), eight + 1000.5, 1e-6);
    EXPECT_NEAR(board->next_send_time(), set_at + 1 / 1.0005, 1e-6);
    EXPECT_EQ(board->advance_to(board->next_send_time()).substr(0, 9),
              time_frame({2026, 6, 10, 8, 0, 1, 0}, 0));
}

// Which time frames report a synchronisation, as seconds after noon.
std::vector<int64_t> flagged(const std::vector<TimeFrame>& frames) {
    std::vector<int64_t> out;
    for (const TimeFrame& f : frames) {
        if (f.status & 0x20) out.push_back(f.second - static_cast<int64_t>(epoch(kNoon)));
    }
    return out;
}

TEST_F(SimZedaClock, ReceiverSynchronisesOnItsScheduleWhileItHasSignal) {
    BoardOptions o = options();
    o.clock.sync_every_seconds = 120;
    o.clock.sync_at = {{2026, 6, 10, 12, 0, 30, 0}, {2026, 6, 10, 12, 7, 0, 0}};
    o.clock.receiver_lost = {{{2026, 6, 10, 12, 5, 0, 0}, {2026, 6, 10, 12, 8, 0, 0}}};
    auto board = make(o);

    std::string stream = board->advance_to(kPcStart + 14 * 60 + 30);
    board->set_receiver_on(false);  // antenna cut at 12:14:30
    stream += board->advance_to(kPcStart + 18 * 60 + 30);
    board->set_receiver_on(true);  // back at 12:18:30
    stream += board->advance_to(kPcStart + 20 * 60 + 30);

    std::vector<TimeFrame> frames = time_frames(stream);
    EXPECT_EQ(flagged(frames), (std::vector<int64_t>{30, 120, 240, 480, 600, 720, 840, 1200}));
    // With a perfect crystal a synchronisation changes nothing else.
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].second,
                  static_cast<int64_t>(epoch(kNoon)) + 1 + static_cast<int64_t>(i));
    }
}

struct SyncDriftCase {
    double ppm;
    int64_t flag_offset;  // the flagged frame's second after the receiver's minute
};

TEST_F(SimZedaClock, SynchronisationPullsADriftingBoardBackEveryTime) {
    const std::vector<SyncDriftCase> cases = {
        {0, 0},
        // Behind: the marked second begins at the mark and carries the flag.
        {-100, 0},
        // Ahead: the marked second's frame had already gone; the next one carries the flag.
        {100, 1},
    };
    for (const SyncDriftCase& c : cases) {
        SCOPED_TRACE(c.ppm);
        BoardOptions o = options();
        o.clock.drift_ppm = c.ppm;
        o.clock.sync_every_seconds = 60;
        auto board = make(o, start_command(4, 0, 0, 0));
        const double end = kPcStart + 3600 + 1.5;
        std::string stream = board->advance_to(end);

        std::vector<TimeFrame> frames = time_frames(stream);
        ASSERT_EQ(frames.size(), 3600u + 1u);
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_EQ(frames[i].second,
                      static_cast<int64_t>(epoch(kNoon)) + 1 + static_cast<int64_t>(i))
                << "each second once, in order";
        }
        std::vector<int64_t> marks = flagged(frames);
        ASSERT_EQ(marks.size(), 60u);
        for (size_t m = 0; m < marks.size(); ++m) {
            ASSERT_EQ(marks[m], 60 * static_cast<int64_t>(m + 1) + c.flag_offset);
        }
        // An hour of drift would be a third of a second; the receiver keeps it within a sample.
        EXPECT_LT(std::abs(board->board_time(end) - board->receiver_time(end)), 0.003);
        // A second cut short or stretched at a mark by a few milliseconds still holds all its
        // 50 samples.
        int samples = 0;
        int fewest = 1000;
        int most = 0;
        for (const std::string& f : split_frames(stream)) {
            if (u8(f[0]) != 0x81) {
                ++samples;
                continue;
            }
            if (samples > 0) {
                fewest = std::min(fewest, samples);
                most = std::max(most, samples);
            }
            samples = 0;
        }
        EXPECT_EQ(fewest, 50);
        EXPECT_EQ(most, 50);
    }
}

TEST_F(SimZedaClock, ReceiverUndoesAJumpAndAClockSetAtItsNextMark) {
    BoardOptions o = options();
    o.clock.sync_every_seconds = 60;
    o.clock.jumps = {{{2026, 6, 10, 12, 0, 30, 0}, 5}};
    auto board = make(o);
    std::string stream = board->advance_to(kPcStart + 90);
    board->receive(set_time(12, 30, 0), kPcStart + 90);
    stream += board->advance_to(kPcStart + 125);

    std::vector<int64_t> seconds = seconds_after_noon(stream);
    std::vector<int64_t> expected;
    for (int64_t s = 1; s <= 29; ++s) expected.push_back(s);
    for (int64_t s = 35; s <= 64; ++s) expected.push_back(s);      // five ahead from the jump
    for (int64_t s = 60; s <= 90; ++s) expected.push_back(s);      // back at the mark of 12:01
    for (int64_t s = 1801; s <= 1829; ++s) expected.push_back(s);  // set to 12:30:00
    for (int64_t s = 120; s <= 125; ++s) expected.push_back(s);    // back at 12:02
    EXPECT_EQ(seconds, expected);
    EXPECT_EQ(flagged(time_frames(stream)), (std::vector<int64_t>{60, 120}));
}

struct JumpCase {
    const char* name;
    std::vector<ClockJump> jumps;
    std::vector<int64_t> seconds;  // of the time frames in the first ten PC seconds
};

TEST_F(SimZedaClock, JumpsStepTheClockOnceAndTheSamplesFollow) {
    const std::vector<JumpCase> cases = {
        {"forward", {{{2026, 6, 10, 12, 0, 3, 500}, 5}}, {1, 2, 3, 9, 10, 11, 12, 13, 14, 15}},
        {"back", {{{2026, 6, 10, 12, 0, 4, 0}, -3}}, {1, 2, 3, 1, 2, 3, 4, 5, 6, 7}},
        {"two",
         {{{2026, 6, 10, 12, 0, 6, 0}, -2}, {{2026, 6, 10, 12, 0, 2, 0}, 60}},
         {1, 60, 61, 62, 63, 64, 65, 66, 67, 68}},
        {"while stopped: already stepped at the start",
         {{kNoon, 10}},
         {11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
    };
    for (const JumpCase& c : cases) {
        SCOPED_TRACE(c.name);
        BoardOptions o = options();
        o.clock.jumps = c.jumps;
        auto board = make(o, start_command(0, 0, 4, 0));
        std::string stream = board->advance_to(kPcStart + 10.5);
        EXPECT_EQ(seconds_after_noon(stream), c.seconds);
        // Every sample is the signal at the time its second's frame gives it.
        double second = 0;
        int index = 0;
        for (const std::string& f : split_frames(stream)) {
            if (u8(f[0]) == 0x81) {
                second = static_cast<double>(read_time_frame(f).second);
                index = 0;
                continue;
            }
            ASSERT_EQ(decode_data(f, 18), board->signal_at(2, second + index++ / 50.0));
        }
    }
}

struct BadTimeCase {
    const char* name;
    const char* version;
    BadTime::Field field;
    std::string frame;  // what the board sends for 12:00:06
};

TEST_F(SimZedaClock, BadTimeFrameComesOnceAtItsSecond) {
    const std::vector<BadTimeCase> cases = {
        {"hours", "V181", BadTime::Field::hours, bytes({0x81, 26, 6, 10, 6, 0, 24, 0, 0xF0})},
        {"minutes", "V181", BadTime::Field::minutes, bytes({0x81, 26, 6, 10, 6, 60, 12, 0, 0xF0})},
        {"seconds", "V181", BadTime::Field::seconds, bytes({0x81, 26, 6, 10, 60, 0, 12, 0, 0xF0})},
        {"month", "V181", BadTime::Field::month, bytes({0x81, 26, 13, 10, 6, 0, 12, 0, 0xF0})},
        {"hours, short layout", "V150", BadTime::Field::hours, bytes({0x81, 6, 0, 24, 0, 0xF0})},
    };
    for (const BadTimeCase& c : cases) {
        SCOPED_TRACE(c.name);
        BoardOptions o = options();
        o.version = c.version;
        o.clock.bad_times = {{{2026, 6, 10, 12, 0, 5, 300}, c.field}};
        auto board = make(o);
        const size_t length = std::string(c.version) == "V181" ? 9 : 6;
        std::string stream = board->advance_to(kPcStart + 10);
        // Set back to noon: the same second comes again, this time sound.
        board->receive(set_time(12, 0, 0), kPcStart + 10);
        stream += board->advance_to(kPcStart + 20);

        std::vector<std::string> frames = split_frames(stream);
        ASSERT_EQ(frames.size(), 20u);
        for (size_t i = 0; i < frames.size(); ++i) {
            const int second = static_cast<int>(i % 10) + 1;
            if (i == 5) {
                EXPECT_EQ(frames[i], c.frame);
            } else {
                EXPECT_EQ(frames[i], time_frame({2026, 6, 10, 12, 0, second, 0}, 0, length)) << i;
            }
        }
    }
}

struct MidnightCase {
    const char* version;
    DateTime before;
    DateTime after;
};

TEST_F(SimZedaClock, MidnightFramesByFirmware) {
    const std::vector<MidnightCase> cases = {
        {"V181", {2026, 12, 31, 23, 59, 59, 0}, {2027, 1, 1, 0, 0, 0, 0}},
        {"V210", {2028, 2, 28, 23, 59, 59, 0}, {2028, 2, 29, 0, 0, 0, 0}},
        {"V300", {2028, 2, 29, 23, 59, 59, 0}, {2028, 3, 1, 0, 0, 0, 0}},
        {"V150", {2026, 4, 30, 23, 59, 59, 0}, {2026, 5, 1, 0, 0, 0, 0}},
    };
    for (const MidnightCase& c : cases) {
        SCOPED_TRACE(c.version);
        BoardOptions o = options();
        o.version = c.version;
        o.board_start = c.before;
        o.clock.drift_ppm = -30;  // a slow board crosses midnight just the same
        auto board = make(o);
        // A second back, so that the first two frames show both sides of midnight.
        board->receive(set_time(23, 59, 58), kPcStart);
        std::vector<std::string> frames = split_frames(board->advance_to(kPcStart + 2.5));
        const size_t length = std::string(c.version) == "V150" ? 6 : 9;
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0], time_frame(c.before, 0, length));
        // Firmware 1.81 and 2.10 send midnight's frame with the day before; the station
        // turns the date itself. 3.00 turns it on time.
        DateTime sent = c.after;
        if (std::string(c.version) == "V181" || std::string(c.version) == "V210") {
            sent.year = c.before.year;
            sent.month = c.before.month;
            sent.day = c.before.day;
        }
        EXPECT_EQ(frames[1], time_frame(sent, 0, length));
    }
}

TEST_F(SimZedaClock, StatusCarriesTheInputLinesAndDaylightTime) {
    BoardOptions o = options();
    o.clock.input_line_2 = true;
    o.clock.daylight_time = true;
    auto board = make(o);
    std::vector<uint8_t> status;
    auto take = [&](double until) {
        for (const TimeFrame& f : time_frames(board->advance_to(until))) status.push_back(f.status);
    };
    take(kPcStart + 2.5);
    board->set_input_line(1, true);
    take(kPcStart + 3.5);
    board->set_input_line(2, false);
    board->set_daylight_time(false);
    take(kPcStart + 4.5);
    board->set_input_line(1, false);
    take(kPcStart + 5.5);
    EXPECT_EQ(status, (std::vector<uint8_t>{0x50, 0x50, 0x58, 0x08, 0x00}));
}

TEST_F(SimZedaClock, HostJumpingToNextSendTimeNeverArrivesLate) {
    // Clock events (marks, jumps) may restart the board's second between its own slots; the
    // time a host is given must still come no later than the next byte.
    BoardOptions o = options();
    o.clock.drift_ppm = 70;
    o.clock.sync_every_seconds = 2;
    o.clock.jumps = {{{2026, 6, 10, 12, 0, 3, 0}, 4}, {{2026, 6, 10, 12, 0, 9, 0}, -3}};
    auto board = make(o, start_command(3, 0, 7, 0));
    double last = kPcStart;
    size_t sent = 0;
    for (int step = 0; step < 3000; ++step) {
        double t = board->next_send_time();
        ASSERT_GE(t, last);
        ASSERT_EQ(board->advance_to(std::nextafter(t, 0.0)), "") << "late at step " << step;
        sent += board->advance_to(t).size();
        last = t;
    }
    EXPECT_GT(last, kPcStart + 10);
    EXPECT_GT(sent, 2000u * 4);
}

}  // namespace
}  // namespace velkantor::sim
