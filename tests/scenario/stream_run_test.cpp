#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "app/network_services.h"
#include "config/settings_file.h"
#include "datalog/datalog_reader.h"
#include "stream/sds_archive.h"
#include "stream/stream_feed.h"
#include "support/miniseed_reader.h"
#include "support/station_rig.h"
#include "text/number_text.h"

namespace velkantor::testing {
namespace {

struct Collect : stream::RecordSink {
    std::vector<stream::MiniSeedRecord> records;
    void record(const stream::MiniSeedRecord& r) override { records.push_back(r); }
};

// A station streaming three channels (one of them not logged) across midnight, a receiver
// lock, a frame garbled on the line and a STOP and START: every sample of every record is
// one the board sent, at the time it sent it; every logged sample that was not filled in is
// in the records; the archive holds the records in their day's files.
TEST(StreamRun, RecordsHoldWhatTheBoardSentAtItsTime) {
    StationRig rig({2026, 3, 1, 23, 57, 0, 0});
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    // A GPS receiver and no time-zone correction: the board keeps UTC, before its receiver
    // speaks (the PC's zone, UTC here) and after.
    settings.general.sync_source = 0;
    for (auto& c : settings.channels) c.sps_index = 15;
    settings.channels[3].sps_index = 0;
    settings.channels[0].datalog_enabled = 1;
    settings.channels[1].datalog_enabled = 0;  // streamed all the same
    settings.channels[2].datalog_enabled = 1;
    settings.channels[3].datalog_enabled = 0;

    stream::StationCodes codes;
    codes.channels[0] = "EHZ";  // network.ini names channel 1; the others by rate and axis
    stream::StreamFeed feed(codes, 5, settings);
    Collect records;
    stream::SdsArchive archive(rig.fs, "/station/archive", [](const std::string&) {});
    feed.add_output(&records);
    feed.add_output(&archive);
    rig.station.datalog().set_sink(&feed);

    sim::BoardOptions options;
    options.version = "V181";
    options.clock.sync_at.push_back({2026, 3, 1, 23, 58, 30, 0});
    options.faults.short_frames.push_back({2026, 3, 1, 23, 59, 10, 0});
    std::map<std::pair<int, int64_t>, int32_t> sent;  // (channel, board ms) -> value
    auto& board = rig.attach_board(options);
    board.sample_listener = [&](int ch, double at, int32_t value) {
        sent[{ch, std::llround(at * 1000)}] = value;
    };
    rig.op.answers = {false};
    ASSERT_TRUE(rig.host.run_for(240));
    rig.host.wait(20);
    ASSERT_TRUE(rig.host.run_for(30));

    const double midnight = text::to_epoch_seconds({2026, 3, 2, 0, 0, 0, 0});
    const auto garbled =
        static_cast<int64_t>(text::to_epoch_seconds(options.faults.short_frames[0]));
    std::map<std::pair<int, int64_t>, int32_t> streamed;
    std::map<std::string, std::string> by_day_file;
    bool locked_after = false;
    int64_t first_locked = 0;
    for (const auto& r : records.records) {
        auto d = decode_record(r.bytes);
        ASSERT_GT(d.values.size(), 0u);
        int ch = -1;
        for (int c = 0; c < 3; ++c) {
            if (feed.stream_id(c, 100) == r.id) ch = c;
        }
        ASSERT_GE(ch, 0) << r.id.text();
        const bool crosses =
            d.start < midnight * 1e6 && d.time_of(d.values.size() - 1) >= midnight * 1e6;
        EXPECT_FALSE(crosses) << "a record crosses midnight";
        if ((d.io_flags & 0x20) != 0) {
            if (first_locked == 0) first_locked = d.start;
            locked_after = true;
        }
        // A clock running free of its receiver stamps questionable times.
        EXPECT_EQ((d.dq_flags & 0x80) != 0, (d.io_flags & 0x20) == 0) << d.start;
        for (size_t k = 0; k < d.values.size(); ++k) {
            int64_t ms = (d.time_of(k) + 500) / 1000;
            auto it = sent.find({ch, ms});
            ASSERT_NE(it, sent.end())
                << r.id.text() << " holds a sample the board never sent, at ms " << ms;
            // The garbled frame's sample is the station's stand-in for it, as in the datalog.
            if (ms / 1000 != garbled) {
                ASSERT_EQ(d.values[k], it->second) << r.id.text() << " at ms " << ms;
            }
            ASSERT_TRUE(streamed.emplace(std::make_pair(ch, ms), d.values[k]).second)
                << "a sample twice";
        }
        by_day_file[stream::SdsPath(r.id, r.start)] += r.bytes;
    }
    EXPECT_TRUE(locked_after);
    // The lock is the datalog's letter: the time frame that reports it closes the second before.
    const double sync = text::to_epoch_seconds({2026, 3, 1, 23, 58, 30, 0});
    EXPECT_GE(first_locked, (sync - 1) * 1e6);
    EXPECT_LE(first_locked, (sync + 2) * 1e6);

    // Every logged sample is in the records, except those the datalog filled in.
    datalog::DatalogReader reader(rig.fs, std::string(kStation) + "/datalog", 4);
    const double t0 = text::to_epoch_seconds({2026, 3, 1, 23, 57, 0, 0});
    for (int ch : {0, 2}) {
        auto run = reader.read(ch, t0, 300 * 100, 100);
        size_t logged = 0, missing = 0;
        for (size_t k = 0; k < run.values.size(); ++k) {
            if (run.sources[k] != datalog::SampleSource::unlocked &&
                run.sources[k] != datalog::SampleSource::locked) {
                continue;
            }
            ++logged;
            auto it = streamed.find({ch, std::llround((t0 + k / 100.0) * 1000)});
            if (it == streamed.end()) {
                ++missing;
                continue;
            }
            ASSERT_EQ(it->second, run.values[k]) << "channel " << ch << " sample " << k;
        }
        EXPECT_GT(logged, 260u * 100);
        EXPECT_EQ(missing,
                  static_cast<size_t>(rig.station.datalog().filled()[static_cast<size_t>(ch)]))
            << "channel " << ch;
    }
    // The channel without a datalog is streamed as fully as a logged one.
    size_t counts[3] = {};
    for (const auto& [key, value] : streamed) ++counts[key.first];
    EXPECT_NEAR(static_cast<double>(counts[1]), static_cast<double>(counts[0]), 2);

    // The archive: each record in its day's file, in order, nothing else.
    std::set<std::string> days;
    for (const auto& [path, bytes] : by_day_file) {
        EXPECT_EQ(rig.fs.contents("/station/archive/" + path), bytes) << path;
        days.insert(path.substr(path.size() - 3));
    }
    EXPECT_EQ(days, (std::set<std::string>{"060", "061"}));
}

// An instrument whose seconds are the PC's (INFILTEC, 100 readings a second) on channel 1,
// logged and streamed into `records`.
struct PcPacedStream {
    explicit PcPacedStream(StationRig& rig) : feed({}, 5, settings(rig)) {
        feed.add_output(&records);
        rig.station.datalog().set_sink(&feed);
    }
    static config::Settings& settings(StationRig& rig) {
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kInfiltec;
        settings.channels[0].sps_index = 15;  // 100 samples per second
        settings.channels[0].datalog_enabled = 1;
        for (size_t c = 1; c < 4; ++c) settings.channels[c].sps_index = 0;
        return settings;
    }
    static sim::BoardOptions instrument() {
        sim::BoardOptions options;
        options.model = "INFILTEC";
        options.reading_rate = 100;
        return options;
    }
    Collect records;
    stream::StreamFeed feed;
};

// An instrument whose time is the PC's, on a PC in a zone with summer time: at the end of
// summer time the PC clock goes back an hour, and the records go on in UTC without an
// overlap or a gap; no record holds samples from both sides of the change.
TEST(StreamRun, SummerTimeEndingLeavesNeitherOverlapNorGap) {
    // 02:58 CEST on the last Sunday of October; at 03:00 CEST the PC shows 02:00 CET.
    StationRig rig({2026, 10, 25, 2, 58, 0, 0});
    rig.clock.set_zone([&clock = rig.clock](const text::DateTime&) {
        return clock.pc_offset() < 0 ? 3600 : 7200;
    });
    PcPacedStream stream(rig);
    auto& feed = stream.feed;
    auto& records = stream.records;
    sim::BoardOptions options = PcPacedStream::instrument();
    rig.attach_board(options);
    ASSERT_TRUE(rig.host.run_for(120));  // to 03:00 CEST
    rig.clock.step_pc_clock(-3600);
    ASSERT_TRUE(rig.host.run_for(120));
    feed.cut();

    const auto change = std::llround(text::to_epoch_seconds({2026, 10, 25, 1, 0, 0, 0}) * 1e6);
    ASSERT_GT(records.records.size(), 10u);
    int64_t expected_next = 0;
    size_t samples = 0;
    for (const auto& r : records.records) {
        auto d = decode_record(r.bytes);
        const int64_t last = d.time_of(d.values.size() - 1);
        EXPECT_FALSE(d.start < change && last >= change) << "a record spans the change";
        if (expected_next != 0) {
            // A second the PC-paced line left short re-anchors the stream a sample or two on;
            // an hour either way would be the change.
            EXPECT_GE(d.start, expected_next - 5000) << "an overlap";
            EXPECT_LE(d.start, expected_next + 30000) << "a gap";
        }
        expected_next = d.time_of(d.values.size());
        samples += d.values.size();
    }
    const auto first = decode_record(records.records.front().bytes).start;
    EXPECT_NEAR(static_cast<double>(first), static_cast<double>(change - 120 * 1000000LL), 2e6)
        << "the records are in UTC, from 00:58";
    EXPECT_NEAR(static_cast<double>(expected_next), static_cast<double>(change + 120 * 1000000LL),
                2e6);
    EXPECT_GT(samples, 235u * 100);
}

// An instrument paced by the PC clock that runs 0.1 % slow, across a datalog file boundary:
// counted on at the nominal rate its samples would drift by a tenth of a sample a second; the
// records re-anchor instead, so that no record starts further from when its first sample was
// sent than the reading second's own placement (half a sample beyond it at most).
TEST(StreamRun, PcPacedRecordsStayWithThePcClock) {
    StationRig rig({2026, 3, 1, 12, 14, 0, 0});
    PcPacedStream stream(rig);
    auto& feed = stream.feed;
    auto& records = stream.records;
    sim::BoardOptions options = PcPacedStream::instrument();
    options.clock.drift_ppm = -1000;
    const double pc_start = rig.clock.epoch_seconds();
    std::vector<std::pair<double, int32_t>> sent;  // PC time sent, value
    auto& board = rig.attach_board(options);
    board.sample_listener = [&](int, double at, int32_t value) {
        sent.emplace_back(pc_start + (at - pc_start) / (1 - 1e-3), value);
    };
    ASSERT_TRUE(rig.host.run_for(120));
    feed.cut();

    ASSERT_GT(records.records.size(), 5u);
    size_t checked = 0;
    for (const auto& r : records.records) {
        auto d = decode_record(r.bytes);
        // Where the record's samples are in what the instrument sent.
        auto at = std::search(sent.begin(), sent.end(), d.values.begin(), d.values.end(),
                              [](const auto& s, int32_t v) { return s.second == v; });
        ASSERT_NE(at, sent.end()) << "a record holds samples the instrument never sent";
        const double off_samples = (static_cast<double>(d.start) * 1e-6 - at->first) * 100;
        // The reading second itself is placed within a couple of samples of the PC clock;
        // counted on without re-anchoring, the drift alone would reach twelve by the end.
        EXPECT_LE(std::abs(off_samples), 2.5) << "record at " << d.start;
        ++checked;
    }
    EXPECT_EQ(checked, records.records.size());
}

// network.ini turns on the archive and the miniSEED copies of event files: the program's own
// services, on the station's files.
TEST(StreamRun, EventFilesGetMiniSeedCopiesBesideThem) {
    StationRig rig;
    rig.load();
    rig.fs.put("/station/network.ini",
               "[station]\nnetwork = AB\nstation = HOME\nlocation = 00\n"
               "[archive]\nfolder = sds\nevent_mseed = 1\n");
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) record_events(c);
    settings.channels[3].sps_index = 0;
    app::Options options;
    app::NetworkServices services(rig.station.services(), options);
    services.configure();
    ASSERT_TRUE(services.problems().empty()) << services.problems().front();
    services.start();
    const double t0 = rig.clock.epoch_seconds();
    sim::BoardOptions board;
    board.noise_amplitude = 200;
    board.quakes.push_back({text::from_epoch_seconds(t0 + 200), 30, 30000});
    board.quakes.push_back({text::from_epoch_seconds(t0 + 560), 30, 30000});
    rig.attach_board(board);
    rig.op.answers.clear();
    ASSERT_TRUE(rig.host.run_for(320));

    auto copies_now = [&] {
        int n = 0;
        for (const auto& name : rig.fs.list_directory("/station/events")) {
            n += name.size() > 6 && name.substr(name.size() - 6) == ".mseed";
        }
        return n;
    };
    int copies = 0;
    for (const auto& name : rig.fs.list_directory("/station/events")) {
        if (name.size() < 6 || name.substr(name.size() - 6) != ".mseed") continue;
        ++copies;
        std::string event = name.substr(0, name.size() - 6);
        auto lines = split_lines(rig.file("events/" + event));
        ASSERT_GT(lines.size(), 29u);
        auto start = text::parse_datetime(lines[1].substr(12, 19));
        ASSERT_TRUE(start);
        std::vector<int32_t> expected;
        for (size_t k = 29; k < lines.size(); ++k) {
            expected.push_back(static_cast<int32_t>(text::leading_number(lines[k]).value_or(0)));
        }
        auto records = decode_records(rig.file("events/" + name));
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].start, std::llround(text::to_epoch_seconds(*start) * 1e6)) << name;
        EXPECT_EQ(records[0].network, "AB");
        EXPECT_EQ(records[0].station, "HOME");
        EXPECT_EQ(records[0].location, "00");
        std::vector<int32_t> got;
        for (const auto& r : records) {
            EXPECT_EQ(r.start, records[0].time_of(got.size())) << "one stretch, no gap";
            got.insert(got.end(), r.values.begin(), r.values.end());
        }
        EXPECT_EQ(got, expected) << name;
    }
    EXPECT_EQ(copies, 3) << "one per recording channel";
    auto log = rig.event_log_messages();
    EXPECT_NE(std::find(log.begin(), log.end(), "miniSEED archive in /station/sds"), log.end());
    services.stop();  // the archive's thread has written everything handed over
    EXPECT_FALSE(rig.fs.list_directory("/station/sds/2026/AB/HOME").empty());

    // Stopped services have let go of the station: its next run's events get no copy and
    // its seconds go nowhere (nothing calls into what was stopped).
    EXPECT_FALSE(rig.station.datalog().has_sink());
    ASSERT_TRUE(rig.host.run_for(400));
    EXPECT_EQ(copies_now(), 3);
}

}  // namespace
}  // namespace velkantor::testing
