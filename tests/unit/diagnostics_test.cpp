#include <gtest/gtest.h>

#include "app/virtual_host.h"
#include "diagnostics/bounded_log.h"
#include "diagnostics/error_reporter.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/virtual_clock.h"

namespace velkantor {
namespace {

using diagnostics::BoundedLog;
using diagnostics::ErrorReporter;

struct LogCase {
    const char* name;
    const char* notice;
    size_t existing_bytes;
    bool cleared;
};

class BoundedLogTest : public ::testing::TestWithParam<LogCase> {};

TEST_P(BoundedLogTest, StartsAfreshOnlyPastTheLimit) {
    const auto& c = GetParam();
    platform::MemoryFileSystem fs;
    platform::VirtualClock clock({2026, 5, 4, 3, 2, 1, 0});
    EXPECT_TRUE(fs.create_directories("/s"));
    fs.put("/s/log", std::string(c.existing_bytes, 'x'));
    BoundedLog log(fs, clock, "/s/log", c.notice);
    ASSERT_TRUE(log.append("hello"));
    std::string expected_tail = "2026/05/04 03:02:01 hello\r\n";
    if (c.cleared) {
        EXPECT_EQ(fs.contents("/s/log"), std::string(c.notice) + "\r\n" + expected_tail);
    } else {
        EXPECT_EQ(fs.contents("/s/log"), std::string(c.existing_bytes, 'x') + expected_tail);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limit, BoundedLogTest,
    ::testing::Values(LogCase{"event_at_limit", "Event list exceeded 64k cleared.", 64000, false},
                      LogCase{"event_past", "Event list exceeded 64k cleared.", 64001, true},
                      LogCase{"time_past", "Time file exceeded 64k cleared.", 64001, true},
                      LogCase{"empty", "Time file exceeded 64k cleared.", 0, false}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(BoundedLog, FullDiskLosesOnlyTheLine) {
    platform::MemoryFileSystem fs;
    platform::VirtualClock clock;
    EXPECT_TRUE(fs.create_directories("/s"));
    BoundedLog log(fs, clock, "/s/log", "n");
    ASSERT_TRUE(log.append("one"));
    fs.set_full(true);
    EXPECT_FALSE(log.append("two"));
    fs.set_full(false);
    EXPECT_TRUE(log.append("three"));
    EXPECT_EQ(fs.contents("/s/log").find("two"), std::string::npos);
    EXPECT_NE(fs.contents("/s/log").find("three"), std::string::npos);
}

class RecordingList : public diagnostics::ErrorListView {
public:
    bool visible() const override { return shown; }
    void show() override {
        shown = true;
        ++show_calls;
    }
    void lines_changed(const std::deque<std::string>& l) override { lines = l; }
    bool shown = false;
    int show_calls = 0;
    std::deque<std::string> lines;
};

class ErrorReporterTest : public ::testing::Test {
protected:
    platform::VirtualClock clock{{2026, 7, 8, 9, 10, 11, 250}};
    app::VirtualHost host{clock};
    ErrorReporter reporter{clock, host};
    RecordingList list;
    void SetUp() override { reporter.set_view(&list); }
};

TEST_F(ErrorReporterTest, FormatsNumbersAndShowsTheList) {
    reporter.ReportError({6, "Overflow"}, 306, "START");
    ASSERT_EQ(list.lines.size(), 1u);
    EXPECT_EQ(list.lines[0], "Count: 1 / Error:6/Overflow / START / 306 / 09:10:11 2026/07/08");
    EXPECT_TRUE(list.shown);
    // The caller was held until the clock's second changed.
    EXPECT_EQ(clock.now().second, 12);
    EXPECT_EQ(clock.now().millisecond, 0);
}

TEST_F(ErrorReporterTest, AFailingLoopReportsAboutOncePerSecond) {
    double before = clock.epoch_seconds();
    for (int i = 0; i < 5; ++i) reporter.ReportError({11, "Division by zero"}, 310, "START");
    EXPECT_GE(clock.epoch_seconds() - before, 4.0);
    EXPECT_LE(clock.epoch_seconds() - before, 5.0);
    EXPECT_EQ(reporter.error_count(), 5);
}

TEST_F(ErrorReporterTest, KeepsTheFourteenNewestLines) {
    for (int i = 1; i <= 15; ++i) reporter.ReportError({5, "e" + std::to_string(i)}, 1, "X");
    ASSERT_EQ(list.lines.size(), 14u);
    EXPECT_NE(list.lines.front().find("/e2 "), std::string::npos);
    EXPECT_NE(list.lines.back().find("/e15 "), std::string::npos);
}

TEST_F(ErrorReporterTest, ClearListRestartsTheCount) {
    reporter.ReportError({5, "a"}, 1, "X");
    reporter.ReportError({5, "b"}, 1, "X");
    reporter.press_clear();
    EXPECT_TRUE(list.lines.empty());
    reporter.ReportError({5, "c"}, 1, "X");
    ASSERT_EQ(list.lines.size(), 1u);
    EXPECT_EQ(list.lines[0].rfind("Count: 1 /", 0), 0u);
}

TEST_F(ErrorReporterTest, ErrorNumberZeroAddsNoLineButStillWaits) {
    double before = clock.epoch_seconds();
    reporter.ReportError({0, ""}, 1, "X");
    EXPECT_TRUE(list.lines.empty());
    EXPECT_FALSE(list.shown);
    EXPECT_GT(clock.epoch_seconds(), before);
    EXPECT_EQ(reporter.error_count(), 1);
}

TEST_F(ErrorReporterTest, BreakHoldsTheCallerUntilContinue) {
    std::vector<std::string> logged;
    reporter.press_break([&](std::string_view t) { logged.emplace_back(t); });
    EXPECT_EQ(logged, std::vector<std::string>{"BREAK flow from ERRORS Window"});
    int holds = 0;
    host.on_hold = [&] {
        if (++holds == 3) reporter.press_continue();
    };
    reporter.ReportError({5, "x"}, 1, "X");
    EXPECT_EQ(holds, 3);
    EXPECT_EQ(reporter.error_flow(), ErrorReporter::kContinue);
}

TEST_F(ErrorReporterTest, ObjectRequiredEndsTheProgramInsteadOfListing) {
    std::string fatal;
    reporter.on_fatal = [&](const std::string& line) { fatal = line; };
    reporter.ReportError({424, "Object required"}, 3, "PANEL Load");
    EXPECT_NE(fatal.find("Error:424/Object required / PANEL Load / 3"), std::string::npos);
    EXPECT_TRUE(list.lines.empty());
}

}  // namespace
}  // namespace velkantor
