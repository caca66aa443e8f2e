#include "datalog/extraction.h"

#include <gtest/gtest.h>

#include "config/settings_file.h"
#include "platform/fake/memory_file_system.h"
#include "support/wire_text.h"

namespace velkantor::datalog {
namespace {

using velkantor::testing::crlf_lines;

class ExtractionTest : public ::testing::Test {
public:
    platform::MemoryFileSystem fs;
    ExtractRequest request;

    void SetUp() override {
        config::SetDefaultConfiguration(request.settings, "/s");
        request.settings.general.ad_type = config::kZeda10;         // 2-byte samples
        for (auto& c : request.settings.channels) c.sps_index = 7;  // 10 per second
        request.datalog_folder = "/s/datalog";
        request.events_folder = "/s/events";
        EXPECT_TRUE(fs.create_directories("/s/events"));
        EXPECT_TRUE(fs.create_directories("/s/datalog"));
        // Channel 1: 12:00:00 for 3 s locked, then nothing until 12:00:05 (unlocked, 2 s).
        std::string a, b;
        for (int i = 1; i <= 30; ++i) a += std::string{static_cast<char>(i), 0};
        for (int i = 1; i <= 20; ++i)
            b += std::string{static_cast<char>(-i), static_cast<char>(-1)};
        fs.put("/s/datalog/20261205_120000_0010L.LG0", a);
        fs.put("/s/datalog/20261205_120005_0010N.LG0", b);
        request.from = {2026, 12, 5, 12, 0, 1, 0};
        request.minutes = 0.1;  // 6 s: 12:00:01 .. 12:00:07
        request.channel_mask = 1;
    }
};

TEST_F(ExtractionTest, PeriodWithAGapInTheMiddle) {
    std::vector<double> progress;
    auto result = ExtractEventFile(fs, request, [&](double f) { progress.push_back(f); });
    ASSERT_EQ(result.files, std::vector<std::string>{"/s/events/20261205_120001.CH1"})
        << result.message;
    auto lines = crlf_lines(fs.contents(result.files[0]));
    ASSERT_EQ(lines.size(), 29u + 60);
    EXPECT_EQ(lines[1], "Start Time: 2026/12/05 12:00:01.000 ");
    EXPECT_EQ(lines[2], "Number of Samples:         60 ");
    EXPECT_EQ(lines[3], "SPS: 10");
    EXPECT_EQ(lines[4], "Lock Indicator: NL") << "one file of the period was not locked";
    EXPECT_EQ(lines[7], "A/D Converter Bits: 16 ");
    EXPECT_EQ(lines[27], "! Extract track /s/datalog - 2026/12/05 12:00:01 - 2026/12/05 12:00:07");
    EXPECT_EQ(lines[29], " 11");  // 12:00:01.0 is the 11th sample of the first file
    EXPECT_EQ(lines[29 + 19], " 30");
    EXPECT_EQ(lines[29 + 20], " 0");  // 12:00:03: past the first file's end
    EXPECT_EQ(lines[29 + 40], "-1");  // 12:00:05: the second file
    EXPECT_EQ(result.samples, 40);
    EXPECT_EQ(result.filled[0], 20) << "12:00:03 .. 12:00:05 has no data";
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
}

TEST_F(ExtractionTest, RefusalsAndMessages) {
    struct Case {
        const char* name;
        std::function<void(ExtractionTest&)> arrange;
        const char* message_start;
    };
    const Case cases[] = {
        {"rate", [](ExtractionTest& t) { t.request.settings.channels[0].sps_index = 9; },
         "Sampling rate mismatch. Extraction not possible."},
        {"nothing", [](ExtractionTest& t) { t.request.from = {2026, 12, 6, 0, 0, 0, 0}; },
         "No data has been extracted.\r\nCheck is the system have channel enabled to the datalog "
         "function."},
        {"exists", [](ExtractionTest& t) { t.fs.put("/s/events/20261205_120001.CH1", "old"); },
         "The event file /s/events/20261205_120001.CH1 exists already"},
    };
    for (const auto& c : cases) {
        fs = platform::MemoryFileSystem{};
        SetUp();
        c.arrange(*this);
        auto result = ExtractEventFile(fs, request);
        EXPECT_EQ(result.title, "Warning!") << c.name;
        EXPECT_EQ(result.message.rfind(c.message_start, 0), 0u) << c.name << ": " << result.message;
    }
    EXPECT_EQ(fs.contents("/s/events/20261205_120001.CH1"), "old");
    request.overwrite = true;
    EXPECT_EQ(ExtractEventFile(fs, request).files.size(), 1u);
}

TEST_F(ExtractionTest, AsciiLayoutCount) {
    request.settings.general.event_format = 3;
    auto result = ExtractEventFile(fs, request);
    ASSERT_EQ(result.files.size(), 1u);
    std::string bytes = fs.contents(result.files[0]);
    EXPECT_EQ(bytes.substr(24, 10), "0000000060");
}

}  // namespace
}  // namespace velkantor::datalog

#include <sstream>

#include "app/tools.h"

namespace velkantor::datalog {
namespace {

TEST_F(ExtractionTest, CommandLineToolWritesAndRefuses) {
    config::Settings settings;
    config::SetDefaultConfiguration(settings, "/s");
    for (auto& c : settings.channels) c.sps_index = 7;
    settings.general.ad_type = config::kZeda10;
    fs.put("/s/velkant.ini", config::ConfigurationText(settings));
    std::ostringstream out, err;
    std::vector<std::string> args = {"--station", "/s",  "--from",     "2026/12/05 12:00:01",
                                     "--minutes", "0.1", "--channels", "1"};
    EXPECT_EQ(app::run_extract_command(args, fs, out, err, false), 0) << err.str();
    EXPECT_EQ(out.str(), "/s/events/20261205_120001.CH1\n");
    std::ostringstream out2, err2;
    EXPECT_EQ(app::run_extract_command(args, fs, out2, err2, false), 1);
    EXPECT_NE(err2.str().find("exists already"), std::string::npos);
    std::ostringstream out3, err3;
    EXPECT_EQ(app::run_extract_command({"--from", "yesterday"}, fs, out3, err3, false), 2);
}

// The tool says what it filled in and fails when a file could not be finished.
TEST_F(ExtractionTest, CommandLineToolNamesFilledSamplesAndFailedWrites) {
    config::Settings settings;
    config::SetDefaultConfiguration(settings, "/s");
    for (auto& c : settings.channels) c.sps_index = 7;
    settings.general.ad_type = config::kZeda10;
    fs.put("/s/velkant.ini", config::ConfigurationText(settings));
    std::vector<std::string> args = {"--station",           "/s",        "--from",
                                     "2026/12/05 12:00:01", "--minutes", "0.1",
                                     "--channels",          "1",         "--overwrite"};
    std::ostringstream out, err;
    EXPECT_EQ(app::run_extract_command(args, fs, out, err, false), 0) << err.str();
    EXPECT_EQ(err.str(),
              "velkantor extract: channel 1: 20 samples are 0 because the datalog holds no data "
              "for their time\n");

    fs.set_write_at_fails(true);  // the count cannot be written into the header
    std::ostringstream out2, err2;
    EXPECT_EQ(app::run_extract_command(args, fs, out2, err2, false), 1);
    EXPECT_EQ(out2.str(), "");
    EXPECT_NE(err2.str().find("/s/events/20261205_120001.CH1 has no sample count"),
              std::string::npos)
        << err2.str();
}

}  // namespace
}  // namespace velkantor::datalog
