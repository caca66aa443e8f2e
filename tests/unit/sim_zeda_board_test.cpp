#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "platform/fake/memory_serial_port.h"
#include "platform/fake/virtual_clock.h"
#include "sim/board_model.h"
#include "sim/virtual_line.h"
#include "sim/zeda_board.h"
#include "sim_zeda_stream.h"

namespace velkantor::sim {
namespace {

using text::DateTime;
using text::to_epoch_seconds;
using namespace zeda_test;

ZedaFamily zeda18() {
    return {"ZEDA18", "V181", 18, 4, 9, 200};
}

struct EncodeCase {
    ZedaFamily family;
    int channel;
    int32_t value;
    std::string frame;  // empty: only the round trip is checked
};

TEST(SimZedaEncoding, DataFramesDecodeBackToTheSample) {
    const ZedaFamily z10{"ZEDA10", "V162", 16, 4, 9, 200};
    const ZedaFamily z18 = zeda18();
    const ZedaFamily z20{"ZEDA20", "V200", 24, 5, 9, 200};
    const std::vector<EncodeCase> cases = {
        {z10, 0, -32640, bytes({0x82, 0x00, 0x00, 0xF3})},
        {z10, 1, 32767, ""},
        {z10, 2, -32768, ""},
        {z18, 0, -131072, bytes({0x82, 0x00, 0x00, 0xF8})},
        {z18, 0, 65536, bytes({0x82, 0x00, 0x00, 0xF4})},
        {z18, 3, 131071, bytes({0x85, 0x7F, 0x7F, 0xF7})},
        {z18, 1, -1, bytes({0x83, 0x7F, 0x7F, 0xFF})},
        {z18, 2, 0, bytes({0x84, 0x00, 0x00, 0xF0})},
        {z18, 0, 128, bytes({0x82, 0x00, 0x00, 0xF1})},
        {z18, 0, 0x8000, bytes({0x82, 0x00, 0x00, 0xF2})},
        {z18, 0, -300, ""},
        {z20, 3, 8388607, bytes({0x85, 0x7F, 0x7F, 0x7F, 0xF3})},
        {z20, 3, -1, bytes({0x85, 0x7F, 0x7F, 0x7F, 0xF7})},
        {z20, 0, -8388608, ""},
        {z20, 1, 1234567, ""},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(std::string(c.family.model) + " " + std::to_string(c.value));
        std::string frame = encode_data_frame(c.family, c.channel, c.value);
        if (!c.frame.empty()) {
            EXPECT_EQ(frame, c.frame);
        }
        ASSERT_EQ(frame.size(), static_cast<size_t>(c.family.data_frame_length));
        EXPECT_EQ(u8(frame[0]), 0x82 + c.channel);
        for (size_t i = 1; i + 1 < frame.size(); ++i) EXPECT_LT(u8(frame[i]), 0x80);
        EXPECT_EQ(decode_data(frame, c.family.sample_bits), c.value);
    }
}

// A ZEDA18 whose clock reads 23:59:58 on 2026/03/14 at PC time 1000, so the first seconds
// of sending cross midnight.
class SimZedaBoard : public ::testing::Test {
protected:
    static constexpr double kPcStart = 1000;

    BoardOptions options() const {
        BoardOptions o;
        o.board_start = {2026, 3, 14, 23, 59, 58, 0};
        o.pc_start = kPcStart;
        o.seed = 7;
        return o;
    }
    std::unique_ptr<BoardModel> make(const BoardOptions& o) {
        auto board = make_board(o);
        EXPECT_NE(board, nullptr);
        return board;
    }
    static double board_epoch(const DateTime& t) { return to_epoch_seconds(t); }
};

TEST_F(SimZedaBoard, UnknownModelIsRefused) {
    BoardOptions o = options();
    o.model = "ZEDA99";
    EXPECT_EQ(make_board(o), nullptr);
}

// Checks a stream of a board started with channel `channel` alone at code `code`: time
// frames of consecutive seconds from `first`, with the status `status`, each followed by
// its second's samples, each the board's signal at its own time.
struct StreamForm {
    int sample_bits;
    size_t data_length;
    size_t time_length;
    int rate_base;
};
void expect_stream(const BoardModel& board, const std::string& stream, const StreamForm& form,
                   DateTime first, int channel, int code, size_t min_samples = 50) {
    const double t0 = to_epoch_seconds(first);
    int64_t second = -1;  // seconds after `first`
    int index = 0;        // of the sample within its second
    size_t samples = 0;
    for (const std::string& f : split_frames(stream)) {
        if (u8(f[0]) == 0x81) {
            ++second;
            index = 0;
            DateTime t = text::from_epoch_seconds(t0 + static_cast<double>(second));
            // Midnight's frame may carry the day before (the older firmware); the time
            // fields are always the second's own.
            bool midnight = t.hour == 0 && t.minute == 0 && t.second == 0;
            if (midnight && f.size() == 9) {
                ASSERT_EQ(f.substr(4), time_frame(t, 0, form.time_length).substr(4));
            } else {
                ASSERT_EQ(f, time_frame(t, 0, form.time_length)) << text::format_datetime(t);
            }
            continue;
        }
        ASSERT_GE(second, 0) << "data before the first time frame";
        ASSERT_EQ(f.size(), form.data_length);
        ASSERT_EQ(u8(f[0]), 0x82 + channel);
        double at = t0 + static_cast<double>(second) + index * code / double(form.rate_base);
        ASSERT_EQ(decode_data(f, form.sample_bits), board.signal_at(channel, at))
            << "second " << second << " sample " << index;
        ++index;
        ++samples;
    }
    EXPECT_GE(samples, min_samples);
}

struct FamilyCase {
    const char* model;
    const char* version;
    StreamForm form;
    std::string start;  // channel 1 at code 4
};

TEST_F(SimZedaBoard, EachModelAnswersItsVersionAndSendsItsOwnFrames) {
    const std::vector<FamilyCase> cases = {
        {"ZEDA10", "V162", {16, 4, 9, 200}, start_command(0, 4, 0, 0)},
        {"ZEDA18", "V181", {18, 4, 9, 200}, start_command(0, 4, 0, 0)},
        {"ZEDA20", "V200", {24, 5, 9, 200}, start_command(0, 4, 0, 0)},
        {"ZEDA30", "V300", {16, 4, 9, 200}, masked_start_command(4, 0x0002)},
    };
    for (const FamilyCase& c : cases) {
        SCOPED_TRACE(c.model);
        BoardOptions o = options();
        o.model = c.model;
        // Loud enough to clip every width, so the top bits and both limits go over the line.
        o.quakes.push_back({{2026, 3, 14, 23, 59, 59, 200}, 30, 2e7});
        auto board = make(o);
        board->receive(kWake + kStop + kVersionRequest, kPcStart);
        EXPECT_EQ(board->advance_to(kPcStart), c.version);
        board->receive(c.start, kPcStart);
        expect_stream(*board, board->advance_to(kPcStart + 3.5), c.form,
                      {2026, 3, 14, 23, 59, 59, 0}, 1, 4, 2 * 50 + 26);
    }
}

struct MaskCase {
    const char* name;
    int code;
    int mask;
    std::array<uint8_t, 4> codes;
};

TEST_F(SimZedaBoard, SixteenChannelBoardRunsTheMaskedChannelsOfTheFirstFourAtOneRate) {
    const std::vector<MaskCase> cases = {
        {"channels 0, 2, 3", 4, 0x000D, {4, 0, 4, 4}},
        {"high bits do not reach the first four", 2, 0xFFF2, {0, 2, 0, 0}},
        {"all sixteen", 2, 0xFFFF, {2, 2, 2, 2}},
        {"only channels above 3", 2, 0xFF00, {0, 0, 0, 0}},
        {"code 0: off", 0, 0x000F, {0, 0, 0, 0}},
    };
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.name);
        BoardOptions o = options();
        o.model = "ZEDA30";
        auto board = make(o);
        board->receive(masked_start_command(c.code, c.mask), kPcStart);
        EXPECT_EQ(dynamic_cast<ZedaBoard&>(*board).rate_codes(), c.codes);
        std::array<int, 4> counts{};
        int time_frames = 0;
        for (const std::string& f : split_frames(board->advance_to(kPcStart + 1.999))) {
            if (u8(f[0]) == 0x81) {
                ++time_frames;
                continue;
            }
            ASSERT_EQ(time_frames, 1) << "only the first whole second";
            ASSERT_GE(u8(f[0]), 0x82);
            ASSERT_LE(u8(f[0]), 0x85);
            ++counts[u8(f[0]) - 0x82u];
        }
        for (size_t ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(counts[ch], c.codes[ch] == 0 ? 0 : 200 / c.codes[ch]) << "channel " << ch;
        }
    }
}

struct FirmwareCase {
    const char* model;
    const char* version;
    StreamForm form;
};

TEST_F(SimZedaBoard, FirmwareDecidesTheSamplingClockAndTheTimeFrame) {
    const std::vector<FirmwareCase> cases = {
        {"ZEDA18", "V210", {18, 4, 9, 2400}}, {"ZEDA20", "V211", {24, 5, 6, 2400}},
        {"ZEDA18", "V150", {18, 4, 6, 100}},  {"ZEDA10", "V170", {16, 4, 6, 100}},
        {"ZEDA20", "V111", {24, 5, 6, 100}},  {"ZEDA10", "V163", {16, 4, 9, 200}},
        {"ZEDA18", "V180", {18, 4, 6, 200}},  {"ZEDA10", "V300", {16, 4, 9, 200}},
    };
    for (const FirmwareCase& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.version);
        BoardOptions o = options();
        o.model = c.model;
        o.version = c.version;
        auto board = make(o);
        board->receive(kVersionRequest, kPcStart);
        EXPECT_EQ(board->advance_to(kPcStart), c.version);
        // 50 samples a second whatever the clock, so the count shows the clock as well.
        const int code = c.form.rate_base / 50;
        board->receive(start_command(0, code, 0, 0), kPcStart);
        expect_stream(*board, board->advance_to(kPcStart + 2.999), c.form,
                      {2026, 3, 14, 23, 59, 59, 0}, 1, code, 100);
    }
}

// The board reads a rate code by its own rule: code 0 switches the channel off, and a code
// that does not divide its clock's ticks runs the channel at ticks / code, its samples at
// every code-th tick counted on across seconds. The codes are those the station sent before
// it refused rates the firmware cannot carry: 300 per second on 1.81 (code 0) and 5 per
// second on 2.10 (2400 / 5 cut to 255).
struct CodeRuleCase {
    const char* name;
    const char* model;
    const char* version;
    std::array<int, 4> codes;
    std::array<int, 4> samples;  // per channel in 255 board seconds
    int fewest, most;            // samples of channel 0 in one board second
};

TEST_F(SimZedaBoard, RateCodesByTheFirmwaresOwnRule) {
    const std::vector<CodeRuleCase> cases = {
        {"1.81, channel 2 sent code 0", "ZEDA18", "V181", {2, 0, 0, 0}, {25500, 0, 0, 0}, 100, 100},
        {"2.10, code 255 runs at 9.4",
         "ZEDA20",
         "V210",
         {255, 255, 255, 0},
         {2400, 2400, 2400, 0},
         9,
         10},
        {"2.10, code 240 runs at 10",
         "ZEDA20",
         "V210",
         {240, 240, 240, 0},
         {2550, 2550, 2550, 0},
         10,
         10},
    };
    for (const CodeRuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        BoardOptions o = options();
        o.model = c.model;
        o.version = c.version;
        auto board = make(o);
        const int ticks = dynamic_cast<ZedaBoard&>(*board).family().rate_base;
        const double first = board_epoch({2026, 3, 14, 23, 59, 59, 0});
        std::array<int, 4> samples{};
        std::map<int64_t, int> per_second;
        std::array<double, 4> last{-1, -1, -1, -1};
        board->sample_listener = [&](int ch, double at, int32_t value) {
            if (at >= first + 255) return;
            ASSERT_EQ(value, board->signal_at(ch, at));
            auto slot = static_cast<size_t>(ch);
            if (last[slot] >= 0) {
                // Evenly spaced across the seconds' borders.
                ASSERT_NEAR(at - last[slot], c.codes[slot] / double(ticks), 1e-6);
            }
            last[slot] = at;
            ++samples[slot];
            if (ch == 0) ++per_second[static_cast<int64_t>(std::floor(at))];
        };
        board->receive(start_command(c.codes[0], c.codes[1], c.codes[2], c.codes[3]), kPcStart);
        board->advance_to(kPcStart + 257);
        EXPECT_EQ(samples, c.samples);
        ASSERT_EQ(per_second.size(), 255u);
        for (const auto& [second, count] : per_second) {
            EXPECT_GE(count, c.fewest) << second;
            EXPECT_LE(count, c.most) << second;
        }
    }
}

TEST_F(SimZedaBoard, IdentityAndTrimmingCanBeGiven) {
    BoardOptions o = options();
    o.serial_number = std::array<uint8_t, 4>{0x12, 0x34, 0x56, 0x78};
    o.trimming = std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0x02};  // the null record
    auto read = [](BoardModel& board, int first) {
        std::string out;
        for (int a = first; a < first + 4; ++a) {
            board.receive(memory_read(a), kPcStart);
            out += board.advance_to(kPcStart);
        }
        return out;
    };
    auto board = make(o);
    EXPECT_EQ(read(*board, 16),
              bytes({0x86, 0x12, 0xF0, 0x86, 0x34, 0xF0, 0x86, 0x56, 0xF0, 0x86, 0x78, 0xF0}));
    EXPECT_EQ(read(*board, 1),
              bytes({0x86, 0xFF, 0xF0, 0x86, 0xFF, 0xF0, 0x86, 0xFF, 0xF0, 0x86, 0x02, 0xF0}));

    // A board whose trimming memory cannot be written keeps it.
    const std::string write = bytes({0x85, 0x20, 0x1C, 0x00, 0x01, 0x00});
    o.faults.ignores_trim_write = true;
    auto stuck = make(o);
    stuck->receive(write, kPcStart);
    EXPECT_EQ(read(*stuck, 1), read(*board, 1));
    board->receive(write, kPcStart);
    EXPECT_EQ(read(*board, 1),
              bytes({0x86, 0x20, 0xF0, 0x86, 0x1C, 0xF0, 0x86, 0x00, 0xF0, 0x86, 0x01, 0xF0}));
}

TEST_F(SimZedaBoard, MuteBoardNeverAnswersTheVersionButStreamsWhenStarted) {
    BoardOptions o = options();
    o.faults.mute_handshake = true;
    auto board = make(o);
    for (int attempt = 0; attempt < 4; ++attempt) {
        board->receive(kWake + kWake + kStop + kVersionRequest, kPcStart + attempt * 0.5);
    }
    EXPECT_EQ(board->advance_to(kPcStart + 2), "");
    board->receive(start_command(2, 0, 0, 0), kPcStart + 2);
    std::vector<std::string> frames = split_frames(board->advance_to(kPcStart + 3.999));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0], time_frame({2026, 3, 15, 0, 0, 1, 0}, 0));
    EXPECT_EQ(frames.size(), 1u + 100u);
}

// Two boards alike but for their faults, run side by side from the same start: what the
// faulty one sends is compared with what the sound one sends at the same moments.
class SimZedaLineFaults : public SimZedaBoard {
protected:
    // Channel 0 at 50 samples a second from board 23:59:59.
    std::vector<std::pair<std::string, std::string>> run_pair(const LineFaults& faults, double step,
                                                              double seconds) {
        BoardOptions o = options();
        auto sound = make(o);
        o.faults = faults;
        auto faulty = make(o);
        std::vector<std::pair<std::string, std::string>> chunks;
        for (BoardModel* b : {sound.get(), faulty.get()})
            b->receive(start_command(4, 0, 0, 0), kPcStart);
        for (double t = kPcStart + step; t <= kPcStart + seconds + 1e-9; t += step) {
            chunks.emplace_back(sound->advance_to(t), faulty->advance_to(t));
        }
        return chunks;
    }
};

struct FrameHit {
    DateTime frame_time;  // board time of the data frame hit
    bool shortened;
    bool unterminated;
};
struct FrameFaultCase {
    const char* name;
    std::vector<DateTime> short_frames;
    std::vector<DateTime> unterminated_frames;
    std::vector<FrameHit> hits;
};

TEST_F(SimZedaLineFaults, FrameFaultsHitTheFirstDataFrameAtOrAfterTheirTimeOnce) {
    const std::vector<FrameFaultCase> cases = {
        {"short, between samples and on one",
         {{2026, 3, 14, 23, 59, 59, 13}, {2026, 3, 15, 0, 0, 0, 0}},
         {},
         {{{2026, 3, 14, 23, 59, 59, 20}, true, false}, {{2026, 3, 15, 0, 0, 0, 0}, true, false}}},
        {"unterminated",
         {},
         {{2026, 3, 15, 0, 0, 1, 500}},
         {{{2026, 3, 15, 0, 0, 1, 500}, false, true}}},
        {"both on one frame",
         {{2026, 3, 15, 0, 0, 0, 490}},
         {{2026, 3, 15, 0, 0, 0, 500}},
         {{{2026, 3, 15, 0, 0, 0, 500}, true, true}}},
        {"before the start: the first frame sent",
         {{2026, 3, 14, 23, 0, 0, 0}},
         {},
         {{{2026, 3, 14, 23, 59, 59, 0}, true, false}}},
        {"after the run: nothing", {{2026, 3, 15, 0, 0, 5, 0}}, {{2026, 3, 15, 0, 0, 5, 0}}, {}},
    };
    for (const FrameFaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        LineFaults faults;
        faults.short_frames = c.short_frames;
        faults.unterminated_frames = c.unterminated_frames;
        std::string sound;
        std::string faulty;
        for (auto& [a, b] : run_pair(faults, 0.25, 3.5)) {
            sound += a;
            faulty += b;
        }
        // The sound stream with the hits applied, frame by frame at their board times.
        std::string expected;
        const double first = to_epoch_seconds({2026, 3, 14, 23, 59, 59, 0});
        int second = -1;
        int index = 0;
        for (std::string f : split_frames(sound)) {
            if (u8(f[0]) == 0x81) {
                ++second;
                index = 0;
            } else {
                double at = first + second + index++ / 50.0;
                for (const FrameHit& hit : c.hits) {
                    if (std::abs(at - to_epoch_seconds(hit.frame_time)) > 1e-6) continue;
                    if (hit.shortened) f.erase(f.size() - 2, 1);
                    if (hit.unterminated) f.pop_back();
                }
            }
            expected += f;
        }
        EXPECT_EQ(faulty, expected);
    }
}

struct GarbageSpanCase {
    const char* name;
    Garbage garbage;
};

TEST_F(SimZedaLineFaults, GarbageStaysWithinItsSpan) {
    const DateTime from{2026, 3, 15, 0, 0, 0, 0};
    const DateTime to{2026, 3, 15, 0, 0, 1, 0};
    const std::vector<GarbageSpanCase> cases = {
        {"replaced", {from, to, 0.1, 0}},
        {"injected", {from, to, 0, 0.1}},
        {"both", {from, to, 0.1, 0.1}},
    };
    // Board time = PC time + this, as long as nothing moves the clock.
    const double offset = to_epoch_seconds({2026, 3, 14, 23, 59, 58, 0}) - kPcStart;
    for (const GarbageSpanCase& c : cases) {
        SCOPED_TRACE(c.name);
        LineFaults faults;
        faults.garbage = {c.garbage};
        const double step = 0.05;
        size_t inside = 0;
        size_t changed = 0;
        size_t added = 0;
        double t = kPcStart;
        for (auto& [sound, faulty] : run_pair(faults, step, 3.5)) {
            // This chunk holds what the board sent for board times (t, t + step].
            const double board_from = t + offset;
            t += step;
            const double board_to = t + offset;
            if (board_to < to_epoch_seconds(from) - 1e-6 ||
                board_from >= to_epoch_seconds(to) - 1e-6) {
                EXPECT_EQ(faulty, sound) << "outside the span, board time " << board_from;
                continue;
            }
            inside += sound.size();
            ASSERT_GE(faulty.size(), sound.size());
            added += faulty.size() - sound.size();
            if (c.garbage.injected == 0) {
                for (size_t i = 0; i < sound.size(); ++i) changed += faulty[i] != sound[i];
            }
        }
        // A tenth of about 210 bytes, give or take what chance allows.
        ASSERT_GT(inside, 200u);
        if (c.garbage.replaced > 0 && c.garbage.injected == 0) {
            EXPECT_GT(changed, inside / 20);
            EXPECT_LT(changed, inside / 5);
        }
        if (c.garbage.injected > 0) {
            EXPECT_GT(added, inside / 20);
            EXPECT_LT(added, inside / 5);
        } else {
            EXPECT_EQ(added, 0u);
        }
    }
}

TEST_F(SimZedaBoard, StartsSilentAndStreamsOneSecondAtATimeAtTheCodedRates) {
    auto board = make(options());
    std::vector<LineRecord> records;
    board->recorder = [&](const LineRecord& r) { records.push_back(r); };

    EXPECT_EQ(board->advance_to(kPcStart + 5), "");
    EXPECT_EQ(board->next_send_time(), std::numeric_limits<double>::infinity());

    const double t0 = kPcStart + 5;  // board 00:00:03 on the 15th
    board->receive(start_command(2, 2, 0, 100), t0);
    std::string stream = board->advance_to(t0 + 3);

    // Counts of each channel between time frames.
    std::vector<std::string> time_frames;
    std::vector<std::array<int, 4>> counts;
    for (const std::string& f : split_frames(stream)) {
        if (u8(f[0]) == 0x81) {
            time_frames.push_back(f);
            counts.push_back({});
            continue;
        }
        ASSERT_FALSE(counts.empty()) << "data before the first time frame";
        ASSERT_EQ(f.size(), 4u);
        int ch = u8(f[0]) - 0x82;
        ASSERT_GE(ch, 0);
        ASSERT_LT(ch, 4);
        ++counts.back()[static_cast<size_t>(ch)];
    }
    ASSERT_EQ(time_frames.size(), 3u);  // 00:00:04, :05, :06 (the last one just sent)
    EXPECT_EQ(time_frames[0], bytes({0x81, 26, 3, 15, 4, 0, 0, 0x00, 0xF0}));
    EXPECT_EQ(time_frames[2], bytes({0x81, 26, 3, 15, 6, 0, 0, 0x00, 0xF0}));
    EXPECT_EQ(counts[0], (std::array<int, 4>{100, 100, 0, 2}));
    EXPECT_EQ(counts[1], (std::array<int, 4>{100, 100, 0, 2}));
    // The samples at board time :06.000 went with the time frame; the rest are not due yet.
    EXPECT_EQ(counts[2], (std::array<int, 4>{1, 1, 0, 1}));

    std::string in;
    std::string out;
    for (const LineRecord& r : records) (r.from_board ? out : in) += r.bytes;
    EXPECT_EQ(in, start_command(2, 2, 0, 100));
    EXPECT_EQ(out, stream);
}

TEST_F(SimZedaBoard, SamplesAreTheSignalAtTheirBoardTimesInTimeOrder) {
    BoardOptions o = options();
    // A quake too big for 18 bits, so both clipping limits go over the line too.
    o.quakes.push_back({{2026, 3, 14, 23, 59, 59, 500}, 30, 5e5});
    auto board = make(o);
    struct Heard {
        int channel;
        double time;
        int32_t value;
    };
    std::vector<Heard> heard;
    board->sample_listener = [&](int ch, double t, int32_t v) { heard.push_back({ch, t, v}); };

    board->receive(start_command(2, 4, 0, 8), kPcStart);  // 100, 50, off, 25 per second
    std::vector<std::string> frames = split_frames(board->advance_to(kPcStart + 3.5));

    // What the board must send, built independently of the board's own schedule.
    struct Expected {
        double time;
        int channel;  // -1: time frame
    };
    std::vector<Expected> expected;
    const std::array<int, 4> every = {2, 4, 0, 8};  // ticks of 1/200 s between samples
    auto add_second = [&](const DateTime& second, int last_tick) {
        double s = board_epoch(second);
        expected.push_back({s, -1});
        for (int tick = 0; tick <= last_tick; ++tick) {
            for (int ch = 0; ch < 4; ++ch) {
                int step = every[static_cast<size_t>(ch)];
                if (step > 0 && tick % step == 0) expected.push_back({s + tick / 200.0, ch});
            }
        }
    };
    add_second({2026, 3, 14, 23, 59, 59, 0}, 199);
    add_second({2026, 3, 15, 0, 0, 0, 0}, 199);
    add_second({2026, 3, 15, 0, 0, 1, 0}, 100);  // up to PC 1003.5: the first half

    ASSERT_EQ(frames.size(), expected.size());
    size_t samples = 0;
    bool low_clip = false;
    bool high_clip = false;
    for (size_t i = 0; i < frames.size(); ++i) {
        const Expected& e = expected[i];
        if (e.channel < 0) {
            ASSERT_EQ(u8(frames[i][0]), 0x81) << i;
            continue;
        }
        ASSERT_EQ(u8(frames[i][0]), 0x82 + e.channel) << i;
        int32_t value = decode_data(frames[i], 18);
        ASSERT_EQ(value, board->signal_at(e.channel, e.time)) << "frame " << i;
        ASSERT_LT(samples, heard.size());
        EXPECT_EQ(heard[samples].channel, e.channel);
        EXPECT_NEAR(heard[samples].time, e.time, 1e-6);
        EXPECT_EQ(heard[samples].value, value);
        low_clip |= value == -131072;
        high_clip |= value == 131071;
        ++samples;
    }
    EXPECT_EQ(samples, heard.size());
    EXPECT_GT(samples, 300u);
    EXPECT_TRUE(low_clip && high_clip);
}

TEST_F(SimZedaBoard, NextSendTimeIsExactSoAHostCanJumpToIt) {
    auto board = make(options());
    board->receive(start_command(2, 3, 0, 100), kPcStart + 0.3);
    double last = kPcStart + 0.3;
    size_t sent = 0;
    for (int step = 0; step < 600; ++step) {
        double t = board->next_send_time();
        ASSERT_GT(t, last);
        EXPECT_EQ(board->advance_to(std::nextafter(t, 0.0)), "") << "early at step " << step;
        std::string out = board->advance_to(t);
        ASSERT_FALSE(out.empty()) << "nothing at the announced time, step " << step;
        sent += out.size();
        last = t;
    }
    EXPECT_GT(sent, 600u * 4);
}

TEST_F(SimZedaBoard, VersionIsAnsweredOnlyWhileStopped) {
    auto board = make(options());
    board->receive(kWake + kWake + kStop + kVersionRequest, kPcStart);
    EXPECT_EQ(board->advance_to(kPcStart + 0.1), "V181");

    board->receive(start_command(2, 0, 0, 0), kPcStart + 0.1);
    board->advance_to(kPcStart + 1.5);
    board->receive(kVersionRequest, kPcStart + 1.5);
    // Only well-formed frames: a stray reply would run into the next frame.
    for (const std::string& f : split_frames(board->advance_to(kPcStart + 2.5))) {
        size_t want = u8(f[0]) == 0x81 ? 9u : 4u;
        EXPECT_EQ(f.size(), want);
    }

    board->receive(kStop + kVersionRequest, kPcStart + 2.5);
    EXPECT_EQ(board->advance_to(kPcStart + 10), "V181");  // and nothing streamed after the stop
    EXPECT_EQ(board->next_send_time(), std::numeric_limits<double>::infinity());
}

TEST_F(SimZedaBoard, MemoryHoldsTrimAndSerialFromTheSeed) {
    auto read_all = [](BoardModel& board, const std::vector<int>& addresses) {
        std::string replies;
        for (int a : addresses) {
            board.receive(memory_read(a), kPcStart);
            replies += board.advance_to(kPcStart);
        }
        return replies;
    };
    const std::vector<int> identity = {1, 2, 3, 4, 16, 17, 18, 19};
    auto board = make(options());
    std::string replies = read_all(*board, identity);
    ASSERT_EQ(replies.size(), 3 * identity.size());
    for (size_t i = 0; i < identity.size(); ++i) {
        EXPECT_EQ(u8(replies[3 * i]), 0x86);
        EXPECT_LT(u8(replies[3 * i + 1]), 0x80);
        EXPECT_EQ(u8(replies[3 * i + 2]), 0xF0);
    }
    std::string zeros;
    for (int i = 0; i < 6; ++i) zeros += bytes({0x86, 0x00, 0xF0});
    EXPECT_EQ(read_all(*board, {0, 5, 15, 20, 0x80, 0xFF}), zeros);

    EXPECT_EQ(read_all(*make(options()), identity), replies) << "same seed, same board";
    BoardOptions other = options();
    other.seed = 8;
    std::string other_replies = read_all(*make(other), identity);
    EXPECT_NE(other_replies.substr(0, 12), replies.substr(0, 12)) << "trimming";
    EXPECT_NE(other_replies.substr(12), replies.substr(12)) << "serial number";

    board->receive(bytes({0x85, 0x12, 0x34, 0x56, 0x78, 0x00}), kPcStart);
    EXPECT_EQ(read_all(*board, {1, 2, 3, 4}),
              bytes({0x86, 0x12, 0xF0, 0x86, 0x34, 0xF0, 0x86, 0x56, 0xF0, 0x86, 0x78, 0xF0}));
    EXPECT_EQ(read_all(*board, {16, 17, 18, 19}), replies.substr(12)) << "serial untouched";
}

TEST_F(SimZedaBoard, ClockCommandsMoveTheBoardClock) {
    BoardOptions o = options();
    o.board_start = {2026, 3, 14, 10, 0, 0, 0};
    ZedaBoard board(zeda18(), o);
    const double t = kPcStart;

    board.receive(bytes({0x83, 30, 15, 8, 0, 0}), t + 0.4);  // 08:15:30, date kept
    EXPECT_NEAR(board.board_time(t + 0.4), board_epoch({2026, 3, 14, 8, 15, 30, 0}), 1e-6);
    board.receive(bytes({0x82, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE}), t + 0.6);
    EXPECT_EQ(board.time_zone_correction(), -2);
    board.receive(bytes({0x87, 25, 12, 31, 0, 0}), t + 0.9);  // 2025/12/31, time kept
    EXPECT_NEAR(board.board_time(t + 0.9), board_epoch({2025, 12, 31, 8, 15, 30, 500}), 1e-6);

    // Started at board 08:15:30.6: the first time frame is that of the next whole second.
    board.receive(start_command(0, 0, 0, 0), t + 1.0);
    EXPECT_NEAR(board.next_send_time(), t + 1.4, 1e-6);
    EXPECT_EQ(board.advance_to(board.next_send_time()),
              bytes({0x81, 25, 12, 31, 31, 15, 8, 0, 0xF0}));

    // Set while sending: the stream follows the new clock from its next whole second.
    board.receive(bytes({0x83, 0, 0, 12, 0, 0}), t + 1.5);
    EXPECT_EQ(board.advance_to(t + 2.6), bytes({0x81, 25, 12, 31, 1, 0, 12, 0, 0xF0}));
}

struct GarbageCase {
    const char* name;
    std::string before;
};

TEST_F(SimZedaBoard, GarbageBeforeACommandIsIgnored) {
    const std::vector<GarbageCase> cases = {
        {"wake pattern", kWake + kWake},
        {"noise", bytes({0x00, 0x7F, 0xFF, 0xF0, 0x80, 0x88, 0x8A, 0x55})},
        {"stop cut short", bytes({0x84, 0x00, 0x00})},
        {"bad padding", bytes({0x86, 0x01, 0x00, 0x05})},
        {"impossible time", bytes({0x83, 59, 59, 24, 0, 0})},
        {"impossible date", bytes({0x87, 26, 2, 30, 0, 0})},
        {"unequal time zone", bytes({0x82, 0x01, 0x01, 0x02})},
        {"start prefix cut", std::string("DUMM") + "DUM"},
        {"start without padding", "DUMMY" + bytes({0x84, 2, 2, 2, 2, 0x01})},
        {"lone lead bytes", bytes({0x81, 0x84, 0x86, 0x87})},
    };
    for (const GarbageCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto board = make(options());
        board->receive(c.before + kVersionRequest, kPcStart);
        EXPECT_EQ(board->advance_to(kPcStart), "V181");
        // Byte by byte, with noise between commands, the start still gets through.
        for (char b : c.before + start_command(2, 0, 0, 0))
            board->receive(std::string(1, b), kPcStart);
        // Started, and the noise set nothing: the clock is where it was.
        ASSERT_EQ(board->next_send_time(), kPcStart + 1);
        EXPECT_EQ(board->advance_to(kPcStart + 1).substr(0, 9),
                  bytes({0x81, 26, 3, 14, 59, 59, 23, 0x00, 0xF0}));
    }
}

TEST_F(SimZedaBoard, DisconnectedBoardNeitherHearsNorSends) {
    auto board = make(options());
    board->receive(start_command(2, 0, 0, 0), kPcStart);
    board->advance_to(kPcStart + 1.25);

    board->set_connected(false);
    EXPECT_EQ(board->next_send_time(), std::numeric_limits<double>::infinity());
    board->receive(kStop, kPcStart + 2);  // not heard: still sending afterwards
    EXPECT_EQ(board->advance_to(kPcStart + 7.3), "");

    board->set_connected(true);  // at PC 1007.3 = board 00:00:05.3 on the 15th
    std::vector<std::string> frames = split_frames(board->advance_to(kPcStart + 8.5));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0], bytes({0x81, 26, 3, 15, 6, 0, 0, 0x00, 0xF0}));
    EXPECT_EQ(frames.size(), 1u + 51u);  // the time frame, then half a second at 100 per second
}

TEST(SimVirtualLine, CarriesBothWaysOnTheVirtualClock) {
    platform::VirtualClock clock({2026, 5, 1, 9, 0, 0, 0});
    BoardOptions o;
    o.board_start = {2026, 5, 1, 9, 0, 0, 0};
    o.pc_start = clock.epoch_seconds();
    auto board = make_board(o);
    platform::MemorySerialPort port;
    port.set_input_length(4096);
    VirtualLine line(port, *board, clock);
    ASSERT_TRUE(port.open());

    port.write(kVersionRequest);
    EXPECT_LE(line.next_send_time(), clock.epoch_seconds());
    line.pump();
    EXPECT_EQ(port.read(), "V181");

    port.write(start_command(100, 0, 0, 0));  // 2 per second
    clock.set(line.next_send_time());
    line.pump();
    EXPECT_EQ(port.read().substr(0, 9), bytes({0x81, 26, 5, 1, 1, 0, 9, 0, 0xF0}));

    // Unplugged for ten seconds: nothing arrives, and then a whole second from its start.
    line.set_connected(false);
    clock.advance(10);
    line.pump();
    EXPECT_EQ(port.bytes_waiting(), 0u);
    line.set_connected(true);
    clock.set(line.next_send_time());
    line.pump();
    EXPECT_EQ(port.read().substr(0, 9), bytes({0x81, 26, 5, 1, 12, 0, 9, 0, 0xF0}));

    // A closed port loses what the board sends meanwhile.
    port.close();
    clock.advance(3);
    line.pump();
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.bytes_waiting(), 0u);
}

}  // namespace
}  // namespace velkantor::sim
