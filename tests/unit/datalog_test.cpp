#include <gtest/gtest.h>

#include "config/settings_file.h"
#include "datalog/datalog_reader.h"
#include "datalog/datalog_writer.h"
#include "platform/fake/memory_file_system.h"

namespace velkantor::datalog {
namespace {

TEST(DatalogNames, Fields) {
    EXPECT_EQ(DatalogFileName({2026, 12, 5, 16, 15, 0, 0}, 20, 'N', 0), "20261205_161500_0020N.LG0");
    EXPECT_EQ(RateField(100), "0100");
    EXPECT_EQ(RateField(0.5), "00.5");
    EXPECT_EQ(RateField(1200), "1200");
    EXPECT_EQ(RotationMinutes(2), 15);
    EXPECT_EQ(RotationMinutes(9), 15);

    auto parsed = ParseDatalogName("20261205_161500_0020L.LG3");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->rate, 20);
    EXPECT_EQ(parsed->lock, 'L');
    EXPECT_EQ(parsed->channel, 3);
    EXPECT_EQ(parsed->start_epoch, text::to_epoch_seconds({2026, 12, 5, 16, 15, 0, 0}));
    for (const char* foreign : {"20261205_161500_0020L.LG4", "20261305_161500_0020L.LG0",
                                "evtfile.dat", "20261205_161500_0000L.LG0",
                                "20261205-161500_0020L.LG0", "20261205_161500_0020L.LG01"}) {
        EXPECT_FALSE(ParseDatalogName(foreign)) << foreign;
    }
}

class DatalogTest : public ::testing::Test {
protected:
    platform::MemoryFileSystem fs;
    config::Settings settings;
    DatalogWriter writer{fs, "/s/datalog"};
    std::vector<std::string> failures;
    std::function<void(int, const std::string&)> report = [this](int, const std::string& what) {
        failures.push_back(what);
    };

    void SetUp() override {
        config::SetDefaultConfiguration(settings, "/s");
        fs.create_directories("/s/datalog");
        settings.channels[0].datalog_enabled = 1;
    }
    DatalogWriter::Second second(int h, int m, int s, double rate = 20) {
        DatalogWriter::Second sec;
        sec.board_time = {2026, 12, 5, h, m, s, 0};
        sec.rates.fill(rate);
        return sec;
    }
    std::string data(const std::string& name) { return fs.contents("/s/datalog/" + name); }
};

TEST_F(DatalogTest, ByteFormsBySampleWidth) {
    struct Case {
        int16_t ad_type;
        int32_t value;
        std::string bytes;
    };
    const Case cases[] = {
        {0, -1, std::string("\xFF\xFF", 2)},
        {1, -1, std::string("\xFF\xFF\xFF\xFF", 4)},
        {0, 300, std::string("\x2C\x01", 2)},
        {5, 8388607, std::string("\xFF\xFF\x7F\x00", 4)},
    };
    for (const auto& c : cases) {
        writer.start(c.ad_type);
        writer.AppendDatalogSample(0, c.value);
        writer.DatalogFlush(second(12, 7, 31), settings, report);
        EXPECT_EQ(data(writer.file_name(0)), c.bytes) << c.value;
    }
}

TEST_F(DatalogTest, OneSecondAtMostAndRotationOnTheBoundary) {
    writer.start(0);
    for (int i = 0; i < 21; ++i) writer.AppendDatalogSample(0, i);  // 42 bytes at 20 per second
    writer.DatalogFlush(second(12, 14, 59), settings, report);
    std::string first = writer.file_name(0);
    EXPECT_EQ(first, "20261205_121459_0020N.LG0");
    EXPECT_EQ(data(first).size(), 40u);
    for (int i = 0; i < 20; ++i) writer.AppendDatalogSample(0, i);
    writer.DatalogFlush(second(12, 15, 0), settings, report);
    EXPECT_EQ(data(first).size(), 80u) << "the boundary second still goes to the old file";
    EXPECT_EQ(writer.file_name(0), "20261205_121500_0020N.LG0");
    EXPECT_TRUE(fs.exists("/s/datalog/20261205_121500_0020N.LG0"));
    EXPECT_TRUE(failures.empty());
}

TEST_F(DatalogTest, StopWritesTheLastPartialSecond) {
    writer.start(0);
    writer.AppendDatalogSample(0, 1);
    writer.DatalogFlush(second(12, 0, 1), settings, report);
    for (int i = 0; i < 7; ++i) writer.AppendDatalogSample(0, i);
    writer.stop(settings, report);
    EXPECT_EQ(data(writer.file_name(0)).size(), 16u);
}

// A second that could not be written is lost, and only that one: the seconds after it start
// a file of their own rather than taking its place in the old one.
TEST_F(DatalogTest, FullDiskLosesThatSecondOnly) {
    writer.start(0);
    writer.AppendDatalogSample(0, 1);
    writer.DatalogFlush(second(12, 0, 1, 1), settings, report);
    std::string first = writer.file_name(0);
    fs.set_full(true);
    writer.AppendDatalogSample(0, 2);
    writer.DatalogFlush(second(12, 0, 2, 1), settings, report);
    fs.set_full(false);
    writer.AppendDatalogSample(0, 3);
    writer.DatalogFlush(second(12, 0, 3, 1), settings, report);
    writer.AppendDatalogSample(0, 4);
    writer.DatalogFlush(second(12, 0, 4, 1), settings, report);
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(data(first), std::string("\x01\x00", 2));
    EXPECT_EQ(writer.file_name(0).substr(0, 15), "20261205_120002");
    EXPECT_EQ(data(writer.file_name(0)), std::string("\x03\x00\x04\x00", 4));
}

TEST_F(DatalogTest, ReaderPlacesSamplesByTimeAndMarksGaps) {
    // Two files at 10 per second: 12:00:00 with 2 s (locked), 12:00:05 with 1 s (unlocked).
    std::string a;
    for (int i = 0; i < 20; ++i) a += std::string{static_cast<char>(i), 0};
    fs.put("/s/datalog/20261205_120000_0010L.LG0", a);
    std::string b;
    for (int i = 0; i < 10; ++i) b += std::string{static_cast<char>(-i), static_cast<char>(-1)};
    fs.put("/s/datalog/20261205_120005_0010N.LG0", b);
    fs.put("/s/datalog/20261205_120005_0010N.LG1", "xx");
    fs.put("/s/datalog/junk.LG0", "zzzz");
    DatalogReader reader(fs, "/s/datalog", 2);
    ASSERT_EQ(reader.files(0).size(), 2u);

    double t = text::to_epoch_seconds({2026, 12, 5, 11, 59, 59, 0});
    auto run = reader.read(0, t, 80);
    ASSERT_EQ(run.values.size(), 80u);
    EXPECT_EQ(run.sources[0], SampleSource::missing);   // before any file
    EXPECT_EQ(run.sources[10], SampleSource::locked);   // 12:00:00.0
    EXPECT_EQ(run.values[15], 5);
    EXPECT_EQ(run.sources[30], SampleSource::past_end); // 12:00:02, the first file ended
    EXPECT_EQ(run.sources[60], SampleSource::unlocked); // 12:00:05
    EXPECT_EQ(run.values[61], -1);
    EXPECT_EQ(run.sources[70], SampleSource::past_end);
    EXPECT_FALSE(run.rate_mismatch);

    fs.put("/s/datalog/20261205_120010_0020N.LG0", "");
    EXPECT_TRUE(reader.read(0, t, 200).rate_mismatch);
}

TEST_F(DatalogTest, ReaderSurvivesOddFiles) {
    fs.put("/s/datalog/20261205_120000_0010L.LG0", "\x01");  // half a sample
    DatalogReader reader(fs, "/s/datalog", 2);
    auto run = reader.read(0, text::to_epoch_seconds({2026, 12, 5, 12, 0, 0, 0}), 5);
    EXPECT_EQ(run.values, std::vector<int32_t>(5, 0));
    EXPECT_EQ(run.sources[0], SampleSource::past_end);
    EXPECT_TRUE(DatalogReader(fs, "/nowhere", 2).files(0).empty());
}

}  // namespace
}  // namespace velkantor::datalog
