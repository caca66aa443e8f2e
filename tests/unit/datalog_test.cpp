#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "config/settings_file.h"
#include "datalog/datalog_reader.h"
#include "datalog/datalog_writer.h"
#include "platform/fake/memory_file_system.h"
#include "stream/datalog_export.h"

namespace velkantor::datalog {
namespace {

TEST(DatalogNames, Fields) {
    EXPECT_EQ(DatalogFileName({2026, 12, 5, 16, 15, 0, 0}, 20, 'N', 0),
              "20261205_161500_0020N.LG0");
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
    for (const char* foreign :
         {"20261205_161500_0020L.LG4", "20261305_161500_0020L.LG0", "evtfile.dat",
          "20261205_161500_0000L.LG0", "20261205-161500_0020L.LG0", "20261205_161500_0020L.LG01"}) {
        EXPECT_FALSE(ParseDatalogName(foreign)) << foreign;
    }
}

// A file of seconds that came again (the clock was set back) carries ".N" after the name;
// anything else after it is not a datalog name.
TEST(DatalogNames, FilesOfSecondsThatCameAgain) {
    struct Case {
        const char* name;
        int pass;  // 0: not a datalog name
    };
    const Case cases[] = {
        {"20261205_161500_0020L.LG3", 1},     {"20261205_161500_0020L.LG3.2", 2},
        {"20261205_161500_0020L.LG3.10", 10}, {"20261205_161500_0020L.LG3.", 0},
        {"20261205_161500_0020L.LG3.1", 0},   {"20261205_161500_0020L.LG3.02", 0},
        {"20261205_161500_0020L.LG3.2x", 0},  {"20261205_161500_0020L.LG3.2.3", 0},
        {"20261205_161500_0020L.LG3_2", 0},   {"20261205_161500_0020L.LG3.99999999999", 0},
        {"20261205_161500_0020X.LG3", 0},  // no such lock letter
        {"20261205_161500_1e+1L.LG3", 0},  // the writer's rate fields are digits and a point
    };
    for (const auto& c : cases) {
        auto parsed = ParseDatalogName(c.name);
        ASSERT_EQ(parsed.has_value(), c.pass != 0) << c.name;
        if (!parsed) continue;
        EXPECT_EQ(parsed->pass, c.pass) << c.name;
        EXPECT_EQ(parsed->name, c.name);
        EXPECT_EQ(parsed->channel, 3);
        EXPECT_EQ(parsed->start_epoch, text::to_epoch_seconds({2026, 12, 5, 16, 15, 0, 0}));
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
        EXPECT_TRUE(fs.create_directories("/s/datalog"));
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

// A second short of samples on a board that paces them exactly is filled in the file with
// its last sample (the file keeps its places) and noted beside it: the reader tells those
// samples, and the miniSEED export leaves them out as a gap instead of inventing data.
TEST_F(DatalogTest, FilledSamplesAreNotedAndNotExported) {
    writer.start(0);
    auto exact = [&](int s) {
        auto sec = second(12, 7, s);
        sec.exact_seconds = true;
        return sec;
    };
    writer.DatalogFlush(exact(0), settings, report);
    const int counts[] = {20, 17, 20, 18};  // seconds 0..3: 3 and 2 samples lost on the line
    int value = 0;
    for (int s = 0; s < 4; ++s) {
        for (int i = 0; i < counts[s]; ++i) writer.AppendDatalogSample(0, ++value);
        writer.DatalogFlush(exact(s + 1), settings, report);
    }
    ASSERT_TRUE(failures.empty());
    EXPECT_EQ(writer.filled()[0], 5);
    EXPECT_EQ(data(writer.file_name(0) + ".fil"), "37 3\r\n78 2\r\n");

    DatalogReader reader(fs, "/s/datalog", 2);
    const double from = text::to_epoch_seconds({2026, 12, 5, 12, 7, 0, 0});
    auto run = reader.read(0, from, 80, 20);
    ASSERT_EQ(run.values.size(), 80u);
    ASSERT_EQ(run.filled.size(), 80u);
    for (size_t k = 0; k < 80; ++k) {
        const bool invented = (k >= 37 && k < 40) || (k >= 78 && k < 80);
        EXPECT_EQ(run.filled[k], invented) << k;
    }

    stream::ExportRequest request;
    request.datalog_folder = "/s/datalog";
    request.codes.network = "XX";
    request.codes.station = "VELK";
    request.from_epoch = from;
    request.minutes = 4.0 / 60;
    settings.general.ad_type = 0;  // the 16-bit board the writer was started for
    auto exported = stream::ExportDatalog(fs, settings, request);
    EXPECT_EQ(exported.samples[0], 75);
    EXPECT_EQ(exported.gaps[0], 2);
}

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
        // Each case in a file of its own: a file already holding samples is never emptied.
        int s = 2 * static_cast<int>(&c - cases);
        writer.DatalogFlush(second(12, 7, s), settings, report);
        writer.AppendDatalogSample(0, c.value);
        writer.DatalogFlush(second(12, 7, s + 1), settings, report);
        EXPECT_EQ(data(writer.file_name(0)), c.bytes) << c.value;
    }
}

TEST_F(DatalogTest, OneSecondAtMostAndRotationOnTheBoundary) {
    writer.start(0);
    writer.DatalogFlush(second(12, 14, 58), settings, report);
    std::string first = writer.file_name(0);
    EXPECT_EQ(first, "20261205_121458_0020N.LG0")
        << "the run's first file begins at its first frame";
    for (int i = 0; i < 21; ++i) writer.AppendDatalogSample(0, i);  // 42 bytes at 20 per second
    writer.DatalogFlush(second(12, 14, 59), settings, report);
    EXPECT_EQ(data(first).size(), 40u);
    for (int i = 0; i < 20; ++i) writer.AppendDatalogSample(0, i);
    writer.DatalogFlush(second(12, 15, 0), settings, report);
    EXPECT_EQ(data(first).size(), 80u) << "the boundary second still goes to the old file";
    EXPECT_EQ(writer.file_name(0), "20261205_121500_0020N.LG0");
    EXPECT_TRUE(fs.exists("/s/datalog/20261205_121500_0020N.LG0"));
    EXPECT_TRUE(failures.empty());
}

// A second carries at most its rate in whole samples: a slow channel's one sample is never
// cut in half (that would shift every later sample of the file by a byte).
TEST_F(DatalogTest, SecondLimitIsWholeSamples) {
    struct Case {
        double rate;
        int sent;
        size_t bytes;
    };
    const Case cases[] = {{20, 21, 40}, {0.5, 1, 2}, {2.5, 4, 6}, {1, 1, 2}};
    int s = 0;
    for (const auto& c : cases) {
        writer.start(0);
        writer.DatalogFlush(second(12, 20, s, c.rate), settings, report);
        for (int i = 0; i < c.sent; ++i) writer.AppendDatalogSample(0, i);
        writer.DatalogFlush(second(12, 20, s + 1, c.rate), settings, report);
        EXPECT_EQ(data(writer.file_name(0)).size(), c.bytes) << c.rate;
        s += 2;
    }
}

TEST_F(DatalogTest, StopWritesTheLastPartialSecond) {
    writer.start(0);
    writer.AppendDatalogSample(0, 9);  // before the first frame: its second is not known
    writer.DatalogFlush(second(12, 0, 0), settings, report);
    writer.AppendDatalogSample(0, 1);
    writer.DatalogFlush(second(12, 0, 1), settings, report);
    for (int i = 0; i < 7; ++i) writer.AppendDatalogSample(0, i);
    writer.stop(settings, report);
    EXPECT_EQ(data("20261205_120000_0020N.LG0").size(), 16u);
}

// A second that could not be written is lost, and only that one: the seconds after it start
// a file of their own rather than taking its place in the old one.
TEST_F(DatalogTest, FullDiskLosesThatSecondOnly) {
    writer.start(0);
    writer.DatalogFlush(second(12, 0, 0, 1), settings, report);
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

// What the line does to a board's stream, second by second, and where the reader finds each
// sample afterwards. Every sample carries its true second and index, so a sample read back
// at another place shows.
TEST_F(DatalogTest, SamplesStayAtTheirSecondThroughLineFaults) {
    constexpr int kRate = 20;
    struct BoardSecond {
        int true_second;  // from 12:14:50
        int frame_says;   // the time its frame told (garbled or not)
        int samples = kRate;
        int cut_after = -1;  // the stream is cut after this many samples
        int skip = -1;       // this sample is lost on the line
    };
    struct Case {
        const char* what;
        std::vector<BoardSecond> seconds;
        int wrong;  // samples expected missing or out of place
    };
    auto steady = [](int from, int to) {
        std::vector<BoardSecond> s;
        for (int t = from; t < to; ++t) s.push_back({t, t});
        return s;
    };
    auto with = [](std::vector<BoardSecond> s, size_t i, BoardSecond changed) {
        s[i] = changed;
        return s;
    };
    auto join = [](std::vector<BoardSecond> a, const std::vector<BoardSecond>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {"steady across a boundary", steady(0, 16), 0},
        {"a lone garbled time", with(steady(0, 16), 5, {5, 5 + 50000}), 0},
        {"a garbled time on the boundary", with(steady(0, 16), 10, {10, 10 - 3600}), 0},
        {"a clock step forward", join(steady(0, 4), steady(9, 14)), 0},
        {"a restart: the head of the cut second is kept, its tail dropped",
         join(with(steady(0, 4), 3, {3, 3, kRate, 7}), join({{29, 29, 5}}, steady(30, 33))), 5},
        // Which sample of the second was lost is not known: the ones after it move up a
        // place and the last is repeated, but the seconds after it stay where they were.
        {"a sample lost on the line", with(steady(0, 5), 2, {2, 2, kRate, -1, 10}), 9},
    };
    const double base = text::to_epoch_seconds({2026, 12, 5, 12, 14, 50, 0});
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = "/s/case" + std::to_string(++n);
        EXPECT_TRUE(fs.create_directories(folder));
        DatalogWriter log(fs, folder);
        log.start(0);
        auto frame = [&](int says) {
            DatalogWriter::Second sec;
            sec.board_time = text::from_epoch_seconds(base + says);
            sec.rates.fill(kRate);
            sec.exact_seconds = true;
            log.DatalogFlush(sec, settings, report);
        };
        std::map<int, std::vector<int>> sent;  // true second -> values sent
        for (const auto& b : c.seconds) {
            // The tail of a second after a restart arrives before any frame of its own.
            bool tail = b.samples < kRate && &b != &c.seconds.front() && (&b - 1)->cut_after >= 0;
            if (!tail) frame(b.frame_says);
            for (int k = 0; k < b.samples; ++k) {
                int index = tail ? kRate - b.samples + k : k;
                int value = b.true_second * 100 + index;
                if (k == b.cut_after) break;
                sent[b.true_second].push_back(value);
                if (index == b.skip) continue;
                log.AppendDatalogSample(0, value);
            }
            if (b.cut_after >= 0) log.samples_interrupted(settings, report);
        }
        frame(c.seconds.back().frame_says + 1);

        DatalogReader reader(fs, folder, 2);
        auto run = reader.read(0, base, 40 * kRate, kRate);
        int wrong = 0;
        for (const auto& [t, values] : sent) {
            for (int value : values) {
                size_t at = static_cast<size_t>(t * kRate + value % 100);
                bool there = run.sources[at] != SampleSource::missing &&
                             run.sources[at] != SampleSource::past_end && run.values[at] == value;
                wrong += !there;
            }
        }
        EXPECT_EQ(wrong, c.wrong);
        for (const auto& file : reader.files(0)) {
            EXPECT_GE(file.start_epoch, base) << file.name;
            EXPECT_LE(file.start_epoch, base + 40) << file.name;
        }
        EXPECT_TRUE(failures.empty());
    }
}

// A clock set back over a boundary comes to that boundary's name again: the file written
// then keeps its samples.
TEST_F(DatalogTest, ClockSetBackDoesNotEmptyAFile) {
    writer.start(0);
    int s = 58;
    auto tick = [&](int minute, int sec) {
        for (int i = 0; i < 20; ++i) writer.AppendDatalogSample(0, s);
        writer.DatalogFlush(second(12, minute, sec), settings, report);
    };
    writer.DatalogFlush(second(12, 14, 58), settings, report);
    tick(14, 59);
    tick(15, 0);
    tick(15, 1);
    tick(15, 2);
    const std::string boundary = "20261205_121500_0020N.LG0";
    EXPECT_EQ(data(boundary).size(), 80u);
    tick(14, 59);  // the board set back three seconds
    tick(15, 0);
    tick(15, 1);
    tick(15, 2);
    EXPECT_GE(data(boundary).size(), 80u);
    EXPECT_TRUE(failures.empty());
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
    EXPECT_EQ(run.sources[0], SampleSource::missing);  // before any file
    EXPECT_EQ(run.sources[10], SampleSource::locked);  // 12:00:00.0
    EXPECT_EQ(run.values[15], 5);
    EXPECT_EQ(run.sources[30], SampleSource::past_end);  // 12:00:02, the first file ended
    EXPECT_EQ(run.sources[60], SampleSource::unlocked);  // 12:00:05
    EXPECT_EQ(run.values[61], -1);
    EXPECT_EQ(run.sources[70], SampleSource::past_end);
    EXPECT_FALSE(run.rate_mismatch);

    fs.put("/s/datalog/20261205_120010_0020N.LG0", "");
    EXPECT_TRUE(reader.read(0, t, 200).rate_mismatch);
}

// At 100 samples per second and today's epoch seconds, a run's time lands a hair before a
// file's first sample: each sample is still read once, at its place.
TEST_F(DatalogTest, ReaderReadsEachSampleOnceAcrossFileStarts) {
    auto samples = [](int count, int base) {
        std::string bytes;
        for (int i = 0; i < count; ++i) bytes += std::string{static_cast<char>(base + i), 0};
        return bytes;
    };
    fs.put("/s/datalog/20261211_003854_0100N.LG0", samples(672, 0));
    fs.put("/s/datalog/20261211_003902_0100N.LG0", samples(85, 100));
    DatalogReader reader(fs, "/s/datalog", 2);
    double t = text::to_epoch_seconds({2026, 12, 11, 0, 38, 54, 0});
    auto run = reader.read(0, t, 1000, 100);
    size_t real = 0;
    for (auto source : run.sources) real += source == SampleSource::unlocked;
    EXPECT_EQ(real, 672u + 85u);
    EXPECT_EQ(run.sources[799], SampleSource::past_end);
    EXPECT_EQ(run.values[800], 100);
    EXPECT_EQ(run.values[884], 184);
    EXPECT_EQ(run.sources[885], SampleSource::past_end);
}

// Files that hold the same seconds after the clock was set back, at one sample per second:
// each second is read from the first pass that holds it, and a pass cut short at the step
// hides nothing of the passes after it.
TEST_F(DatalogTest, ReaderTakesEachSecondFromTheFirstPassThatHoldsIt) {
    struct File {
        int start;  // seconds after 12:00:00
        int pass;   // 1: the name alone; N: ".N" after it
        int seconds;
    };
    struct Case {
        const char* what;
        std::vector<File> files;
        // From 11:59:58, a character a second: the letter of the file it is read from ('a'
        // the case's first file), '-' past a file's end, '.' before any file.
        std::string expected;
    };
    const Case cases[] = {
        {"the first pass cut short at the step, the rest of the period from .2",
         {{0, 1, 30}, {0, 2, 60}},
         ".." + std::string(30, 'a') + std::string(30, 'b') + "---"},
        {"a second pass begun inside the first one's span",
         {{0, 1, 40}, {25, 1, 20}},
         ".." + std::string(40, 'a') + std::string(5, 'b') + "---"},
        {"three passes, .10 after .9",
         {{0, 1, 5}, {0, 10, 30}, {0, 9, 15}},
         ".." + std::string(5, 'a') + std::string(10, 'c') + std::string(15, 'b') + "---"},
        {"a later pass shorter than the first: past the end of both",
         {{0, 1, 10}, {0, 2, 4}},
         ".." + std::string(10, 'a') + "-----"},
        {"a gap between files of the first pass stays a gap",
         {{0, 1, 5}, {10, 1, 5}, {10, 2, 3}},
         ".." + std::string(5, 'a') + "-----" + std::string(5, 'b') + "---"},
    };
    const double noon = text::to_epoch_seconds({2026, 12, 5, 12, 0, 0, 0});
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = "/s/passes" + std::to_string(++n);
        // Each sample tells its file and its second in that file.
        for (size_t f = 0; f < c.files.size(); ++f) {
            const File& file = c.files[f];
            std::string name =
                DatalogFileName(text::from_epoch_seconds(noon + file.start), 1, 'N', 0);
            if (file.pass > 1) name += "." + std::to_string(file.pass);
            std::string bytes;
            for (int k = 0; k < file.seconds; ++k) {
                auto value = static_cast<uint16_t>(f * 1000 + static_cast<size_t>(file.start + k));
                bytes += static_cast<char>(value & 0xFF);
                bytes += static_cast<char>(value >> 8);
            }
            fs.put(folder + "/" + name, bytes);
        }
        DatalogReader reader(fs, folder, 2);
        ASSERT_EQ(reader.files(0).size(), c.files.size());
        auto run = reader.read(0, noon - 2, c.expected.size(), 1);
        ASSERT_EQ(run.values.size(), c.expected.size());
        std::string got;
        for (size_t k = 0; k < run.values.size(); ++k) {
            switch (run.sources[k]) {
                case SampleSource::missing:
                    got += '.';
                    break;
                case SampleSource::past_end:
                    got += '-';
                    break;
                default: {
                    const int file = run.values[k] / 1000;
                    got += static_cast<char>('a' + file);
                    // The sample of that second, not another one of the file.
                    EXPECT_EQ(run.values[k] % 1000, static_cast<int>(k) - 2) << k;
                }
            }
        }
        EXPECT_EQ(got, c.expected);
    }
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
