#include <gtest/gtest.h>

#include <algorithm>

#include "acquisition/zeda_driver.h"
#include "sim/zeda_board.h"
#include "support/station_rig.h"
#include "text/number_text.h"

namespace velkantor::testing {
namespace {

using acquisition::zeda::judge_version;

TEST(ZedaVersionTable, FirmwareTypeAndNotice) {
    struct Case {
        const char* version;
        int16_t selected;
        bool no_warn;
        const char* firmware;
        int16_t type;              // -1: unchanged
        const char* notice_start;  // "" for none
    };
    const Case cases[] = {
        {"V.0.01", 1, false, "ZEDA x.xx at 38400", -1, ""},
        {"V.1.30", 1, false, "1.30", -1, "A/D board version is V.1.30 it is obsolete.\r\n"},
        {"V.1.30", 1, true, "1.30", -1, ""},
        {"V.1.62", 0, false, "1.62", 0, ""},
        {"V.1.62", 1, false, "1.62", 0,
         "The A/D board connected is a 16 bit data board.\r\nRemember to check and SAVE this "
         "setting.\r\n"},
        {"V.1.81", 0, false, "1.81", 1,
         "The A/D board connected is a 18 bit data board.\r\nA/D interface type changed to "
         "ZEDA18\r\nRemember to check and SAVE this setting.\r\n"},
        {"V.2.10", 1, true, "2.10", 5, "The A/D board connected is a 24 bit data board."},
        {"V.3.00", 1, false, "3.00", 6, "The A/D board connected is a 16 channel board.\r\n"},
        {"V.1.70", 1, false, "1.xx", -1,
         "A/D board version is V.1.70 it is unknow\r\nbut seems to be a new version.\r\nAdvice: "
         "Update your Velkantor datalogging software in order to meet the new requirements of "
         "this A/D version."},
        {"V.1.20", 1, false, "1.xx", -1,
         "A/D board version is V.1.20 it is unknow.\r\nCould not support important "
         "features.\r\nAdvice: Update your A/D card firmware returning the AT90S2313 chip to the "
         "manufacturer."},
        {"V.1.70", 1, true, "1.xx", -1, ""},
    };
    for (const auto& c : cases) {
        auto verdict = judge_version(c.version, c.selected, c.no_warn, "38400");
        EXPECT_EQ(verdict.firmware_version, c.firmware) << c.version;
        EXPECT_EQ(verdict.ad_type, c.type) << c.version;
        if (*c.notice_start == '\0') {
            EXPECT_EQ(verdict.notice, "") << c.version;
        } else {
            EXPECT_EQ(verdict.notice.rfind(c.notice_start, 0), 0u)
                << c.version << " gave: " << verdict.notice;
        }
    }
}

class ZedaHandshake : public ::testing::Test {
protected:
    StationRig rig;
    sim::ZedaBoard* board = nullptr;

    void SetUp() override {
        rig.load();
        board = dynamic_cast<sim::ZedaBoard*>(&rig.attach_board());
        ASSERT_NE(board, nullptr);
    }
    // The board's memory at four addresses as 8 hexadecimal digits.
    std::string memory_hex(int first) const {
        std::string out;
        for (int a = first; a < first + 4; ++a)
            out += text::hex2(board->memory(static_cast<uint8_t>(a)));
        return out;
    }
    config::GeneralSettings& general() { return rig.station.settings().general; }
    bool logged(const std::string& message) const {
        auto log = rig.event_log_messages();
        return std::find(log.begin(), log.end(), message) != log.end();
    }
    bool started() {
        bool ok = rig.station.start();
        if (ok) {
            rig.stop();
        }
        return ok;
    }
};

TEST_F(ZedaHandshake, FirstRunRegistersTheBoard) {
    general().clock_trim_hex = "";
    ASSERT_TRUE(started());
    EXPECT_EQ(general().clock_trim_hex, memory_hex(1));
    EXPECT_EQ(general().board_serial, memory_hex(16));
    EXPECT_TRUE(logged("Startup INI inizialization. c/t:" + memory_hex(1) +
                       " s/n:" + memory_hex(16).substr(0, 4)));
    ASSERT_FALSE(rig.op.shown.empty());
    EXPECT_EQ(rig.op.shown[0].text, "Remember to check the SETUP\r\nand Apply and SAVE parameter.");
}

TEST_F(ZedaHandshake, UnregisteredBoardConfirmedOrNot) {
    rig.op.answers = {false};
    ASSERT_TRUE(started());
    ASSERT_FALSE(rig.op.shown.empty());
    EXPECT_EQ(rig.op.shown[0].title, "Serial number mismatch");
    EXPECT_EQ(general().board_serial, "FFFFFFFF");  // No: nothing registered
    EXPECT_EQ(general().clock_trim_hex, "FFFFFFFF");

    rig.op.answers = {true};
    ASSERT_TRUE(started());
    EXPECT_EQ(general().board_serial, memory_hex(16));
    EXPECT_EQ(general().clock_trim_hex, memory_hex(1));
    EXPECT_TRUE(logged("s/n:" + memory_hex(16).substr(0, 4) + " is now operative"));
    EXPECT_EQ(rig.op.shown.back().title, "New a/d board");
}

TEST_F(ZedaHandshake, AlteredTrimmingOfTheRegisteredBoardIsWrittenBack) {
    general().board_serial = memory_hex(16);
    general().clock_trim_hex = "0A0B0C0D";
    std::string altered = memory_hex(1);
    ASSERT_NE(altered, "0A0B0C0D");
    ASSERT_TRUE(started());
    EXPECT_TRUE(logged("Clock trimming found altered (" + altered + ")."));
    EXPECT_TRUE(logged("Clock trimming corrected to: 0A0B0C0D"));
    EXPECT_EQ(memory_hex(1), "0A0B0C0D");
    EXPECT_TRUE(rig.op.shown.empty()) << "no question for the registered board";
}

TEST_F(ZedaHandshake, EighteenBitBoardChangesTheSelectedType) {
    general().ad_type = config::kZeda10;
    rig.op.answers = {false};
    ASSERT_TRUE(started());
    EXPECT_EQ(general().ad_type, config::kZeda18);
    EXPECT_EQ(rig.op.shown.back().kind, "warning");
    EXPECT_EQ(rig.op.shown.back().text,
              "The A/D board connected is a 18 bit data board.\r\nA/D interface type changed to "
              "ZEDA18\r\nRemember to check and SAVE this setting.\r\n");
    EXPECT_EQ(rig.station.run().clip_upper, 131070);
}

TEST_F(ZedaHandshake, TheVersionTableWinsOverTheSelectedType) {
    general().ad_type = config::kZeda20;
    general().autostart = 1;
    rig.op.answers = {false};
    // V181 makes the type ZEDA18 before the check, so the check passes: the table wins.
    ASSERT_TRUE(started());
    EXPECT_EQ(general().ad_type, config::kZeda18);
}

TEST_F(ZedaHandshake, BoardClockSetFromThePcOneSecondApart) {
    general().set_board_time_at_start = 1;
    general().gmt_offset = -2;
    std::vector<std::pair<double, std::string>> heard;
    board->recorder = [&](const sim::LineRecord& r) {
        if (!r.from_board) heard.emplace_back(r.time, r.bytes);
    };
    rig.op.answers = {false};
    auto pc = rig.clock.now();
    ASSERT_TRUE(rig.station.start());
    auto at = [&](uint8_t type) {
        for (auto& [time, bytes] : heard) {
            if (bytes.size() == 6 && static_cast<uint8_t>(bytes[0]) == type) return time;
        }
        return -1.0;
    };
    double set_time = at(0x83);
    ASSERT_GT(set_time, 0);
    EXPECT_NEAR(at(0x82) - set_time, 1.0, 0.01);
    EXPECT_NEAR(at(0x87) - set_time, 2.0, 0.01);
    auto tz = std::find_if(heard.begin(), heard.end(), [](auto& h) {
        return static_cast<uint8_t>(h.second[0]) == 0x82 && h.second.size() == 6;
    });
    EXPECT_EQ(tz->second, std::string("\x82\xFE\xFE\xFE\xFE\xFE"));
    auto log = rig.event_log_messages();
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [&](auto& m) {
                               return m.rfind("Time adjusted at startup to pc time: " +
                                                  text::format_date(pc),
                                              0) == 0;
                           }),
              log.end());
}

}  // namespace
}  // namespace velkantor::testing

namespace velkantor::testing {
namespace {

// Firmware "V170" on a station set for the 18-bit board: the unknown-version warning, then
// the refusal, with autostart cleared and the port closed.
TEST(ZedaHandshakeRefusal, UnknownFirmwareIsNotAnEighteenBitBoard) {
    StationRig rig;
    rig.load();
    sim::BoardOptions options;
    options.version = "V170";
    rig.attach_board(options);
    rig.station.settings().general.autostart = 1;
    rig.op.answers = {false};
    EXPECT_FALSE(rig.station.start());
    ASSERT_GE(rig.op.shown.size(), 2u);
    EXPECT_EQ(rig.op.shown[rig.op.shown.size() - 2].text.rfind(
                  "A/D board version is V.1.70 it is unknow\r\nbut seems to be a new version.", 0),
              0u);
    EXPECT_EQ(rig.op.shown.back().text,
              "The A/D interface is not a 18 bit data\r\nas selected in SETUP - A/D "
              "Interface.\r\nCheck the board type.\r\n");
    EXPECT_EQ(rig.station.settings().general.autostart, 0);
    EXPECT_FALSE(rig.port.is_open());
}

// Each ZEDA board's frames reach the consumers as the board's values.
TEST(ZedaFamilyRun, EveryModelDeliversItsValues) {
    struct Case {
        const char* model;
        int16_t ad_type;
    };
    for (const auto& c : {Case{"ZEDA10", config::kZeda10}, Case{"ZEDA20", config::kZeda20},
                          Case{"ZEDA30", config::kZeda30}}) {
        SCOPED_TRACE(c.model);
        StationRig rig;
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = c.ad_type;
        for (auto& ch : settings.channels) ch.sps_index = 15;
        settings.channels[3].sps_index = c.ad_type == config::kZeda20 ? 0 : 15;
        sim::BoardOptions options;
        options.model = c.model;
        auto& board = rig.attach_board(options);
        std::vector<std::pair<int, int32_t>> sent;
        board.sample_listener = [&](int ch, double, int32_t v) { sent.emplace_back(ch, v); };
        struct Taken : runtime::SampleConsumers {
            std::vector<std::pair<int, int32_t>> values;
            const runtime::RunState* run = nullptr;
            void trigger_and_record(int ch, int32_t) override {
                values.emplace_back(ch, run->raw_sample[static_cast<size_t>(ch)]);
            }
        } taken;
        taken.run = &rig.station.run();
        rig.station.set_consumers(&taken);
        rig.op.answers = {false};
        ASSERT_TRUE(rig.host.run_for(10));
        ASSERT_GT(taken.values.size(), 2000u);
        ASSERT_GE(sent.size(), taken.values.size());
        for (size_t i = 0; i < taken.values.size(); ++i) ASSERT_EQ(taken.values[i], sent[i]) << i;
        EXPECT_EQ(rig.station.run().bad_frames, 0);
    }
}

}  // namespace
}  // namespace velkantor::testing

namespace velkantor::testing {
namespace {

// A rate whose code the firmware cannot read refuses the start after the handshake: the
// board is never started, autostart is cleared, the port closed and the run left through
// the common exit. A rate it can read starts the board with its code.
TEST(ZedaRateRefusal, RatesTheFirmwareCannotRunAreRefused) {
    // Indexes of the rate list: 5, 10, 100, 240, 300, 1200.
    constexpr int k5 = 6, k10 = 7, k100 = 15, k240 = 18, k300 = 19, k1200 = 24;
    struct Case {
        const char* model;
        const char* version;
        int16_t ad_type;
        std::array<int, 4> sps_index;
        std::string refusal;  // empty: started
        std::array<uint8_t, 4> codes;
    };
    const std::vector<Case> cases = {
        {"ZEDA18",
         "V181",
         config::kZeda18,
         {k100, k300, 0, 0},
         "Channel 2 it's set to 300 SPS\r\nThis value is not allowed with the A/D board firmware "
         "V.1.81.",
         {}},
        {"ZEDA10",
         "V162",
         config::kZeda10,
         {k100, 0, 0, k1200},
         "Channel 4 it's set to 1200 SPS\r\nThis value is not allowed with the A/D board firmware "
         "V.1.62.",
         {}},
        {"ZEDA20",
         "V210",
         config::kZeda20,
         {k5, k5, k5, 0},
         "Channel 1 it's set to 5 SPS\r\nThis value is not allowed with the A/D board firmware "
         "V.2.10.",
         {}},
        {"ZEDA30",
         "V300",
         config::kZeda30,
         {k240, k240, k240, k240},
         "Channel 2 it's set to 240 SPS\r\nThis value is not allowed with the A/D board firmware "
         "V.3.00.",
         {}},
        {"ZEDA20", "V210", config::kZeda20, {k10, k10, k10, 0}, "", {240, 240, 240, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.version);
        StationRig rig;
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = c.ad_type;
        settings.general.autostart = 1;
        for (size_t ch = 0; ch < 4; ++ch) settings.channels[ch].sps_index = c.sps_index[ch];
        sim::BoardOptions options;
        options.model = c.model;
        options.version = c.version;
        auto& board = dynamic_cast<sim::ZedaBoard&>(rig.attach_board(options));
        rig.op.answers = {false};          // the board is not registered as the operative one
        ASSERT_TRUE(rig.host.run_for(5));  // the handshake passes; the start block refuses
        EXPECT_FALSE(rig.station.in_run());
        EXPECT_EQ(board.rate_codes(), c.codes);
        if (c.refusal.empty()) {
            EXPECT_FALSE(rig.station.refused());
            for (const auto& shown : rig.op.shown) EXPECT_NE(shown.title, "Error") << shown.text;
            continue;
        }
        ASSERT_FALSE(rig.op.shown.empty());
        EXPECT_EQ(rig.op.shown.back().title, "Error");
        EXPECT_EQ(rig.op.shown.back().text, c.refusal);
        EXPECT_FALSE(board.streaming());
        EXPECT_TRUE(rig.station.refused());
        EXPECT_EQ(settings.general.autostart, 0);
        EXPECT_FALSE(rig.port.is_open());
    }
}

}  // namespace
}  // namespace velkantor::testing
