#include <gtest/gtest.h>

#include <optional>

#include "acquisition/dataq_driver.h"
#include "acquisition/text_instrument_driver.h"
#include "sim/dataq_board.h"
#include "support/station_rig.h"
#include "support/wire_text.h"

namespace velkantor::testing {
namespace {

using acquisition::BoardDriver;

std::string time_frame(int h, int m, int s) {
    return bytes({0x81, s, m, h, 0x00, 0xFF});
}

// A driver on a station whose port the test feeds, gathered as the main loop does it: only
// while more than three bytes wait, each complete frame taken as the dispatch takes it.
struct DriverRig {
    explicit DriverRig(BoardDriver& board_driver, text::DateTime start = {2026, 3, 1, 12, 0, 0, 0})
        : rig(start), driver(board_driver) {
        rig.load();
        EXPECT_TRUE(driver.start_up(rig.station));
        rig.station.run().last_data_time = rig.station.clock().monotonic();
    }

    // One pass's gathering: the frame it completed, if any.
    std::optional<std::string> gather_once() {
        auto& run = rig.station.run();
        driver.gather(rig.station);
        if (run.last_byte < 0xF0) return std::nullopt;
        std::string frame = std::move(run.frame_buffer);
        run.frame_buffer.clear();
        run.last_byte = 0;
        return frame;
    }

    // Data frames gathered from `text`, the time frames passed over.
    std::vector<std::string> data_frames(const std::string& text) {
        rig.port.deliver(text);
        std::vector<std::string> frames;
        for (int pass = 0; pass < 10000 && rig.port.bytes_waiting() > 3; ++pass) {
            auto frame = gather_once();
            if (frame && static_cast<uint8_t>(frame->front()) != 0x81) frames.push_back(*frame);
        }
        return frames;
    }

    std::vector<int32_t> values(const std::string& text) {
        std::vector<int32_t> out;
        for (const auto& frame : data_frames(text)) {
            out.push_back(driver.decode(frame, static_cast<uint8_t>(frame.back())));
        }
        return out;
    }

    StationRig rig;
    BoardDriver& driver;
};

TEST(TextInstrumentReadings, BecomeChannelZeroSamples) {
    struct Case {
        const acquisition::TextInstrument& instrument;
        std::string text;
        std::vector<int32_t> expected;
    };
    const auto& infiltec = acquisition::infiltec_instrument();
    const auto& lx1500 = acquisition::lx1500_instrument();
    const Case cases[] = {
        {infiltec, "-123\r", {-123}},
        {infiltec, "32767\r-32768\r", {32767, -32768}},
        // A CR LF line end leaves the LF in front of the next reading.
        {infiltec, "15\r\n-16\r\n    ", {15, -16}},
        {infiltec, "abc\r", {0}},
        {infiltec, "12.5\r13.5\r    ", {12, 14}},
        // Four readings in one read all arrive, in order (text without an end follows).
        {infiltec, "1\r2\r3\r4\r5555", {1, 2, 3, 4}},
        {lx1500, "032768S", {0}},
        {lx1500, "065535A000000S", {32767, -32768}},
        // Six characters are too short; the reading after it is whole.
        {lx1500, "32768S032769S", {1}},
        // The frame holds 16 bits.
        {lx1500, "099999S", {1695}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        acquisition::TextInstrumentDriver driver(c.instrument);
        DriverRig rig(driver);
        EXPECT_EQ(rig.values(c.text), c.expected);
    }
}

TEST(TextInstrumentReadings, RecodeIntoTheFrameOfChannelZero) {
    acquisition::TextInstrumentDriver driver(acquisition::infiltec_instrument());
    DriverRig rig(driver);
    auto frames = rig.data_frames("-123\r");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], bytes({0x82, 0x85, 0xFF, 0xFC}));
    EXPECT_EQ(driver.decode(frames[0], 0xFC), -123);
}

TEST(TextInstrumentReadings, AReadingSplitAcrossReadsWaitsForItsEnd) {
    acquisition::TextInstrumentDriver driver(acquisition::infiltec_instrument());
    DriverRig rig(driver);
    EXPECT_TRUE(rig.values("-1234").empty());
    EXPECT_EQ(rig.values("5\r    "), std::vector<int32_t>({-12345}));
}

TEST(TextInstrumentReadings, NoiseWithoutAnEndDoesNotStopTheReadings) {
    acquisition::TextInstrumentDriver driver(acquisition::lx1500_instrument());
    DriverRig rig(driver);
    EXPECT_TRUE(rig.values(std::string(5000, '7')).empty());
    // The noise's tail ends with the next "S" as one bad reading; the one after is whole.
    auto values = rig.values("S032770S0000");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1], 2);
}

TEST(InstrumentTime, ReadingSecondIsThePcSecondLessTheBufferLag) {
    struct Case {
        size_t waiting;
        std::string frame;
    };
    // Before any reading has been counted, 424 characters are one second of text; the text
    // that waits goes back from 12:34:56.700 by its time on the line, to the millisecond.
    const Case cases[] = {
        {0, time_frame(12, 34, 56)},   {296, time_frame(12, 34, 56)},  // 0.698 s
        {300, time_frame(12, 34, 55)},                                 // 0.708 s
        {720, time_frame(12, 34, 55)}, {722, time_frame(12, 34, 54)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.waiting);
        acquisition::TextInstrumentDriver driver(acquisition::infiltec_instrument());
        DriverRig rig(driver, {2026, 3, 1, 12, 34, 56, 700});
        rig.rig.port.deliver(std::string(c.waiting, '1'));
        EXPECT_EQ(rig.gather_once(), c.frame);
    }
}

TEST(InstrumentTime, ReadingSecondGoesBackOnlyWithThePcClock) {
    acquisition::TextInstrumentDriver driver(acquisition::infiltec_instrument());
    DriverRig rig(driver, {2026, 3, 1, 23, 59, 50, 0});
    struct Step {
        text::DateTime clock;
        size_t deliver;  // characters (no reading end) put on the line first
        std::optional<std::string> frame;
    };
    const Step steps[] = {
        {{2026, 3, 1, 23, 59, 50, 0}, 0, time_frame(23, 59, 50)},
        {{2026, 3, 1, 23, 59, 50, 900}, 0, std::nullopt},
        // The PC clock set back (summer time ending): the instrument samples on, and the
        // seconds the clock gives again are seconds of its stream.
        {{2026, 3, 1, 23, 59, 40, 0}, 0, time_frame(23, 59, 40)},
        {{2026, 3, 1, 23, 59, 40, 500}, 0, std::nullopt},
        {{2026, 3, 1, 23, 59, 41, 0}, 0, time_frame(23, 59, 41)},
        {{2026, 3, 1, 23, 59, 51, 0}, 0, time_frame(23, 59, 51)},
        // A lag that grows by two seconds would point back: the second stays.
        {{2026, 3, 1, 23, 59, 52, 0}, 848, std::nullopt},
        // (The 8 characters read meanwhile wait in the line buffer, older than the rest.)
        {{2026, 3, 1, 23, 59, 58, 0}, 840, time_frame(23, 59, 56)},
        // Midnight, with no pass in 23:59:59.
        {{2026, 3, 2, 0, 0, 1, 500}, 0, time_frame(0, 0, 1)},
        {{2026, 3, 2, 0, 0, 2, 500}, 0, time_frame(0, 0, 2)},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(text::format_datetime(step.clock));
        rig.rig.clock.set(text::to_epoch_seconds(step.clock));
        rig.rig.port.discard_input();
        rig.rig.port.deliver(std::string(step.deliver, '1'));
        EXPECT_EQ(rig.gather_once(), step.frame);
    }
}

TEST(InstrumentTime, MidnightFromTheLastSecondOfTheDay) {
    acquisition::DataqDriver driver;
    DriverRig rig(driver, {2026, 3, 1, 23, 59, 59, 500});
    EXPECT_EQ(rig.gather_once(), time_frame(23, 59, 59));
    rig.rig.clock.set(text::to_epoch_seconds({2026, 3, 2, 0, 0, 0, 100}));
    EXPECT_EQ(rig.gather_once(), time_frame(0, 0, 0));
}

TEST(TextInstrumentRate, CountsTheReadingsOfEachPcSecond) {
    acquisition::TextInstrumentDriver driver(acquisition::infiltec_instrument());
    DriverRig rig(driver);
    // Three readings in the first second, five in the next, then the third second begins.
    rig.data_frames("1\r2\r3\r");
    rig.data_frames("    ");  // the last readings are taken when more text waits
    rig.rig.clock.advance(1);
    rig.data_frames("4\r5\r6\r7\r8\r    ");
    EXPECT_EQ(driver.readings_per_second(), 3);
    rig.rig.clock.advance(1);
    rig.data_frames("9\r    ");
    EXPECT_EQ(driver.readings_per_second(), 5);
}

// --- DATAQ DI194RS ---

// Scans of channel values (one entry per scanned channel), as the instrument sends them.
std::string scans(const std::vector<std::vector<int32_t>>& values) {
    std::string out;
    for (const auto& scan : values) {
        for (size_t i = 0; i < scan.size(); ++i) out += sim::encode_dataq_pair(scan[i], i == 0);
    }
    return out;
}

struct DataqRig {
    explicit DataqRig(std::array<double, 4> rates) {
        rig.rig.station.run().configured_rate = rates;
        EXPECT_TRUE(dataq.send_start(rig.rig.station));
    }
    // (channel, value) of the data frames gathered from `line`.
    std::vector<std::pair<int, int32_t>> samples(const std::string& line) {
        std::vector<std::pair<int, int32_t>> out;
        for (const auto& frame : rig.data_frames(line)) {
            out.emplace_back(static_cast<uint8_t>(frame[0]) - 0x82, dataq.decode(frame, 0xFC));
        }
        return out;
    }
    acquisition::DataqDriver dataq;
    DriverRig rig{dataq};
};

TEST(DataqSample, EveryValueOfTenBitsSurvivesTheLine) {
    for (int32_t value = -512; value <= 511; ++value) {
        for (bool first : {true, false}) {
            std::string pair = sim::encode_dataq_pair(value, first);
            auto f = static_cast<uint8_t>(pair[0]);
            auto s = static_cast<uint8_t>(pair[1]);
            ASSERT_EQ(acquisition::dataq::sample_of(f, s), value) << value;
            ASSERT_EQ(f & 1, first ? 0 : 1) << value;
            ASSERT_EQ(s & 1, 1) << value;
        }
    }
    // v = 1024, which the instrument never sends: (1023 - 1024) / 2 reads as -1, not 0.
    EXPECT_EQ(acquisition::dataq::sample_of(0x00, 0x81), -1);
}

TEST(DataqGather, SlowerChannelIsTakenOnEveryThirdSample) {
    DataqRig rig({120, 40, 0, 0});
    std::vector<std::vector<int32_t>> sent;
    for (int i = 0; i < 31; ++i) sent.push_back({i, 200 + i});
    std::vector<std::pair<int, int32_t>> expected;
    for (int i = 0; i < 30; ++i) {
        expected.emplace_back(0, i);
        if (i % 3 == 2) expected.emplace_back(1, 200 + i);
    }
    // The last scan's bytes stay on the line: three or fewer are not read.
    EXPECT_EQ(rig.samples(scans(sent)), expected);
}

TEST(DataqGather, ALostByteCostsOneScan) {
    DataqRig rig({120, 120, 0, 0});
    std::string line = scans({{1, -1}, {2, -2}, {3, -3}, {4, -4}, {5, -5}});
    line.erase(4, 1);  // the first byte of the second scan
    EXPECT_EQ(rig.samples(line), (std::vector<std::pair<int, int32_t>>{
                                     {0, 1}, {1, -1}, {0, 3}, {1, -3}, {0, 4}, {1, -4}}));
}

TEST(DataqGather, ScanPairsBelongToTheChannelsThatAreOn) {
    DataqRig rig({0, 120, 0, 120});
    EXPECT_EQ(rig.samples(scans({{7, 8}, {9, 10}, {11, 12}})),
              (std::vector<std::pair<int, int32_t>>{{1, 7}, {3, 8}, {1, 9}, {3, 10}}));
}

}  // namespace
}  // namespace velkantor::testing
