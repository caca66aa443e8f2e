#include "acquisition/zeda_driver.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/memory_station.h"
#include "support/wire_text.h"

namespace velkantor::acquisition {
namespace {

using velkantor::testing::bytes;

struct DecodeCase {
    int16_t ad_type;
    std::string frame;
    int32_t expected;
};

TEST(ZedaDecode, WorkedExamples) {
    const DecodeCase cases[] = {
        {config::kZeda10, bytes({0x82, 0x00, 0x00, 0xF3}), -32640},
        {config::kZeda10, bytes({0x82, 0x7F, 0x7F, 0xF1}), 0x7FFF},
        {config::kZeda10, bytes({0x82, 0x01, 0x00, 0xF0}), 1},
        {config::kZeda18, bytes({0x83, 0x00, 0x00, 0xF8}), -131072},
        {config::kZeda18, bytes({0x83, 0x00, 0x00, 0xF4}), 65536},
        {config::kZeda18, bytes({0x83, 0x7F, 0x7F, 0xFF}), -1},
        {config::kZeda20, bytes({0x85, 0x7F, 0x7F, 0x7F, 0xF3}), 8388607},
        {config::kZeda20, bytes({0x85, 0x7F, 0x7F, 0x7F, 0xF7}), -1},
        {config::kZeda30, bytes({0x84, 0x00, 0x00, 0xF3}), -32640},
        // A frame cut short decodes its missing bytes as 0.
        {config::kZeda20, bytes({0x82, 0x00, 0x00, 0x00}), 0},
    };
    for (const auto& c : cases) {
        ZedaDriver driver(zeda_model(c.ad_type));
        EXPECT_EQ(driver.decode(c.frame, static_cast<uint8_t>(c.frame.back())), c.expected)
            << "type " << c.ad_type << " frame of " << c.frame.size() << " bytes";
    }
}

// Each firmware reads a rate code its own way; a rate its code cannot carry is refused
// with the channel, the rate and the firmware named.
TEST(ZedaRateCode, ByFirmwareDescription) {
    struct Case {
        const char* description;
        int channel;
        int rate;
        int code;
        const char* refusal;  // nullptr: started with `code`
    };
    auto refused = [](const char* description, int channel, int rate, const char* refusal) {
        return Case{description, channel, rate, 0, refusal};
    };
    const Case cases[] = {
        {"ZEDA V.1.62", 0, 1, 100, nullptr},  // a 1-per-second channel runs at 2 per second
        {"ZEDA V.1.81", 0, 100, 2, nullptr},
        {"ZEDA V.2.00", 0, 200, 1, nullptr},
        {"ZEDA V.3.00", 1, 50, 4, nullptr},
        {"ZEDA V.2.10", 0, 100, 24, nullptr},
        {"ZEDA V.2.10", 0, 1200, 2, nullptr},
        {"ZEDA V.2.10", 0, 10, 240, nullptr},  // the slowest the 2400-tick clock can carry
        {"ZEDA V.1.50", 0, 200, 1, nullptr},   // old boards count 200 as 100
        {"ZEDA V.1.50", 0, 50, 2, nullptr},
        {"ZEDA V.0.00", 0, 0, 0, nullptr},    // a channel that is off
        {"ZEDA V.1.65", 0, 100, 2, nullptr},  // an unlisted version samples as its series
        {"ZEDA V.2.15", 0, 100, 24, nullptr},
        // 200 ticks a second: above 200 the code would be 0, the channel off.
        refused("ZEDA V.1.81", 1, 300,
                "Channel 2 it's set to 300 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.1.81."),
        refused("ZEDA V.1.62", 3, 1200,
                "Channel 4 it's set to 1200 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.1.62."),
        refused("ZEDA V.2.00", 0, 240,
                "Channel 1 it's set to 240 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.2.00."),
        refused("ZEDA V.3.00", 1, 400,
                "Channel 2 it's set to 400 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.3.00."),
        // 100 ticks a second: 200 is counted as 100, but 120 leaves 0.
        refused("ZEDA V.1.50", 2, 120,
                "Channel 3 it's set to 120 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.1.50."),
        refused("ZEDA V.1.70", 0, 400,
                "Channel 1 it's set to 400 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.1.70."),
        // 2400 ticks a second: below 10 the code does not fit its byte.
        refused("ZEDA V.2.10", 2, 5,
                "Channel 3 it's set to 5 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.2.10."),
        refused("ZEDA V.2.10", 0, 1,
                "Channel 1 it's set to 1 SPS\r\nThis value is not allowed with the A/D board "
                "firmware V.2.10."),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.description) + " at " + std::to_string(c.rate));
        auto code = zeda::rate_code(c.description, config::kZeda10, c.channel, c.rate);
        EXPECT_EQ(code.refusal, c.refusal ? c.refusal : "");
        EXPECT_EQ(code.code, c.code);
    }
}

// A description that names no current firmware (the test firmware's "V.0.00", which a blind
// start without date keeping also gives) tells nothing of the board's clock: a ZEDA30 has
// one firmware and samples at 200 ticks a second whatever it answered, where the oldest
// boards' rule (100 ticks, 200 counted as 100) would run it at twice the rate every file
// says. Types whose firmwares differ keep the rule of what the board answered.
TEST(ZedaRateCode, ByBoardTypeWhenTheVersionTellsNothing) {
    struct Case {
        const char* description;
        int16_t ad_type;
        int rate;
        int code;
    };
    const Case cases[] = {
        {"ZEDA V.0.00", config::kZeda30, 50, 4},
        {"ZEDA V.0.00", config::kZeda30, 100, 2},
        {"ZEDA V.0.00", config::kZeda30, 5, 40},
        {"ZEDA V.0.01", config::kZeda30, 10, 20},
        {"ZEDA V.9.99", config::kZeda30, 25, 8},  // a version no row or series knows
        {"ZEDA V.3.00", config::kZeda30, 50, 4},
        {"ZEDA V.0.00", config::kZeda18, 100, 2},  // both ZEDA18 firmwares tick 200 times
        // ZEDA10 firmwares tick 100 or 200 times, ZEDA20 200 or 2400: the answer decides.
        {"ZEDA V.0.00", config::kZeda10, 50, 2},
        {"ZEDA V.0.00", config::kZeda10, 200, 1},
        {"ZEDA V.0.00", config::kZeda20, 50, 2},
        {"ZEDA V.1.62", config::kZeda10, 50, 4},
        {"ZEDA V.2.10", config::kZeda20, 100, 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.description) + " type " + std::to_string(c.ad_type) + " at " +
                     std::to_string(c.rate));
        auto code = zeda::rate_code(c.description, c.ad_type, 0, c.rate);
        EXPECT_EQ(code.refusal, "");
        EXPECT_EQ(code.code, c.code);
    }
}

TEST(ZedaVersion, Formatting) {
    EXPECT_EQ(zeda::format_version("V181"), "V.1.81");
    EXPECT_EQ(zeda::format_version("V0000"), "V.0.00");
    EXPECT_EQ(zeda::format_version("V"), "V");
}

// The clock and memory commands reach the board in its own form, before START too (the time
// window sets a stopped board); an instrument without a clock is sent nothing.
TEST(BoardCommands, EachBoardGetsItsOwnFormOrNothing) {
    struct Case {
        int16_t ad_type;
        bool has_commands;
    };
    const Case cases[] = {{config::kZeda10, true},       {config::kZeda18, true},
                          {config::kZeda20, true},       {config::kZeda30, true},
                          {config::kInfiltec, false},    {config::kLx1500, false},
                          {config::kDataqDi194rs, false}};
    for (const auto& c : cases) {
        platform::MemoryStation rig;
        rig.station.settings().general.ad_type = c.ad_type;
        ASSERT_TRUE(rig.port.open());
        auto& board = rig.station.board_commands();
        board.set_time(12, 34, 56);
        board.set_date(2026, 12, 11);
        board.set_time_zone(-2);
        board.write_trim({1, 2, 3, 4});
        board.read_memory(5);
        const std::string expected =
            c.has_commands ? zeda::set_time(12, 34, 56) + zeda::set_date(2026, 12, 11) +
                                 zeda::set_time_zone(-2) + zeda::trim_write({1, 2, 3, 4}) +
                                 zeda::memory_read(5)
                           : std::string();
        EXPECT_EQ(rig.port.written(), expected) << "type " << c.ad_type;
    }
    // A closed port is a failing statement, which the callers report.
    platform::MemoryStation closed;
    EXPECT_THROW(closed.station.board_commands().set_time(1, 2, 3), runtime::StepFailure);
}

}  // namespace
}  // namespace velkantor::acquisition
