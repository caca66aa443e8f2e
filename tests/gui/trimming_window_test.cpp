#include "gui/trimming_window.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "text/number_text.h"
#include "timekeeping/clock_trim.h"
#include "unit/timekeeping_station.h"

namespace velkantor::testing {
namespace {

using timekeeping::ClockTrim;

// A running ZEDA station at 100 samples per second with the trimming window open. The test
// hands the board clock its synchronised seconds and says how many channel-1 samples came.
struct TrimmingRig : RunningStation {
    TrimmingRig() {
        rig.station.run().configured_rate = {100, 100, 0, 0};
        window.show();
        rig.op.shown.clear();
        heard.clear();
    }

    void sync_at(double seconds_after_noon, double samples_total) {
        rig.station.run().channel0_sample_total = samples_total;
        text::DateTime t = text::from_epoch_seconds(
            text::to_epoch_seconds({2026, 3, 1, 12, 0, 0, 0}) + seconds_after_noon);
        ASSERT_TRUE(feed(frame9(t.year, t.month, t.day, t.hour, t.minute, t.second, 0x20)));
        t = text::from_epoch_seconds(text::to_epoch_seconds(t) + 1);
        ASSERT_TRUE(feed(frame9(t.year, t.month, t.day, t.hour, t.minute, t.second)));
    }
    template <typename T>
    T* find(const char* name) {
        auto* widget = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    std::string text(const char* name) { return find<QLineEdit>(name)->text().toStdString(); }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    std::vector<std::string> sent() const {
        std::vector<std::string> out;
        for (const auto& [at, b] : heard) out.push_back(b);
        return out;
    }

    gui::TrimmingWindow window{rig.station};
};

TEST(TrimmingWindow, ShowsTheMeasurementAndWritesTheRecordItCallsFor) {
    struct Case {
        double samples;  // in the 3,600 s between the two synchronisations
        std::string trim;
        std::string record;
        std::string manual;
        std::string written;
    };
    const std::vector<Case> cases = {
        {360050, "7200", "20 1C 00", "XX 20 1C 00 01 XX XX XX XX",
         bytes({0x85, 0x20, 0x1C, 0x00, 0x01, 0})},
        {359950, "-7200", "E0 E3 FF", "XX E0 E3 FF 00 XX XX XX XX",
         bytes({0x85, 0xE0, 0xE3, 0xFF, 0x00, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.samples);
        TrimmingRig t;
        t.sync_at(0, 1000);
        t.window.refresh();
        EXPECT_EQ(t.text("txt_first_timing"), "2026/03/01 11:59:59");
        EXPECT_EQ(t.text("txt_trim"), "Wait...");
        t.sync_at(3600, 1000 + c.samples);
        t.window.refresh();
        EXPECT_EQ(t.text("txt_first_timing"), "2026/03/01 11:59:59");
        EXPECT_EQ(t.text("txt_last_timing"), "2026/03/01 12:59:59");
        EXPECT_EQ(t.text("txt_samples"), text::shortest_real(c.samples));
        EXPECT_EQ(t.text("txt_interval"), "3600");
        EXPECT_EQ(t.text("txt_trim"), c.trim);
        EXPECT_EQ(t.text("txt_record"), c.record);
        EXPECT_EQ(t.text("txt_manual_trim"), c.manual);

        t.click("set_trim_data");
        EXPECT_EQ(t.sent(), std::vector<std::string>{c.written});
        EXPECT_TRUE(t.rig.op.shown.empty());
    }
}

TEST(TrimmingWindow, ButtonsAndTheirPreconditions) {
    struct Case {
        bool running;
        const char* button;
        const char* typed;    // into the record field first (nullptr: nothing typed)
        std::string written;  // empty: nothing
        std::string message;  // empty: none
        std::string field_after;
    };
    const std::vector<Case> cases = {
        {true, "cmd_manual_trim", "XX 12 34 56 01 XX XX XX XX",
         bytes({0x85, 0x12, 0x34, 0x56, 0x01, 0}), ClockTrim::kCheckSettings,
         "XX 12 34 56 01 XX XX XX XX"},
        // The record can be written by hand while acquisition is stopped.
        {false, "cmd_manual_trim", "XX ab cd ef 00", bytes({0x85, 0xAB, 0xCD, 0xEF, 0x00, 0}),
         ClockTrim::kCheckSettings, "XX ab cd ef 00"},
        {true, "nulltrimm", nullptr, bytes({0x85, 0xFF, 0xFF, 0xFF, 0x02, 0}), "",
         "XX FF FF FF 02 XX XX XX XX"},
        {true, "eeread", nullptr, bytes({0x86, 0, 0, 0, 0, 0}), "", ""},
        {false, "eeread", nullptr, "", ClockTrim::kNeedsRun, ""},
        {false, "set_trim_data", nullptr, "", ClockTrim::kNeedsRun, ""},
        {false, "nulltrimm", nullptr, "", ClockTrim::kNeedsRun, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + (c.running ? " running" : " stopped"));
        TrimmingRig t;
        if (!c.running) t.rig.station.run().acquisition_running = 0;
        if (c.typed) QTest::keyClicks(t.find<QLineEdit>("txt_manual_trim"), c.typed);
        t.click(c.button);
        EXPECT_EQ(t.sent(), c.written.empty() ? std::vector<std::string>{}
                                              : std::vector<std::string>{c.written});
        if (c.message.empty()) {
            EXPECT_TRUE(t.rig.op.shown.empty());
        } else {
            ASSERT_EQ(t.rig.op.shown.size(), 1u);
            EXPECT_EQ(t.rig.op.shown[0].text, c.message);
        }
        EXPECT_EQ(t.text("txt_manual_trim"), c.field_after);
    }
}

TEST(TrimmingWindow, KnownErrorGivesTheRecord) {
    struct Case {
        const char* entry;
        const char* field_after;
        const char* record;
    };
    const std::vector<Case> cases = {
        {"1", "1", "XX 80 51 01 01 XX XX XX XX"},
        {"-2", "-2", "XX 40 57 FF 00 XX XX XX XX"},
        {"0", "0", "XX FF FF FF 01 XX XX XX XX"},
        {"abc", "0", "XX FF FF FF 01 XX XX XX XX"},
        {"1e9", "86400", "XX 01 00 00 01 XX XX XX XX"},
        {"-1e9", "-86400", "XX FF FF FF 00 XX XX XX XX"},
    };
    TrimmingRig t;
    auto* error = t.find<QLineEdit>("txt_error");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        error->setText(c.entry);
        QTest::keyClick(error, Qt::Key_Return);
        EXPECT_EQ(t.text("txt_error"), c.field_after);
        EXPECT_EQ(t.text("txt_manual_trim"), c.record);
    }
    EXPECT_TRUE(t.heard.empty()) << "only Manual Trim writes the record";
}

// The replies come in the board's stream; the main loop hands them to the reading.
TEST(TrimmingWindow, ReadTrimDataFillsTheMemoryDisplay) {
    TrimmingRig t;
    t.click("eeread");
    std::string replies;
    for (int address = 0; address <= 8; ++address) replies += bytes({0x86, 0x10 + address, 0xF0});
    t.rig.port.deliver(replies + frame9(2026, 3, 1, 12, 0, 1));
    for (int i = 0; i < 20 && t.rig.port.bytes_waiting() > 0; ++i) t.rig.station.pass();
    t.window.refresh();
    EXPECT_EQ(t.text("txt_memory"), "101112131415161718");
    EXPECT_EQ(t.heard.size(), 9u) << "addresses 0 to 8";
}

TEST(TrimmingWindow, EachOpeningStartsAfreshAndTheTraceFollowsTheWindow) {
    TrimmingRig t;
    auto& trim = t.rig.station.clock_trim();
    t.sync_at(0, 1000);
    ASSERT_TRUE(trim.window_open());
    ASSERT_TRUE(t.rig.station.trace);
    t.rig.station.trace("startime(0)=2026/03/01 12:00:00 ad_timer$(0)=.000 xspsv=100");
    auto* list = t.find<QListWidget>("trace_list");
    ASSERT_EQ(list->count(), 1);

    // Its own Close button: without a window manager there is no title bar to close it.
    QTest::mouseClick(t.find<QPushButton>("cmd_close"), Qt::LeftButton);
    EXPECT_FALSE(t.window.isVisible());
    EXPECT_FALSE(trim.window_open());
    EXPECT_FALSE(t.rig.station.trace);
    t.sync_at(60, 7000);
    EXPECT_EQ(trim.display().last_timing, "2026/03/01 11:59:59") << "no measurement while closed";

    t.window.show();
    t.window.refresh();
    EXPECT_EQ(t.text("txt_first_timing"), "");
    t.sync_at(120, 13000);
    t.window.refresh();
    EXPECT_EQ(t.text("txt_first_timing"), "2026/03/01 12:01:59");

    // The list keeps the latest lines.
    t.rig.station.trace("first");
    for (int i = 0; i < gui::TrimmingWindow::kTraceLines; ++i) t.rig.station.trace("line");
    EXPECT_EQ(list->count(), gui::TrimmingWindow::kTraceLines);
    EXPECT_EQ(list->item(0)->text(), "line");
}

}  // namespace
}  // namespace velkantor::testing
