#include "events/event_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>

#include "config/settings_file.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/virtual_clock.h"
#include "support/wire_text.h"
#include "text/date_time.h"

namespace velkantor::events {
namespace {

std::string golden(const std::string& name) {
    std::ifstream in(std::string(VELKANTOR_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using velkantor::testing::crlf_lines;

struct Printed : platform::Printer {
    std::vector<std::string> lines;
    int pages = 0;
    void print_line(std::string_view text, std::string_view font) override {
        lines.emplace_back(text);
        EXPECT_EQ(font, "Courier New");
    }
    void end_page() override { ++pages; }
};

class EventFilesTest : public ::testing::Test {
protected:
    platform::MemoryFileSystem fs;
    platform::VirtualClock clock{{2026, 3, 1, 12, 0, 0, 0}};
    config::Settings settings;
    runtime::RunState run;
    Detector detector;
    diagnostics::BoundedLog log{fs, clock, "/s/evtfile.dat", "Event list exceeded 64k cleared."};
    std::vector<std::string> errors;
    std::vector<std::string> closed;
    Printed printer;
    std::unique_ptr<EventFiles> files;
    double start = text::to_epoch_seconds({2026, 3, 1, 11, 58, 1, 0});

    void SetUp() override {
        config::SetDefaultConfiguration(settings, "/s");
        EXPECT_TRUE(fs.create_directories("/s/events"));
        for (auto& c : settings.channels) c.sps_index = 15;
        run.configured_rate.fill(100);
        run.ring_count.fill(runtime::kPreEventRingLength);  // long past START
        files = std::make_unique<EventFiles>(EventFiles::Environment{
            fs, settings, run, detector, log,
            [this](int, double epoch) {
                return HeaderFacts{text::format_datetime(text::from_epoch_seconds(epoch)), 100, "N",
                                   "DCF", "ZEDA V.1.81"};
            },
            [this](int, const std::string& what) { errors.push_back(what); }, nullptr,
            [this](int, const runtime::EventSummary& event) {
                closed.push_back(EventLogLine(event));
            },
            nullptr, &printer, nullptr});
    }
    std::string file(const std::string& name) { return fs.contents("/s/events/" + name); }
};

TEST_F(EventFilesTest, PsnTextHeaderGolden) {
    settings.channels[1].resolution = 0.25;
    settings.channels[1].sensor_type = 1;
    settings.channels[1].measure_unit = 3;
    std::string header =
        PsnTextHeader(settings, 1, {"2026/03/01 11:58:01", 100, "N", "DCF", "ZEDA V.1.81"});
    EXPECT_EQ(header, golden("event_psn_text_header.txt"));
    EXPECT_EQ(header.find(kCountPlaceholder), 93u);
    auto lines = crlf_lines(header);
    ASSERT_EQ(lines.size(), 29u);
    EXPECT_EQ(lines[4], "Lock Indicator: NL");
    EXPECT_EQ(lines[13], "Sensor Latitude: 0.0N");
    EXPECT_EQ(lines[14], "Sensor Longitude:  0.0E");
    EXPECT_EQ(lines[21], "Sensor Sensitivity:  0.25");
}

TEST_F(EventFilesTest, PsnTextLinesThatDependOnTheSettings) {
    struct Case {
        int16_t ad_type;
        const char* lock;
        double rate;
        size_t line;
        const char* expected;
    };
    const Case cases[] = {
        {1, "L", 100, 4, "Lock Indicator: L"},       {1, "N", 5, 3, "SPS: 05"},
        {5, "N", 100, 7, "A/D Converter Bits: 24 "}, {5, "N", 100, 9, "Data Maximum: +8388607"},
        {0, "N", 100, 8, "Data Minimum: -32768"},    {1, "N", 100, 9, "Data Maximum: 131071"},
    };
    for (const auto& c : cases) {
        settings.general.ad_type = c.ad_type;
        auto lines = crlf_lines(
            PsnTextHeader(settings, 0, {"2026/03/01 11:58:01", c.rate, c.lock, "GPS", "x"}));
        EXPECT_EQ(lines[c.line], c.expected);
    }
}

TEST_F(EventFilesTest, AsciiHeaderGolden) {
    settings.general.location = "A very long station name";
    settings.general.coordinates = "45.123N 9.456E";
    settings.general.elevation = "250";
    std::string header = AsciiHeader(settings, 2, {"2026/03/01 11:58:01", 100, "L", "GPS", "x"});
    EXPECT_EQ(header, golden("event_ascii_header.txt"));
    EXPECT_EQ(header.find(kCountPlaceholder), 24u);
}

TEST_F(EventFilesTest, CountForms) {
    EXPECT_EQ(PsnCountText(1234), "      1234");
    EXPECT_EQ(AsciiCountText(1234), "0000001234");
    EXPECT_EQ(SampleText(-56), "-56");
    EXPECT_EQ(SampleText(0), " 0");
    // The sample lines are the same text, each with its CR LF, at the ends of the range too.
    std::string lines;
    for (int32_t v : {0, -56, 8388607, INT32_MIN, INT32_MAX}) AppendSampleLine(lines, v);
    EXPECT_EQ(lines, " 0\r\n-56\r\n 8388607\r\n-2147483648\r\n 2147483647\r\n");
}

TEST_F(EventFilesTest, PreEventSkipAlignsToTheWholeSecond) {
    EXPECT_EQ(PreEventSkip(100, 0.45), 54);
    EXPECT_EQ(PreEventSkip(5, 0.6), 0);
    EXPECT_EQ(PreEventSkip(100, 0.99), 0);
    EXPECT_EQ(PreEventSkip(100, 0), 99);
}

TEST_F(EventFilesTest, AnEventWithItsPreEventSamplesOldestFirst) {
    auto& channel = settings.channels[0];
    channel.pre_event_samples = 200;
    // The ring after 250 samples valued 1..250: position 51 holds the oldest (51).
    for (int32_t v = 1; v <= 250; ++v) run.ring_at(0, (v - 1) % 200 + 1) = v;
    run.ring_position[0] = 51;
    run.sample_fraction[0] = 0.45;  // the newest sample sits at .45 s: 54 are skipped
    files->event_started(0, start);
    for (int32_t v = 251; v <= 260; ++v) files->event_sample(0, v);
    files->flush();
    detector.channel(0).max_ratio = 4.25;
    detector.channel(0).max_half_wave_peak = 3120.5;
    files->event_stopped(0);

    std::string name = "20260301_115801.CH1";
    auto lines = crlf_lines(file(name));
    ASSERT_EQ(lines.size(), 29u + 146 + 10);
    EXPECT_EQ(lines[2], "Number of Samples:        156 ");
    EXPECT_EQ(lines[29], " 105");  // 51 + 54 skipped
    EXPECT_EQ(lines[29 + 145], " 250");
    EXPECT_EQ(lines.back(), " 260");
    auto summary = name + " 2026/03/01 11:58:01 L:00000156 Max SLTA:4.2 Max Amplit:003120";
    EXPECT_EQ(closed, std::vector<std::string>{summary});
    EXPECT_NE(fs.contents("/s/evtfile.dat").find(summary), std::string::npos);
    EXPECT_TRUE(printer.lines.empty()) << "printing is off by default";
}

// Which ring entries an event takes and its start second, with a full ring and with one that
// START or a board restart emptied less than a pre-event length ago. The full pre-event
// (2 s at 100 per second here) would start at second 1000.
TEST(PreEventPlan, OnlyRecordedSamplesFromTheirFirstWholeSecond) {
    struct Case {
        const char* what;
        int32_t position, length;
        double recorded, rate, fraction;
        PreEventPart expected;
    };
    const Case cases[] = {
        {"full ring", 51, 200, 250, 100, 0.45, {51, 200, 54, 1000}},
        {"just full", 1, 200, 200, 100, 0.45, {1, 200, 54, 1000}},
        // Missing only samples that the alignment drops anyway: as with a full ring.
        {"ten missing", 191, 200, 190, 100, 0.45, {1, 190, 44, 1000}},
        {"oldest at S-0.54", 101, 200, 100, 100, 0.45, {1, 100, 54, 1001}},
        {"oldest on the whole second", 47, 200, 46, 100, 0.45, {1, 46, 0, 1001}},
        {"only the trigger sample, at .000", 2, 200, 1, 100, 0, {1, 1, 0, 1001}},
        {"run began 1.3 s before a .99 trigger", 131, 400, 130, 100, 0.99, {1, 130, 30, 1003}},
        // Below 10 per second nothing is dropped; the start is the first whole second at or
        // after the oldest sample, as with a full ring.
        {"5 per second, oldest on a second", 5, 10, 4, 5, 0.6, {1, 4, 0, 1001}},
        {"5 per second, full", 3, 10, 12, 5, 0.6, {3, 10, 0, 1000}},
        {"no pre-event", 1, 0, 70, 100, 0.45, {1, 0, 54, 1000}},
    };
    for (const auto& c : cases) {
        auto part = PlanPreEvent(c.position, c.length, c.recorded, c.rate, c.fraction, 1000);
        EXPECT_EQ(part.oldest, c.expected.oldest) << c.what;
        EXPECT_EQ(part.stored, c.expected.stored) << c.what;
        EXPECT_EQ(part.skip, c.expected.skip) << c.what;
        EXPECT_EQ(part.start_epoch, c.expected.start_epoch) << c.what;
    }
}

TEST_F(EventFilesTest, AnEventSoonAfterStartHoldsOnlyRecordedSamples) {
    settings.channels[0].pre_event_samples = 200;
    // 100 samples valued 1..100 since START, the newest at .45 s: the oldest is at .55 s of
    // the second before, so the event starts one second later than a full pre-event would.
    for (int32_t v = 1; v <= 100; ++v) run.ring_at(0, v) = v;
    run.ring_position[0] = 101;
    run.ring_count[0] = 100;
    run.sample_fraction[0] = 0.45;
    files->event_started(0, start);
    files->event_stopped(0);

    std::string name = "20260301_115802.CH1";
    auto lines = crlf_lines(file(name));
    ASSERT_EQ(lines.size(), 29u + 46) << "no zeros from the empty part of the ring";
    EXPECT_EQ(lines[1], "Start Time: 2026/03/01 11:58:02.000 ");
    EXPECT_EQ(lines[2], "Number of Samples:         46 ");
    EXPECT_EQ(lines[29], " 55");
    EXPECT_EQ(lines.back(), " 100");
    EXPECT_EQ(files->start_text(0), "2026/03/01 11:58:02");
}

TEST_F(EventFilesTest, AsciiLayoutCountAndPrintedPage) {
    settings.general.event_format = 3;
    settings.general.print_quake = 1;
    settings.channels[1].pre_event_samples = 0;
    files->event_started(1, start);
    for (int i = 0; i < 1234; ++i) files->event_sample(1, i % 7 - 3);
    files->event_stopped(1);
    std::string bytes = file("20260301_115801.CH2");
    EXPECT_EQ(bytes.substr(24, 10), "0000001234");
    EXPECT_EQ(crlf_lines(bytes).size(), 1235u);
    EXPECT_EQ(printer.lines.size(), 1u);
    EXPECT_EQ(printer.pages, 1);
}

TEST_F(EventFilesTest, StopDuringAnEventFinishesTheFile) {
    settings.channels[0].pre_event_samples = 0;
    files->event_started(0, start);
    for (int i = 0; i < 7; ++i) files->event_sample(0, i);
    files->close_at_stop(0);
    std::string bytes = file("20260301_115801.CH1");
    EXPECT_EQ(bytes.find(kCountPlaceholder), std::string::npos);
    EXPECT_EQ(crlf_lines(bytes)[2], "Number of Samples:          7 ");
    EXPECT_TRUE(closed.empty()) << "no command files at STOP";
    EXPECT_NE(fs.contents("/s/evtfile.dat").find("L:00000007"), std::string::npos);
}

TEST_F(EventFilesTest, FullDiskEndsTheEventWithAConsistentCount) {
    settings.channels[0].pre_event_samples = 0;
    files->event_started(0, start);
    for (int i = 0; i < 5; ++i) files->event_sample(0, i);
    files->flush();
    fs.set_full(true);
    for (int i = 0; i < 5; ++i) files->event_sample(0, i);
    files->flush();
    fs.set_full(false);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_FALSE(files->is_open(0));
    std::string bytes = file("20260301_115801.CH1");
    EXPECT_EQ(crlf_lines(bytes).size(), 29u + 5);
    EXPECT_EQ(crlf_lines(bytes)[2], "Number of Samples:          5 ");

    files->event_started(0, start + 60);
    EXPECT_TRUE(files->is_open(0)) << "the next event records again";
}

// Two events that start in the same second (a short event and the next trigger, a restart)
// each keep their own file, and the event log names each one.
TEST_F(EventFilesTest, AnEventNeverReplacesAnExistingFile) {
    settings.channels[0].pre_event_samples = 0;
    EXPECT_TRUE(fs.write_file("/s/events/20260301_115801.CH1", "a file from before\r\n"));
    for (int value : {11, 22, 33}) {
        files->event_started(0, start);
        files->event_sample(0, value);
        files->event_stopped(0);
    }
    EXPECT_EQ(file("20260301_115801.CH1"), "a file from before\r\n");
    const std::pair<const char*, const char*> recorded[] = {{"20260301_115801_2.CH1", " 11"},
                                                            {"20260301_115801_3.CH1", " 22"},
                                                            {"20260301_115801_4.CH1", " 33"}};
    ASSERT_EQ(closed.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        auto [name, line] = recorded[i];
        EXPECT_EQ(crlf_lines(file(name)).back(), line) << name;
        EXPECT_EQ(closed[i].rfind(std::string(name) + " 2026/03/01 11:58:01 L:00000001", 0), 0u)
            << closed[i];
    }
}

TEST_F(EventFilesTest, MissingEventsFolderIsReportedNotFatal) {
    settings.general.events_folder = "/nowhere";
    files->event_started(0, start);
    files->event_sample(0, 1);
    files->event_stopped(0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("/nowhere"), std::string::npos);
    EXPECT_TRUE(closed.empty());
}

TEST_F(EventFilesTest, UnsupportedFormatIsWrittenAsPsnTextWithANotice) {
    settings.general.event_format = 2;
    files->event_started(0, start);
    files->event_stopped(0);
    EXPECT_EQ(file("20260301_115801.CH1").rfind("! PSN ASCII Event File Format 2.0 \r\n", 0), 0u);
    EXPECT_NE(fs.contents("/s/evtfile.dat").find("Event format not supported"), std::string::npos);
}

}  // namespace
}  // namespace velkantor::events
