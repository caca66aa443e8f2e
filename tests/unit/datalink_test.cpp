// The DataLink sender's protocol side: framing, the server's replies, the record headers it
// keys deliveries by, the spans of acknowledged records and their state file, the archive
// reads of the backfill and its rate, and [datalink] of network.ini.
#include <gtest/gtest.h>

#include "config/network_ini.h"
#include "platform/fake/memory_file_system.h"
#include "stream/datalink_backfill.h"
#include "stream/datalink_protocol.h"
#include "stream/datalink_settings.h"
#include "stream/datalink_state.h"
#include "stream/record_builder.h"
#include "stream/sds_archive.h"
#include "text/date_time.h"

namespace velkantor::stream {
namespace {

constexpr MicroTime kSecond = 1000000;
const MicroTime kMidnight =
    static_cast<MicroTime>(text::to_epoch_seconds({2028, 12, 31, 0, 0, 0, 0})) * kSecond;

struct Collect : RecordSink {
    std::vector<MiniSeedRecord> records;
    void record(const MiniSeedRecord& r) override { records.push_back(r); }
};

// Records of one stream as the station builds them: `seconds` seconds at 100 samples/s from
// `start`, finished every `every` seconds (the latency).
std::vector<MiniSeedRecord> build(const StreamId& id, MicroTime start, int seconds, int every) {
    Collect out;
    {
        RecordBuilder builder(id, out);
        for (int s = 0; s < seconds; ++s) {
            std::vector<int32_t> values;
            for (int k = 0; k < 100; ++k) values.push_back(((s * 100 + k) * 7919) % 4001 - 2000);
            builder.add(start + s * kSecond, 100, true, values, s > 0);
            if ((s + 1) % every == 0) builder.flush();
        }
    }
    return out.records;
}

std::string frame(const std::string& header, const std::string& data = "") {
    return "DL" + std::string(1, static_cast<char>(header.size())) + header + data;
}

TEST(DataLinkProtocol, WritesNameTheStreamTimesFlagAndSize) {
    MiniSeedRecord record;
    record.id = {"XX", "VELK", "", "HHZ"};
    record.start = 1'700'000'000'123'456;
    record.end = 1'700'000'004'113'456;
    record.bytes.assign(kRecordLength, 'x');
    const std::string header = "WRITE XX_VELK__HHZ/MSEED 1700000000123456 1700000004113456 A 512";
    EXPECT_EQ(datalink_write(record, true), frame(header, record.bytes));
    record.id.location = "00";
    EXPECT_EQ(datalink_write(record, false).substr(3, 30), "WRITE XX_VELK_00_HHZ/MSEED 170");
    EXPECT_NE(datalink_write(record, false).find(" N 512"), std::string::npos);
    EXPECT_EQ(datalink_id("VELKANTOR", "XX_VELK", 4242, "x86_64"),
              "ID VELKANTOR:XX_VELK:4242:x86_64");
    // A header is one length byte long at most.
    EXPECT_EQ(datalink_frame(std::string(300, 'a')).size(), 3u + 255u);
}

TEST(DataLinkProtocol, RepliesAreCutFromTheByteStreamWhateverTheChunks) {
    const std::string id = "ID DataLink 2024.001 :: DLPROTO:1.0 PACKETSIZE:512 WRITE";
    const std::string stream = frame(id) + frame("OK 17 0") + frame("ERROR 2 13", "write refused") +
                               frame("OK 18 5", "hello");
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{7}, stream.size()}) {
        SCOPED_TRACE(chunk);
        DataLinkReader reader;
        std::vector<DataLinkReply> replies;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            reader.feed(std::string_view(stream).substr(at, chunk));
            while (auto packet = reader.next()) replies.push_back(*parse_datalink_reply(*packet));
        }
        EXPECT_FALSE(reader.failed()) << reader.error();
        ASSERT_EQ(replies.size(), 4u);
        EXPECT_EQ(replies[0].kind, DataLinkReply::Kind::Id);
        EXPECT_EQ(replies[0].server, "DataLink 2024.001");
        EXPECT_TRUE(replies[0].can_write());
        EXPECT_EQ(replies[1].kind, DataLinkReply::Kind::Ok);
        EXPECT_EQ(replies[1].value, 17);
        EXPECT_EQ(replies[2].kind, DataLinkReply::Kind::Error);
        EXPECT_EQ(replies[2].value, 2);
        EXPECT_EQ(replies[2].message, "write refused");
        EXPECT_EQ(replies[3].message, "hello");
    }
}

TEST(DataLinkProtocol, WhatNoServerSendsIsRefused) {
    struct Case {
        const char* name;
        std::string bytes;
        bool stream_fails;  // the reader gives up on the connection
        bool reply;         // else: a packet, but no reply a writer can use
    } cases[] = {
        {"not DL", "XL\x07OK 1 0", true, false},
        {"empty header", std::string("DL\0", 3), true, false},
        {"OK without its size", frame("OK 1"), true, false},
        {"a size beyond any reply", frame("OK 1 999999999"), true, false},
        {"a negative size", frame("ERROR 1 -5"), true, false},
        {"OK with a word for its id", frame("OK one 0"), false, false},
        {"an unknown exchange", frame("ENDSTREAM"), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DataLinkReader reader;
        reader.feed(c.bytes);
        auto packet = reader.next();
        EXPECT_EQ(reader.failed(), c.stream_fails);
        EXPECT_EQ(packet.has_value(), !c.stream_fails);
        if (packet) {
            EXPECT_EQ(parse_datalink_reply(*packet).has_value(), c.reply);
        }
    }
    // A server that takes no writes says so in its capabilities.
    auto id = parse_datalink_reply({"ID DataLink 2024.001 :: DLPROTO:1.0 PACKETSIZE:512", ""});
    ASSERT_TRUE(id);
    EXPECT_FALSE(id->can_write());
}

TEST(DataLinkProtocol, RecordHeadersGiveTheTimesTheBuilderGaveToTheMicrosecond) {
    // Starts off the 100 µs grid (blockette 1001 holds the rest), on a leap year's last day
    // and across midnight into the next year.
    const StreamId id{"XX", "VELK", "", "HHZ"};
    auto records = build(id, kMidnight + 86399 * kSecond - 40 * kSecond + 123'457, 60, 5);
    ASSERT_GT(records.size(), 10u);
    bool crossed = false;
    for (const auto& r : records) {
        auto parsed = parse_record_header(r.bytes);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->id, id);
        EXPECT_EQ(parsed->start, r.start);
        EXPECT_EQ(parsed->end, r.end);
        EXPECT_EQ(parsed->samples, r.samples);
        crossed = crossed || r.start >= kMidnight + 86400 * kSecond;
    }
    EXPECT_TRUE(crossed);
    std::string torn = records[0].bytes;
    EXPECT_FALSE(parse_record_header(torn.substr(0, 300)));
    torn[6] = 'X';  // not a data record
    EXPECT_FALSE(parse_record_header(torn));
    torn = records[0].bytes;
    torn[22] = 0x7f;  // day 32000 of the year
    EXPECT_FALSE(parse_record_header(torn));
    torn = records[0].bytes;
    torn[32] = torn[34] = static_cast<char>(0x80);  // a sample every 34 years
    torn[33] = torn[35] = 0;
    EXPECT_FALSE(parse_record_header(torn));
}

// Spans of acknowledged records as the sender's acknowledgements shape them.
TEST(DeliveryState, SpansFollowAcknowledgementsAndGapsCloseOldestFirst) {
    constexpr MicroTime kSince = 1000;
    struct Step {
        enum { Live, LiveFollows, Late, Close } what;
        const char* stream;
        MicroTime start;  // for Close: the gap's `before`
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<DeliveredSpan> z;  // the spans of "Z" after the steps
        std::optional<DeliveryGap> oldest;
    } cases[] = {
        {"a first record: owed is what the archive holds since the start",
         {{Step::Live, "Z", 5000}},
         {{999, 999}, {5000, 5000}},
         DeliveryGap{"Z", 999, 5000}},
        {"live records in a row make one span",
         {{Step::Live, "Z", 5000}, {Step::LiveFollows, "Z", 6000}, {Step::LiveFollows, "Z", 7000}},
         {{999, 999}, {5000, 7000}},
         DeliveryGap{"Z", 999, 5000}},
        {"a break makes a new span",
         {{Step::Live, "Z", 5000}, {Step::Close, "Z", 5000}, {Step::Live, "Z", 9000}},
         {{999, 5000}, {9000, 9000}},
         DeliveryGap{"Z", 5000, 9000}},
        {"late records grow the span before the gap, then it closes",
         {{Step::Live, "Z", 5000},
          {Step::Close, "Z", 5000},
          {Step::Live, "Z", 9000},
          {Step::Late, "Z", 6000},
          {Step::Late, "Z", 7000},
          {Step::Close, "Z", 9000}},
         {{999, 9000}},
         std::nullopt},
        {"a record older than what is acknowledged (a clock step back) is left out",
         {{Step::Live, "Z", 5000}, {Step::LiveFollows, "Z", 4000}},
         {{999, 999}, {5000, 5000}},
         DeliveryGap{"Z", 999, 5000}},
        {"the oldest gap of all streams comes first",
         {{Step::Live, "Z", 5000},
          {Step::Close, "Z", 5000},
          {Step::Live, "Z", 9000},
          {Step::Live, "N", 3000},
          {Step::Close, "N", 3000},
          {Step::Live, "N", 4000}},
         {{999, 5000}, {9000, 9000}},
         DeliveryGap{"N", 3000, 4000}},
        {"a gap closed twice, or one that is not there, changes nothing",
         {{Step::Live, "Z", 5000},
          {Step::Close, "Z", 5000},
          {Step::Close, "Z", 5000},
          {Step::Close, "Q", 1}},
         {{999, 5000}},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeliveryState state("127.0.0.1:16000", kSince);
        for (const auto& step : c.steps) {
            switch (step.what) {
                case Step::Live:
                case Step::LiveFollows:
                    state.live_acknowledged(step.stream, step.start,
                                            step.what == Step::LiveFollows);
                    break;
                case Step::Late:
                    state.late_acknowledged(step.stream, step.start);
                    break;
                case Step::Close:
                    state.gap_closed({step.stream, 0, step.start});
                    break;
            }
        }
        EXPECT_EQ(state.streams().at("Z"), c.z);
        EXPECT_EQ(state.oldest_gap(), c.oldest);
    }
}

TEST(DeliveryState, TooManyBreaksGiveUpTheOldestGap) {
    DeliveryState state("h:1", 0);
    for (size_t i = 0; i <= DeliveryState::kMaxSpans; ++i) {
        state.live_acknowledged("Z", static_cast<MicroTime>(i) * 10, false);
    }
    EXPECT_EQ(state.streams().at("Z").size(), DeliveryState::kMaxSpans);
    EXPECT_EQ(state.streams().at("Z")[0], (DeliveredSpan{0, 10}));
    EXPECT_EQ(state.take_given_up(), 1u);
    EXPECT_EQ(state.take_given_up(), 0u);
}

TEST(DeliveryState, TheStateFileReadsBackAndAnythingElseIsRefused) {
    DeliveryState state("ring.example.org:16000", 1'765'411'200'000'000);
    state.live_acknowledged("XX_VELK__HHZ", 1'765'411'300'000'000, false);
    state.live_acknowledged("XX_VELK__HHZ", 1'765'411'400'000'000, false);
    state.live_acknowledged("XX_VELK_00_HHN", 1'765'411'300'000'000, false);
    const std::string text = state.format();
    std::string error;
    auto back = DeliveryState::parse(text, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, state);
    EXPECT_EQ(back->server(), "ring.example.org:16000");

    const std::string head = "velkantor datalink state 1\nserver h:1\nsince 100\n";
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        {"", "shorter than"},
        {"velkantor datalink state 2\nserver h:1\nsince 100\n", "line 1"},
        {"velkantor datalink state 1\nsrv h:1\nsince 100\n", "line 2"},
        {"velkantor datalink state 1\nserver h:1\nsince -5\n", "line 3"},
        {head + "XX_VELK_HHZ 1 2\n", "line 4: \"XX_VELK_HHZ\" is not a stream"},
        {head + "xx_VELK__HHZ 1 2\n", "is not a stream"},
        {head + "XX_VELK__HHZ 3 2\n", "the first no later"},
        {head + "XX_VELK__HHZ 1 2x\n", "the first no later"},
        {head + "XX_VELK__HHZ 1 2\nXX_VELK__HHZ 2 5\n", "line 5: the span is not after"},
        {head + "XX_VELK__HHZ 1 2 3\n", "not \"STREAM FIRST LAST\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_FALSE(DeliveryState::parse(c.text, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    EXPECT_TRUE(DeliveryState::parse(head, error)) << "no spans yet";
}

// The backfill's reads of the day archive: the records of a gap, in order, across day files;
// a gap whose end the archive has not reached yet waits.
TEST(ArchiveReader, GapsAreReadInOrderAcrossDaysAndWaitForTheArchive) {
    platform::MemoryFileSystem fs;
    std::vector<std::string> lines;
    SdsArchive archive(fs, "archive", [&](const std::string& l) { lines.push_back(l); });
    const StreamId z{"XX", "VELK", "", "HHZ"};
    const StreamId n{"XX", "VELK", "", "HHN"};
    // Across midnight (records of a few seconds each); another stream beside it.
    auto records = build(z, kMidnight + 86400 * kSecond - 15 * kSecond, 60, 10);
    for (const auto& r : build(n, kMidnight + 86400 * kSecond - 15 * kSecond, 30, 10)) {
        archive.record(r);
    }
    ASSERT_GE(records.size(), 12u);
    ASSERT_LT(records[2].start, kMidnight + 86400 * kSecond);
    ASSERT_GT(records[8].start, kMidnight + 86400 * kSecond);
    for (size_t i = 0; i < 9; ++i) archive.record(records[i]);
    // A torn record in the middle of a day file is passed over.
    ASSERT_TRUE(fs.append(platform::join_path("archive", SdsPath(z, records[1].start)),
                          std::string(kRecordLength, '\0')));

    ArchiveReader reader(fs, "archive");
    // From after record 1 to record 10: records 2..9; the archive holds up to 8 so far.
    std::vector<MicroTime> got;
    MicroTime after = records[1].start;
    BackfillStep step;
    while ((step = reader.next(z, after, records[10].start)).kind == BackfillStep::Kind::Record) {
        got.push_back(step.record.start);
        after = step.record.start;
    }
    EXPECT_EQ(step.kind, BackfillStep::Kind::NotYet);
    std::vector<MicroTime> expected;
    for (size_t i = 2; i < 9; ++i) expected.push_back(records[i].start);
    EXPECT_EQ(got, expected);
    // The archive goes on: record 9, then the gap's end is reached.
    archive.record(records[9]);
    archive.record(records[10]);
    step = reader.next(z, after, records[10].start);
    ASSERT_EQ(step.kind, BackfillStep::Kind::Record);
    EXPECT_EQ(step.record.start, records[9].start);
    EXPECT_EQ(step.record.bytes, records[9].bytes);
    EXPECT_EQ(reader.next(z, step.record.start, records[10].start).kind,
              BackfillStep::Kind::Closed);
    // Asked anew (after a lost connection) from an earlier point, it reads from there.
    step = reader.next(z, records[0].start, records[10].start);
    ASSERT_EQ(step.kind, BackfillStep::Kind::Record);
    EXPECT_EQ(step.record.start, records[1].start);
    // Nothing between two records in a row: the gap is closed at once.
    EXPECT_EQ(reader.next(z, records[3].start, records[4].start).kind, BackfillStep::Kind::Closed);
    EXPECT_TRUE(lines.empty());
}

TEST(RateBound, TokensComeAtTheRateAfterABurst) {
    RateBound rate(4, 2);  // four a second, two at once
    MicroTime t = 50 * kSecond;
    EXPECT_TRUE(rate.take(t));
    EXPECT_TRUE(rate.take(t));
    EXPECT_FALSE(rate.take(t));
    EXPECT_EQ(rate.next_token(t), t + 250000);
    EXPECT_FALSE(rate.take(t + 249999));
    EXPECT_TRUE(rate.take(t + 250000));
    // A long pause fills the bucket to its burst only.
    t += 100 * kSecond;
    EXPECT_TRUE(rate.take(t));
    EXPECT_TRUE(rate.take(t));
    EXPECT_FALSE(rate.take(t));
    // A clock that goes back takes nothing and gives nothing.
    EXPECT_FALSE(rate.take(t - kSecond));
}

TEST(DataLinkSettings, ServerOptionsAndBadValues) {
    struct Case {
        const char* ini;
        const char* option;  // --datalink
        bool on;
        const char* host;
        int port;
        const char* problem;  // part of the one problem expected ("" = none)
    } cases[] = {
        {"", "", false, "", 0, ""},
        {"[datalink]\nserver = ring.example.org:16000\n", "", true, "ring.example.org", 16000, ""},
        {"[datalink]\nserver = ring:16000\n", "127.0.0.1:18000", true, "127.0.0.1", 18000, ""},
        {"", "[::1]:16000", true, "::1", 16000, ""},
        {"[datalink]\nserver = 16000\n", "", false, "", 0,
         "[datalink] server (line 2): \"16000\" is not HOST:PORT; the DataLink sender stays off"},
        {"[datalink]\nserver = h:1\nclient_id = a:b\n", "", false, "h", 1, "client id"},
        {"[datalink]\nserver = h:1\nbackfill = yes\n", "", false, "h", 1, "is not 0 or 1"},
        {"[datalink]\nserver = h:1\nbackfill_rate = 0\n", "", false, "h", 1, "from 1 to 1000"},
        {"[datalink]\nserver = h:1\ntimeout = 1\n", "", false, "h", 1, "from 5 to 600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ini) + c.option);
        std::vector<std::string> problems;
        config::NetworkOptions options;
        options.datalink = c.option;
        auto s = ParseDataLinkSettings(config::IniFile::parse(c.ini), problems, options);
        EXPECT_EQ(s.enabled, c.on);
        EXPECT_EQ(s.host, c.host);
        EXPECT_EQ(s.port, c.port);
        if (std::string(c.problem).empty()) {
            EXPECT_TRUE(problems.empty()) << problems.front();
        } else {
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
        }
    }
    std::vector<std::string> problems;
    auto s = ParseDataLinkSettings(
        config::IniFile::parse("[datalink]\nserver = h:1\nclient_id = net-a.station7\nbackfill = "
                               "0\nbackfill_rate = 50\ntimeout = 60\n"),
        problems);
    EXPECT_EQ(s.client_id, "net-a.station7");
    EXPECT_FALSE(s.backfill);
    EXPECT_EQ(s.backfill_rate, 50);
    EXPECT_EQ(s.timeout_seconds, 60);
}

}  // namespace
}  // namespace velkantor::stream
