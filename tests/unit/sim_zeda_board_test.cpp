#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/fake/memory_serial_port.h"
#include "platform/fake/virtual_clock.h"
#include "sim/board_model.h"
#include "sim/virtual_line.h"
#include "sim/zeda_board.h"

namespace velkantor::sim {
namespace {

using text::DateTime;
using text::to_epoch_seconds;

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

const std::string kVersionRequest = bytes({0x81, 0, 0, 0, 0, 0});
const std::string kStop = bytes({0x84, 0, 0, 0, 0, 0});
const std::string kWake = bytes({0x0F, 0xF0, 0x8A, 0x28, 0xF0, 0x28, 0x8A, 0x0F});

std::string start_command(int c0, int c1, int c2, int c3) {
    return "DUMMY" + bytes({0x84, c0, c1, c2, c3, 0});
}
std::string memory_read(int address) {
    return bytes({0x86, address, 0, 0, 0, 0});
}

uint8_t u8(char c) {
    return static_cast<uint8_t>(c);
}

// The station's view of the stream: frames end at a byte of 0xF0 or above.
std::vector<std::string> split_frames(const std::string& stream) {
    std::vector<std::string> frames;
    std::string frame;
    for (char c : stream) {
        frame.push_back(c);
        if (u8(c) >= 0xF0) {
            frames.push_back(frame);
            frame.clear();
        }
    }
    EXPECT_TRUE(frame.empty()) << "stream ends inside a frame";
    return frames;
}

// Decoding as the station does it, written out per board so that it checks the encoder
// rather than repeating it.
int32_t decode_data(const std::string& f, int sample_bits) {
    uint8_t t = u8(f.back());
    int32_t b0 = u8(f[1]) + 128 * (t & 1);
    int32_t b1 = u8(f[2]) + 128 * ((t >> 1) & 1);
    switch (sample_bits) {
        case 16: {
            int32_t v = b1 * 256 + b0;
            return v >= 0x8000 ? v - 65536 : v;
        }
        case 18: {
            int32_t magnitude = b1 * 256 + b0 + 65536 * ((t >> 2) & 1);
            return (t & 8) ? magnitude - 131072 : magnitude;
        }
        default: {
            int32_t magnitude = u8(f[3]) * 65536 + b1 * 256 + b0;
            return (t & 4) ? magnitude - 8388608 : magnitude;
        }
    }
}

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

TEST_F(SimZedaBoard, RegistryKnowsTheModelByName) {
    EXPECT_EQ(model_names(), std::vector<std::string>{"ZEDA18"});
    BoardOptions o = options();
    o.model = "ZEDA99";
    EXPECT_EQ(make_board(o), nullptr);
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

TEST_F(SimZedaBoard, TimeFramesCarryTheBoardDateAcrossMidnight) {
    auto board = make(options());
    board->receive(start_command(0, 0, 0, 0), kPcStart);  // only time frames
    std::vector<std::string> frames = split_frames(board->advance_to(kPcStart + 2));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], bytes({0x81, 26, 3, 14, 59, 59, 23, 0x00, 0xF0}));
    EXPECT_EQ(frames[1], bytes({0x81, 26, 3, 15, 0, 0, 0, 0x00, 0xF0}));
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
