#include <gtest/gtest.h>

#include <algorithm>

#include "acquisition/dataq_driver.h"
#include "sim/board_model.h"
#include "sim/dataq_board.h"
#include "sim/text_instrument_board.h"

namespace velkantor::sim {
namespace {

constexpr double kT0 = 1772366400;  // 2026-03-01 12:00:00

struct Heard {
    std::vector<std::pair<int, int32_t>> samples;  // channel, value
};

std::unique_ptr<BoardModel> instrument(const std::string& model, Heard& heard,
                                       int reading_rate = 0) {
    BoardOptions options;
    options.model = model;
    options.board_start = text::from_epoch_seconds(kT0);
    options.pc_start = kT0;
    options.reading_rate = reading_rate;
    auto board = make_board(options);
    EXPECT_NE(board, nullptr) << model;
    if (board) {
        board->sample_listener = [&heard](int ch, double, int32_t v) {
            heard.samples.emplace_back(ch, v);
        };
    }
    return board;
}

// Splits text readings at their ends ("\r" or "S"), ends kept.
std::vector<std::string> readings(const std::string& text, char end) {
    std::vector<std::string> out;
    size_t begin = 0;
    for (size_t at = text.find(end); at != std::string::npos; at = text.find(end, begin)) {
        out.push_back(text.substr(begin, at + 1 - begin));
        begin = at + 1;
    }
    EXPECT_EQ(begin, text.size()) << "a reading was cut";
    return out;
}

TEST(SimInstruments, AreListedByName) {
    auto names = model_names();
    for (const char* name : {"INFILTEC", "LX1500", "DATAQ"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
}

TEST(SimInfiltec, SendsSignedReadingsAtItsRateFromPowerUp) {
    Heard heard;
    auto board = instrument("INFILTEC", heard, 20);
    // (Each reading goes out at 9600 baud from its tick: well within the next 50 ms.)
    auto sent = readings(board->advance_to(kT0 + 2.025), '\r');
    ASSERT_EQ(sent.size(), 40u);
    ASSERT_EQ(heard.samples.size(), 40u);
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i], std::to_string(heard.samples[i].second) + "\r");
        EXPECT_EQ(heard.samples[i].first, 0);
    }
    // Nothing it hears changes it.
    board->receive("STBY", kT0 + 2.025);
    EXPECT_EQ(readings(board->advance_to(kT0 + 3.025), '\r').size(), 20u);
}

TEST(SimLx1500, WaitsForGoAndObeysStandby) {
    Heard heard;
    auto board = instrument("LX1500", heard);
    EXPECT_EQ(board->advance_to(kT0 + 1), "");
    EXPECT_EQ(board->next_send_time(), std::numeric_limits<double>::infinity());

    board->receive("G0T1", kT0 + 1);
    auto sent = readings(board->advance_to(kT0 + 2.01), 'S');
    ASSERT_EQ(sent.size(), 50u);
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(sent[i].size(), 7u);
        EXPECT_EQ(std::stoi(sent[i].substr(0, 6)) - 32768, heard.samples[i].second);
    }
    board->receive("DONE", kT0 + 2.01);
    EXPECT_EQ(readings(board->advance_to(kT0 + 3.01), 'S').size(), 50u);
    board->receive("STBY", kT0 + 3.01);
    EXPECT_EQ(board->advance_to(kT0 + 4), "");
}

TEST(SimLx1500, ReadingsCoverTheWholeSixteenBits) {
    const TextInstrumentModel lx{"LX1500", 50, 32768, 6, "S", false, 1920};
    EXPECT_EQ(encode_reading(lx, -32768), "000000S");
    EXPECT_EQ(encode_reading(lx, 0), "032768S");
    EXPECT_EQ(encode_reading(lx, 32767), "065535S");
}

TEST(SimDataq, ScansTheChosenChannelsAtTheirBaseRate) {
    struct Case {
        char mask;
        size_t scans_per_second;
        std::vector<int> channels;
    };
    const Case cases[] = {
        {'1', 240, {0}},      {'3', 120, {0, 1}},      {'5', 120, {0, 2}},
        {'7', 80, {0, 1, 2}}, {'?', 60, {0, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        Heard heard;
        auto board = instrument("DATAQ", heard);
        // The station's start script, then one second of scans.
        board->receive(std::string(1, c.mask), kT0);
        board->receive(std::string("\0B\x01\0S0\0NZ\0C", 11) + c.mask + std::string("\0D0\0S1", 6),
                       kT0);
        // The last scan of the second is out before the next one begins.
        std::string line =
            board->advance_to(kT0 + 1 + 0.999 / static_cast<double>(c.scans_per_second));
        size_t scan = 2 * c.channels.size();
        ASSERT_EQ(line.size(), c.scans_per_second * scan);
        ASSERT_EQ(heard.samples.size(), c.scans_per_second * c.channels.size());
        for (size_t i = 0; i < line.size(); i += 2) {
            auto first = static_cast<uint8_t>(line[i]);
            EXPECT_EQ(first & 1, i % scan == 0 ? 0 : 1) << i;
            auto [ch, value] = heard.samples[i / 2];
            EXPECT_EQ(ch, c.channels[(i % scan) / 2]);
            EXPECT_EQ(acquisition::dataq::sample_of(first, static_cast<uint8_t>(line[i + 1])),
                      value);
        }
        board->receive(std::string("\0S0", 3), kT0 + 1);
        EXPECT_EQ(board->advance_to(kT0 + 2), "");
    }
}

TEST(SimDataq, UnpluggedSendsNothingAndResumesAtTheReplug) {
    Heard heard;
    auto board = instrument("DATAQ", heard);
    board->receive(std::string("\0C1\0S1", 6), kT0);
    EXPECT_EQ(board->advance_to(kT0 + 1.003).size(), 480u);
    board->set_connected(false);
    EXPECT_EQ(board->advance_to(kT0 + 5), "");
    board->set_connected(true);
    EXPECT_EQ(board->advance_to(kT0 + 6.003).size(), 480u);
}

// A UART sends a byte at a time: at 4800 baud a byte every 1/480 s, the line full with one
// channel at 240 scans a second.
TEST(SimDataq, BytesGoOutAtTheLinesRate) {
    Heard heard;
    auto board = instrument("DATAQ", heard);
    board->receive(std::string("\0C1\0S1", 6), kT0);
    const double byte = 1.0 / 480;
    const double first = kT0 + 1.0 / 240;  // the first tick after the start
    EXPECT_EQ(board->advance_to(first - byte / 2).size(), 0u);
    EXPECT_EQ(board->advance_to(first + byte / 2).size(), 1u);
    EXPECT_NEAR(board->next_send_time(), first + byte, 1e-9);
    EXPECT_EQ(board->advance_to(first + 10.5 * byte).size(), 10u);
}

}  // namespace
}  // namespace velkantor::sim
