#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "config/network_ini.h"
#include "datalog/datalog_writer.h"
#include "platform/fake/memory_file_system.h"
#include "stream/event_miniseed.h"
#include "stream/record_builder.h"
#include "stream/sds_archive.h"
#include "stream/stream_feed.h"
#include "stream/stream_settings.h"
#include "support/miniseed_reader.h"
#include "text/date_time.h"

namespace velkantor::stream {
namespace {

using testing::decode_record;

struct Collect : RecordSink {
    std::vector<MiniSeedRecord> records;
    void record(const MiniSeedRecord& r) override { records.push_back(r); }
};

constexpr MicroTime kSecond = 1000000;
const MicroTime kNoon =
    static_cast<MicroTime>(text::to_epoch_seconds({2026, 3, 1, 12, 0, 0, 0})) * kSecond;

std::vector<int32_t> ramp(int from, int count) {
    std::vector<int32_t> v;
    for (int i = 0; i < count; ++i)
        v.push_back(static_cast<int32_t>(((from + i) * 7919) % 4001 - 2000));
    return v;
}

// What the records say, sample by sample: (time in µs, value).
std::vector<std::pair<MicroTime, int32_t>> samples_of(const std::vector<MiniSeedRecord>& records) {
    std::vector<std::pair<MicroTime, int32_t>> out;
    for (const auto& r : records) {
        auto d = decode_record(r.bytes);
        EXPECT_EQ(d.values.size(), static_cast<size_t>(r.samples));
        EXPECT_EQ(d.start, r.start);
        for (size_t k = 0; k < d.values.size(); ++k) out.emplace_back(d.time_of(k), d.values[k]);
    }
    return out;
}

// Seconds of samples fed to a builder: each with its start second (from noon), the count at
// 100 samples/s, whether it continues the one before, and the clock's lock.
struct Second {
    int at;
    int count;
    bool continues;
    bool locked = false;
};

struct BuilderCase {
    const char* name;
    std::vector<Second> seconds;
    // Segments expected in the records: (start second from noon, samples), in order; a record
    // never holds samples of two segments.
    std::vector<std::pair<double, int>> segments;
};

TEST(RecordBuilder, RecordsHoldEverySampleAtItsTimeAndNeverSpanAGap) {
    const std::vector<BuilderCase> cases = {
        {"one long stretch",
         {{0, 100, false},
          {1, 100, true},
          {2, 100, true},
          {3, 100, true},
          {4, 100, true},
          {5, 100, true},
          {6, 100, true},
          {7, 100, true},
          {8, 100, true},
          {9, 100, true}},
         {{0, 1000}}},
        {"a second that never came",
         {{0, 100, false}, {1, 100, true}, {3, 100, false}},
         {{0, 200}, {3, 100}}},
        {"a short second ends its segment",
         {{0, 100, false}, {1, 60, true}, {2, 100, false}},
         {{0, 160}, {2, 100}}},
        {"the lock changes: new record, same segment",
         {{0, 100, false}, {1, 100, true, true}},
         {{0, 100}, {1, 100}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collect out;
        std::vector<std::pair<MicroTime, int32_t>> fed;
        {
            RecordBuilder builder({"XX", "VELK", "00", "HHZ"}, out);
            int n = 0;
            for (const auto& s : c.seconds) {
                auto values = ramp(n, s.count);
                for (int k = 0; k < s.count; ++k)
                    fed.emplace_back(kNoon + s.at * kSecond + k * 10000,
                                     values[static_cast<size_t>(k)]);
                n += s.count;
                builder.add(kNoon + s.at * kSecond, 100, s.locked, values, s.continues);
            }
        }  // the builder's end finishes the last record
        EXPECT_EQ(samples_of(out.records), fed);
        // Records in each expected segment, none across two.
        size_t segment = 0;
        int in_segment = 0;
        for (const auto& r : out.records) {
            ASSERT_LT(segment, c.segments.size());
            auto [start, count] = c.segments[segment];
            if (in_segment == 0) {
                EXPECT_EQ(r.start, kNoon + std::llround(start * 1e6));
            }
            in_segment += r.samples;
            ASSERT_LE(in_segment, count) << "a record spans a gap";
            if (in_segment == count) {
                ++segment;
                in_segment = 0;
            }
        }
        EXPECT_EQ(segment, c.segments.size());
    }
}

// Samples that come a second at a time fill their records: only the last one, finished at
// the end, may be part-filled (not one record in two, sent half-full at the latency).
TEST(RecordBuilder, SecondsFillTheirRecords) {
    Collect out;
    {
        RecordBuilder builder({"XX", "VELK", "", "HHZ"}, out);
        for (int s = 0; s < 120; ++s)
            builder.add(kNoon + s * kSecond, 100, false, ramp(s * 100, 100), s > 0);
    }
    ASSERT_GT(out.records.size(), 3u);
    int most = 0;
    for (const auto& r : out.records) most = std::max(most, r.samples);
    for (size_t i = 0; i + 1 < out.records.size(); ++i) {
        EXPECT_GT(out.records[i].samples, most * 9 / 10) << "record " << i;
    }
    auto fixed_header_number = [](const std::string& bytes) {
        return std::stoi(bytes.substr(0, 6));
    };
    for (size_t i = 0; i < out.records.size(); ++i) {
        EXPECT_EQ(fixed_header_number(out.records[i].bytes), static_cast<int>(i + 1))
            << "numbered as sent";
    }
}

TEST(RecordBuilder, HeaderFieldsFollowTheStreamAndTheClock) {
    Collect out;
    {
        RecordBuilder builder({"XX", "VELK", "", "BHN"}, out);
        builder.add(kNoon + 250000, 20, true, ramp(0, 20), false);  // a start within a second
        builder.flush();
        // Differences beyond Steim-2's 30 bits: packed with Steim-1, values intact.
        builder.add(0, 20, false, {-2000000000, 2000000000, -2000000000}, true);
    }
    ASSERT_EQ(out.records.size(), 2u);
    auto first = decode_record(out.records[0].bytes);
    EXPECT_EQ(first.network, "XX");
    EXPECT_EQ(first.station, "VELK");
    EXPECT_EQ(first.location, "");
    EXPECT_EQ(first.channel, "BHN");
    EXPECT_EQ(first.start, kNoon + 250000);
    EXPECT_EQ(first.rate, 20);
    EXPECT_EQ(first.encoding, DE_STEIM2);
    EXPECT_EQ(first.io_flags & 0x20, 0x20) << "clock locked";
    EXPECT_EQ(first.timing_quality, RecordBuilder::kLockedQuality);
    EXPECT_EQ(out.records[0].bytes.size(), 512u);
    auto second = decode_record(out.records[1].bytes);
    EXPECT_EQ(second.encoding, DE_STEIM1);
    EXPECT_EQ(second.start, kNoon + 250000 + 1000000) << "continues after 20 samples at 20/s";
    EXPECT_EQ(second.values, (std::vector<int32_t>{-2000000000, 2000000000, -2000000000}));
    EXPECT_EQ(second.io_flags & 0x20, 0);
    EXPECT_EQ(second.timing_quality, RecordBuilder::kFreeQuality);
}

// The feed: the latency sends a part-filled record, midnight ends a record, a cut ends one.
TEST(StreamFeed, LatencyMidnightAndCutsEndRecords) {
    config::Settings settings;
    settings.channels[0].sensor_axis = 3;
    StationCodes codes;
    Collect out;
    StreamFeed feed(codes, 5, settings);
    feed.add_output(&out);
    const double midnight = text::to_epoch_seconds({2026, 3, 2, 0, 0, 0, 0});
    // 1 sample/s: a record would take minutes to fill; the latency sends it after 5 s.
    for (int s = -8; s < 0; ++s) feed.samples(0, midnight + s, 1, 'N', {s}, s != -8);
    ASSERT_FALSE(out.records.empty());
    EXPECT_EQ(out.records[0].samples, 5);
    EXPECT_EQ(out.records[0].id.channel, "LHZ");
    size_t before = out.records.size();
    feed.samples(0, midnight, 1, 'N', {100}, true);
    ASSERT_EQ(out.records.size(), before + 1) << "the day's last samples are finished at midnight";
    EXPECT_LT(out.records.back().end, static_cast<MicroTime>(midnight) * kSecond);
    feed.cut();
    ASSERT_EQ(out.records.size(), before + 2);
    EXPECT_EQ(out.records.back().start, static_cast<MicroTime>(midnight) * kSecond);
    EXPECT_EQ(out.records.back().samples, 1);
    // A board gone silent: what is pending goes out after the latency of PC seconds.
    feed.samples(0, midnight + 1, 1, 'N', {5}, false);
    for (int s = 0; s < 4; ++s) feed.idle_second();
    EXPECT_EQ(out.records.size(), before + 2);
    feed.idle_second();
    ASSERT_EQ(out.records.size(), before + 3);
    EXPECT_EQ(out.records.back().samples, 1);
}

// An event file's samples as records: what a header announces and the sample lines hold, and
// a damaged file refused with its reason rather than cut to other values.
TEST(EventMiniSeed, SamplesOfTheFileOrTheReasonItIsRefused) {
    const std::string header = "2026/03/01 12:00:00.000      3   100.00 L 1\r\n";
    struct Case {
        const char* name;
        std::string file;
        std::vector<int32_t> samples;  // when read
        const char* error;             // part of the reason, when refused
    };
    const std::vector<Case> cases = {
        {"three samples", header + "12\r\n-7\r\n2147483647\r\n", {12, -7, 2147483647}, ""},
        {"a sample beyond 32 bits", header + "5\r\n-5000000000\r\n", {}, "out of range"},
        {"no samples", header, {}, "no samples"},
        {"no header", "5\r\n6\r\n", {}, "not an event file"},
    };
    const StreamId id{"XX", "VELK", "00", "HHZ"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto converted = EventFileToMiniSeed(c.file, id);
        if (*c.error) {
            EXPECT_NE(converted.error.find(c.error), std::string::npos) << converted.error;
            EXPECT_TRUE(converted.records.empty());
            continue;
        }
        ASSERT_EQ(converted.error, "");
        ASSERT_EQ(converted.records.size() % kRecordLength, 0u);
        std::vector<int32_t> read;
        for (size_t at = 0; at < converted.records.size(); at += kRecordLength) {
            auto d = decode_record(converted.records.substr(at, kRecordLength));
            read.insert(read.end(), d.values.begin(), d.values.end());
        }
        EXPECT_EQ(read, c.samples);
    }
}

TEST(StreamSettings, CodesAndDefaults) {
    // Axis: 0 none, 1 N, 2 E, 3 Z, 4 G. Sensor type: 0 unknown, 1 velocity, 3 acceleration.
    struct Case {
        double rate;
        std::array<int, 4> axes;
        std::array<int, 4> types;
        int ch;
        const char* code;  // "" = no valid SEED code is left
    };
    for (const auto& c : std::vector<Case>{
             {100, {3, 1, 2, 3}, {1, 1, 1, 1}, 0, "HHZ"},
             {200, {3, 1, 2, 3}, {0, 0, 0, 0}, 1, "HHN"},
             {20, {3, 1, 2, 3}, {1, 1, 1, 1}, 2, "BHE"},
             {1, {3, 1, 2, 3}, {1, 1, 1, 1}, 0, "LHZ"},
             {0.1, {3, 1, 2, 3}, {1, 1, 1, 1}, 0, "VHZ"},
             {1000, {3, 1, 2, 3}, {1, 1, 1, 1}, 0, "FHZ"},
             {100, {3, 1, 2, 3}, {3, 3, 3, 3}, 0, "HNZ"},  // an accelerometer
             {250, {3, 1, 2, 3}, {1, 3, 1, 1}, 1, "CNN"},
             {100, {3, 1, 2, 3}, {2, 2, 2, 2}, 2, "HHE"},  // displacement: a seismometer
             // Axes that are not N, E or Z take 1, 2, 3 in channel order; a fourth has none.
             {5, {3, 0, 0, 0}, {1, 1, 1, 1}, 3, "MH3"},
             {5, {3, 0, 4, 0}, {1, 1, 1, 1}, 1, "MH1"},
             {250, {4, 4, 4, 0}, {1, 1, 1, 1}, 1, "CH2"},
             {100, {0, 0, 0, 0}, {1, 1, 1, 1}, 3, ""},
             {100, {0, 4, 0, 3}, {1, 1, 1, 1}, 3, "HHZ"},
         }) {
        std::array<config::ChannelSettings, config::kChannels> channels{};
        for (size_t i = 0; i < 4; ++i) {
            channels[i].sensor_axis = static_cast<int16_t>(c.axes[i]);
            channels[i].sensor_type = static_cast<int16_t>(c.types[i]);
        }
        EXPECT_EQ(default_channel_code(c.rate, channels, c.ch), c.code)
            << c.rate << " channel " << c.ch + 1;
    }
}

TEST(StreamSettings, BadValuesAreNamedAndTurnTheirServiceOff) {
    struct Case {
        const char* text;
        bool seedlink;
        bool archive;
        bool codes_valid;
        const char* problem;  // part of the one message expected ("" = none)
    };
    const std::vector<Case> cases = {
        {"", false, false, true, ""},
        {"[station]\nnetwork = xx\nstation = velk1\nlocation = 00\nchannels = "
         "HHZ,,EHE\n[seedlink]\nlisten = 18000\n[archive]\nfolder = arc\n",
         true, true, true, ""},
        {"[seedlink]\nlisten = 127.0.0.1:99999\n", false, false, true,
         "[seedlink] listen (line 2)"},
        {"[seedlink]\nlisten = 18000\nclients = 2.5\n", false, false, true,
         "[seedlink] clients (line 3)"},
        {"[seedlink]\nlisten = 18000\nallow = 10.0.0.0/8, nonsense\n", false, false, true,
         "\"nonsense\""},
        {"[station]\nstation = TOOLONG\n[seedlink]\nlisten = 1\n", true, false, false,
         "[station] station (line 2)"},
        {"[station]\nchannels = HHZ,H\n", false, false, false, "(channel 2)"},
        {"[archive]\nfolder = a\nevent_mseed = yes\n", false, true, true,
         "[archive] event_mseed (line 3)"},
        {"[seedlink]\nlisten = 1\nlatncy = 5\n", true, false, true, "latncy (line 3): unknown key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> problems;
        auto s = ParseStreamSettings(config::IniFile::parse(c.text), problems);
        EXPECT_EQ(s.seedlink.enabled, c.seedlink);
        EXPECT_EQ(s.archive.enabled, c.archive);
        EXPECT_EQ(s.codes_valid, c.codes_valid);
        if (std::string(c.problem).empty()) {
            EXPECT_TRUE(problems.empty()) << problems.front();
        } else {
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
            EXPECT_EQ(problems[0].rfind("network.ini, ", 0), 0u) << problems[0];
        }
    }
    std::vector<std::string> problems;
    auto s = ParseStreamSettings(config::IniFile::parse(cases[1].text), problems);
    EXPECT_EQ(s.codes.network, "XX");
    EXPECT_EQ(s.codes.station, "VELK1");
    EXPECT_EQ(s.codes.channels[0], "HHZ");
    EXPECT_EQ(s.codes.channels[1], "");
    EXPECT_EQ(s.codes.channels[2], "EHE");
    EXPECT_EQ(s.seedlink.listen.address, "0.0.0.0");
    EXPECT_EQ(s.seedlink.listen.port, 18000);
}

TEST(NetworkIni, ListenAddressesAndClientNetworks) {
    struct Case {
        const char* text;
        const char* address;  // nullptr: refused
        int port;
    };
    for (auto c : std::vector<Case>{{"18000", "0.0.0.0", 18000},
                                    {"127.0.0.1:8080", "127.0.0.1", 8080},
                                    {"[::1]:18000", "::1", 18000},
                                    {"host:0", nullptr, 0},
                                    {"::1:18000", nullptr, 0},
                                    {"a:b", nullptr, 0},
                                    {"", nullptr, 0}}) {
        auto parsed = config::parse_listen_address(c.text, "0.0.0.0");
        ASSERT_EQ(parsed.has_value(), c.address != nullptr) << c.text;
        if (parsed) {
            EXPECT_EQ(parsed->address, c.address);
            EXPECT_EQ(parsed->port, c.port);
        }
    }
    auto net = config::parse_ip_network("192.168.0.0/16");
    ASSERT_TRUE(net);
    EXPECT_TRUE(net->contains(*config::parse_ip_address("192.168.7.9")));
    EXPECT_FALSE(net->contains(*config::parse_ip_address("192.169.0.1")));
    EXPECT_FALSE(net->contains(*config::parse_ip_address("::1")));
    auto loop6 = config::parse_ip_network("::1");
    ASSERT_TRUE(loop6);
    EXPECT_TRUE(loop6->contains(*config::parse_ip_address("0:0:0:0:0:0:0:1")));
    for (const char* bad :
         {"300.1.1.1", "10.0.0.0/33", "1.2.3", "::1::2", "fe80::/129", "1.2.3.4/"}) {
        EXPECT_FALSE(config::parse_ip_network(bad)) << bad;
    }
}

TEST(SdsArchive, DayFilesInTheSdsLayoutAndOneLineWhenWritingFails) {
    platform::MemoryFileSystem fs;
    std::vector<std::string> lines;
    SdsArchive archive(fs, "/st/archive", [&](const std::string& l) { lines.push_back(l); });
    MiniSeedRecord r;
    r.id = {"XX", "VELK", "", "HHZ"};
    r.start =
        static_cast<MicroTime>(text::to_epoch_seconds({2026, 12, 31, 23, 59, 58, 0})) * kSecond;
    r.bytes = std::string(512, 'a');
    archive.record(r);
    archive.record(r);
    EXPECT_EQ(fs.contents("/st/archive/2026/XX/VELK/HHZ.D/XX.VELK..HHZ.D.2026.365"),
              std::string(1024, 'a'));
    EXPECT_EQ(SdsPath({"AB", "S", "00", "BHN"},
                      static_cast<MicroTime>(text::to_epoch_seconds({2024, 2, 29, 0, 0, 0, 0})) *
                          kSecond),
              "2024/AB/S/BHN.D/AB.S.00.BHN.D.2024.060");
    fs.set_full(true);
    archive.record(r);
    archive.record(r);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("not written"), std::string::npos);
    fs.set_full(false);
    archive.record(r);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(archive.lost(), 2);
    EXPECT_EQ(archive.written(), 3);
}

}  // namespace
}  // namespace velkantor::stream

namespace velkantor::datalog {
namespace {

struct Heard : runtime::SecondSink {
    struct Call {
        int ch;
        double second;
        std::vector<int32_t> values;
        bool continues;
    };
    std::vector<Call> calls;
    int cuts = 0;
    void samples(int ch, double second, double, char, const std::vector<int32_t>& values,
                 bool continues) override {
        calls.push_back({ch, second, values, continues});
    }
    void cut() override { ++cuts; }
};

// The sink hears every channel's real samples, logged or not; a second short of samples is
// filled in the file but not in the stream, and the stream begins anew after it.
TEST(DatalogSink, RealSamplesOnlyAndAGapAfterAShortSecond) {
    platform::MemoryFileSystem fs;
    ASSERT_TRUE(fs.create_directories("/st/datalog"));
    DatalogWriter writer(fs, "/st/datalog");
    Heard heard;
    writer.set_sink(&heard);
    writer.start(config::kZeda18);
    config::Settings settings;
    for (auto& c : settings.channels) c.datalog_enabled = 0;
    settings.channels[0].datalog_enabled = 1;
    const double t = text::to_epoch_seconds({2026, 3, 1, 12, 0, 0, 0});
    DatalogWriter::Second second;
    second.rates = {4, 4, 0, 0};
    second.exact_seconds = true;
    auto report = [](int, const std::string& what) { FAIL() << what; };
    int value = 0;
    auto feed_second = [&](double at, int count) {
        for (int k = 0; k < count; ++k) {
            writer.AppendDatalogSample(0, ++value);
            writer.AppendDatalogSample(1, -value);
        }
        second.board_time = text::from_epoch_seconds(at);
        writer.DatalogFlush(second, settings, report);
    };
    feed_second(t, 0);      // the run's first frame
    feed_second(t + 1, 4);  // holds second t
    feed_second(t + 2, 3);  // second t+1 short of one sample
    feed_second(t + 3, 4);
    writer.AppendDatalogSample(0, 100);  // part of second t+3 at STOP
    writer.AppendDatalogSample(1, -100);
    writer.stop(settings, report);
    ASSERT_EQ(heard.calls.size(), 8u);  // three whole seconds and the last part, two channels
    EXPECT_EQ(heard.calls[2].values, (std::vector<int32_t>{5, 6, 7}));
    EXPECT_EQ(heard.calls[3].values, (std::vector<int32_t>{-5, -6, -7})) << "not logged, streamed";
    EXPECT_TRUE(heard.calls[2].continues);
    EXPECT_FALSE(heard.calls[4].continues) << "after the short second the stream begins anew";
    EXPECT_EQ(heard.calls[4].second, t + 2);
    EXPECT_EQ(heard.calls[6].values, (std::vector<int32_t>{100}));
    EXPECT_TRUE(heard.calls[6].continues);
    EXPECT_EQ(heard.cuts, 1);
    EXPECT_EQ(writer.filled()[0], 1);
    EXPECT_EQ(writer.filled()[1], 0);
    EXPECT_EQ(fs.file_size("/st/datalog/20260301_120000_0004N.LG0").value_or(0),
              4u * (4 + 4 + 4 + 1));
}

}  // namespace
}  // namespace velkantor::datalog
