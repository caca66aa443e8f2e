#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/number_text.h"
#include "timekeeping/clock_trim.h"
#include "timekeeping_station.h"

namespace velkantor::testing {
namespace {

using timekeeping::ClockTrim;

TEST(TrimRecord, WholeValuesAndKnownErrors) {
    struct Case {
        int64_t value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {7200, "XX 20 1C 00 01 XX XX XX XX"},      {-7200, "XX E0 E3 FF 00 XX XX XX XX"},
        {86400, "XX 80 51 01 01 XX XX XX XX"},     {-43200, "XX 40 57 FF 00 XX XX XX XX"},
        {20000000, "XX FF FF FF 01 XX XX XX XX"},   // capped at 16,777,215
        {-20000000, "XX 01 00 00 00 XX XX XX XX"},  // -16,777,215
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timekeeping::trim_record_text(timekeeping::trim_record(c.value)), c.text)
            << c.value;
    }

    const std::vector<std::pair<double, int64_t>> errors = {
        {1, 86400}, {-2, -43200}, {0, 16777215}, {7, 12343}, {0.001, 16777215}, {-0.004, -16777215},
    };
    for (auto [error, trim] : errors) EXPECT_EQ(timekeeping::trim_from_error(error), trim) << error;
}

TEST(TrimRecord, ManualTextReadBack) {
    using timekeeping::TrimRecord;
    const std::vector<std::pair<std::string, std::optional<TrimRecord>>> cases = {
        {"XX 20 1C 00 01 XX XX XX XX", TrimRecord{0x20, 0x1C, 0x00, 0x01}},
        {"XX  e0 e3  ff 0", TrimRecord{0xE0, 0xE3, 0xFF, 0x00}},
        {"XX 20 1C 00", std::nullopt},
        {"XX 20 1G 00 01", std::nullopt},
        {"XX 120 1C 00 01", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, record] : cases) {
        EXPECT_EQ(timekeeping::parse_trim_record_text(text), record) << text;
    }
}

// A station at 100 samples per second with the trimming window open; the test hands the
// board clock its synchronised seconds and says how many channel-1 samples came between.
struct TrimStation : RunningStation {
    TrimStation() {
        rig.station.run().configured_rate = {100, 100, 0, 0};
        trim().open_window();
    }
    ClockTrim& trim() { return rig.station.clock_trim(); }
    void sync_at(double seconds_after_noon, double samples_total) {
        rig.station.run().channel0_sample_total = samples_total;
        text::DateTime t = text::from_epoch_seconds(text::to_epoch_seconds({2026, 3, 1, 12, 0, 0}) +
                                                    seconds_after_noon);
        ASSERT_TRUE(feed(frame9(t.year, t.month, t.day, t.hour, t.minute, t.second, 0x20)));
        // The flag must fall before the next synchronisation counts.
        t = text::from_epoch_seconds(text::to_epoch_seconds(t) + 1);
        ASSERT_TRUE(feed(frame9(t.year, t.month, t.day, t.hour, t.minute, t.second)));
    }
};

TEST(ClockTrim, MeasurementAgainstTheTimeReceiver) {
    struct Case {
        double samples;  // in the 3,600 s between two synchronisations
        std::string trim;
        std::string record;
        std::string manual;
    };
    const std::vector<Case> cases = {
        {360050, "7200", "20 1C 00", "XX 20 1C 00 01 XX XX XX XX"},
        {359950, "-7200", "E0 E3 FF", "XX E0 E3 FF 00 XX XX XX XX"},
        {360000, "Wait...", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.samples);
        TrimStation st;
        st.sync_at(0, 1000);
        EXPECT_EQ(st.trim().display().first_timing, "2026/03/01 11:59:59");
        EXPECT_EQ(st.trim().display().trim, "Wait...") << "no interval yet";
        st.sync_at(3600, 1000 + c.samples);
        const auto& d = st.trim().display();
        EXPECT_EQ(d.first_timing, "2026/03/01 11:59:59");
        EXPECT_EQ(d.last_timing, "2026/03/01 12:59:59");
        EXPECT_EQ(d.samples, text::shortest_real(c.samples));
        EXPECT_EQ(d.interval, "3600");
        EXPECT_EQ(d.trim, c.trim);
        EXPECT_EQ(d.record, c.record);
        EXPECT_EQ(d.manual_trim, c.manual);
    }
}

TEST(ClockTrim, NoMeasurementWhileTheWindowIsClosed) {
    TrimStation st;
    st.trim().close_window();
    st.sync_at(0, 1000);
    EXPECT_EQ(st.trim().display().first_timing, "");
}

TEST(ClockTrim, CommandsWriteTheRecord) {
    struct Case {
        std::function<bool(ClockTrim&)> press;
        std::string sent;
        std::string manual_after;
    };
    const std::vector<Case> cases = {
        {[](ClockTrim& t) {
             t.set_trim_value(7200);
             return t.set_trim_data();
         },
         bytes({0x85, 0x20, 0x1C, 0x00, 0x01, 0}), ""},
        {[](ClockTrim& t) {
             t.set_trim_value(-7200);
             return t.set_trim_data();
         },
         bytes({0x85, 0xE0, 0xE3, 0xFF, 0x00, 0}), ""},
        {[](ClockTrim& t) {
             t.set_trim_value(0);
             return t.set_trim_data();
         },
         bytes({0x85, 0, 0, 0, 0x02, 0}), ""},
        {[](ClockTrim& t) { return t.nulltrimm(); }, bytes({0x85, 0xFF, 0xFF, 0xFF, 0x02, 0}),
         "XX FF FF FF 02 XX XX XX XX"},
        {[](ClockTrim& t) {
             t.display().manual_trim = "XX 12 34 56 01 XX XX XX XX";
             return t.cmd_manual_trim();
         },
         bytes({0x85, 0x12, 0x34, 0x56, 0x01, 0}), "XX 12 34 56 01 XX XX XX XX"},
        {[](ClockTrim& t) {
             t.error_entered(1);
             return t.cmd_manual_trim();
         },
         bytes({0x85, 0x80, 0x51, 0x01, 0x01, 0}), "XX 80 51 01 01 XX XX XX XX"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        TrimStation st;
        EXPECT_TRUE(cases[i].press(st.trim()));
        ASSERT_EQ(st.heard.size(), 1u);
        EXPECT_EQ(st.heard[0].second, cases[i].sent);
        EXPECT_EQ(st.trim().display().manual_trim, cases[i].manual_after);
    }
}

TEST(ClockTrim, ManualTrimAsksForAReadBackAndRefusesASlip) {
    TrimStation st;
    st.trim().display().manual_trim = "XX 12 34 56 01 XX XX XX XX";
    st.rig.op.shown.clear();
    ASSERT_TRUE(st.trim().cmd_manual_trim());
    ASSERT_EQ(st.rig.op.shown.size(), 1u);
    EXPECT_EQ(st.rig.op.shown[0].text, "Check the settings reading the values.");

    st.heard.clear();
    st.trim().display().manual_trim = "XX 12 34";
    EXPECT_FALSE(st.trim().cmd_manual_trim());
    EXPECT_TRUE(st.heard.empty()) << "a malformed record never reaches the board";
}

TEST(ClockTrim, Preconditions) {
    struct Case {
        bool running;
        std::string firmware;
        std::function<bool(ClockTrim&)> press;
        std::string message;  // empty: allowed
    };
    auto eeread = [](ClockTrim& t) { return t.eeread(); };
    auto set = [](ClockTrim& t) { return t.set_trim_data(); };
    auto null = [](ClockTrim& t) { return t.nulltrimm(); };
    auto manual = [](ClockTrim& t) { return t.cmd_manual_trim(); };
    const std::vector<Case> cases = {
        {false, "1.81", eeread, ClockTrim::kNeedsRun},
        {false, "1.81", set, ClockTrim::kNeedsRun},
        {false, "1.81", null, ClockTrim::kNeedsRun},
        {false, "1.81", manual, ""},
        {true, "1.11", eeread, ClockTrim::kOldFirmware},
        {true, "1.xx", set, ClockTrim::kOldFirmware},
        {false, "ZEDA x.xx at 38400", manual, ClockTrim::kOldFirmware},
        {true, "1.30", null, ""},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::to_string(i) + " " + c.firmware);
        TrimStation st;
        st.trim().display().manual_trim = "XX FF FF FF 02 XX XX XX XX";
        // STOP pressed: the loop has not seen it yet, the port is still open.
        if (!c.running) st.rig.station.run().acquisition_running = 0;
        st.rig.station.run().firmware_version = c.firmware;
        st.rig.op.shown.clear();
        st.heard.clear();
        bool pressed = c.press(st.trim());
        EXPECT_EQ(pressed, c.message.empty());
        if (c.message.empty()) {
            EXPECT_FALSE(st.heard.empty());
        } else {
            ASSERT_EQ(st.rig.op.shown.size(), 1u);
            EXPECT_EQ(st.rig.op.shown[0].text, c.message);
            EXPECT_TRUE(st.heard.empty());
        }
    }
}

TEST(ClockTrim, MemoryReadGoesOnToAddressEight) {
    TrimStation st;
    // A reply nobody asked for changes nothing.
    st.trim().memory_read_reply(bytes({0x86, 0x11, 0xF0}));
    EXPECT_TRUE(st.heard.empty());

    ASSERT_TRUE(st.trim().eeread());
    for (int address = 0; address <= 8; ++address) {
        ASSERT_EQ(st.heard.size(), static_cast<size_t>(address + 1));
        EXPECT_EQ(st.heard.back().second, bytes({0x86, address, 0, 0, 0, 0}));
        st.trim().memory_read_reply(bytes({0x86, 0x10 + address, 0xF0}));
    }
    EXPECT_EQ(st.heard.size(), 9u) << "no request after address 8";
    EXPECT_EQ(st.trim().display().memory, "101112131415161718");
}

}  // namespace
}  // namespace velkantor::testing
