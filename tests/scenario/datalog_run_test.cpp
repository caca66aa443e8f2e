#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "datalog/datalog_reader.h"
#include "datalog/extraction.h"
#include "datalog/review_page.h"
#include "platform/fake/recording_canvas.h"
#include "stream/datalog_export.h"
#include "support/miniseed_reader.h"
#include "support/station_rig.h"
#include "text/number_text.h"

namespace velkantor::testing {
namespace {

// Every sample the board sends reaches the datalog at its time position, across a file
// boundary and through a stop and a new start.
TEST(DatalogRun, EverySampleAtItsPlace) {
    StationRig rig({2026, 3, 1, 11, 58, 30, 0});
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    settings.general.flush_period = 0;  // 5-minute files: a boundary at 12:00:00
    for (auto& c : settings.channels) {
        c.sps_index = 15;
        c.datalog_enabled = 1;
    }
    settings.channels[3].sps_index = 0;
    settings.channels[3].datalog_enabled = 0;
    std::map<std::pair<int, int64_t>, int32_t> sent;  // (channel, board ms) -> value
    auto& board = rig.attach_board();
    board.sample_listener = [&](int ch, double at, int32_t value) {
        sent[{ch, std::llround(at * 1000)}] = value;
    };
    double t0 = rig.clock.epoch_seconds();
    ASSERT_TRUE(rig.host.run_for(150));
    rig.host.wait(20);  // a gap
    ASSERT_TRUE(rig.host.run_for(30));

    datalog::DatalogReader reader(rig.fs, std::string(kStation) + "/datalog", 4);
    auto files = reader.files(1);
    ASSERT_GE(files.size(), 3u) << "first file, the 12:00:00 boundary, the file after the gap";
    EXPECT_EQ(files[1].name, "20260301_120000_0100N.LG1");

    size_t compared = 0;
    size_t lost = 0;
    for (int ch = 0; ch < 3; ++ch) {
        auto run = reader.read(ch, t0, 210 * 100);
        for (size_t k = 0; k < run.values.size(); ++k) {
            auto it = sent.find({ch, std::llround((t0 + k / 100.0) * 1000)});
            if (it == sent.end()) continue;  // the board sent nothing then
            bool here = run.sources[k] == datalog::SampleSource::unlocked;
            // STOP discards what is still on the line, and the first half second of a run
            // goes to the handshake: those samples never reached the station.
            if (!here) {
                ++lost;
                continue;
            }
            ASSERT_EQ(run.values[k], it->second) << "channel " << ch << " sample " << k;
            ++compared;
        }
    }
    EXPECT_GT(compared, 3u * 175 * 100);
    EXPECT_LT(lost, 3u * 2 * 200) << "at most the seconds around each START and STOP";
}

// Across midnight with the receiver locking on the way: the files change letter at the
// boundary, a review page shows both colours, and an extraction holds exactly what the
// board sent.
TEST(DatalogRun, MidnightLockReviewAndExtraction) {
    StationRig rig({2026, 3, 1, 23, 58, 0, 0});
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    settings.general.flush_period = 0;
    for (auto& c : settings.channels) {
        c.sps_index = 15;
        c.datalog_enabled = 0;
    }
    settings.channels[0].datalog_enabled = 1;
    sim::BoardOptions options;
    options.version = "V181";
    options.clock.sync_at.push_back({2026, 3, 1, 23, 59, 0, 0});
    std::map<int64_t, int32_t> sent;  // board ms -> value of channel 1
    auto& board = rig.attach_board(options);
    board.sample_listener = [&](int ch, double at, int32_t value) {
        if (ch == 0) sent[std::llround(at * 1000)] = value;
    };
    rig.op.answers = {false};
    ASSERT_TRUE(rig.host.run_for(240));

    datalog::DatalogReader reader(rig.fs, std::string(kStation) + "/datalog", 4);
    auto files = reader.files(0);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].lock, 'N');
    EXPECT_EQ(files[1].name, "20260302_000000_0100L.LG0");

    auto layout = datalog::ReviewLayout::from_settings(4, 50, 10);
    platform::RecordingCanvas canvas(1000, 400);
    double begin = text::to_epoch_seconds({2026, 3, 1, 23, 59, 50, 0});
    auto page = datalog::DrawReviewPage(canvas, reader, 0, begin, layout);
    ASSERT_TRUE(page.drawn()) << page.message;
    bool red = false, yellow = false;
    for (const auto& op : canvas.ops) {
        red |= op.color == platform::kChartColors[4];
        yellow |= op.color == platform::kChartColors[14];
    }
    EXPECT_TRUE(red && yellow);

    datalog::ExtractRequest request;
    request.settings = settings;
    request.datalog_folder = std::string(kStation) + "/datalog";
    request.events_folder = std::string(kStation) + "/events";
    request.from = {2026, 3, 1, 23, 59, 0, 0};
    request.minutes = 2;
    request.channel_mask = 1;
    auto result = datalog::ExtractEventFile(rig.fs, request);
    ASSERT_EQ(result.files.size(), 1u) << result.message;
    auto lines = split_lines(rig.fs.contents(result.files[0]));
    ASSERT_EQ(lines.size(), 29u + 12000);
    double from = text::to_epoch_seconds(request.from);
    for (size_t k = 0; k < 12000; ++k) {
        auto it = sent.find(std::llround((from + k / 100.0) * 1000));
        ASSERT_NE(it, sent.end()) << k;
        ASSERT_EQ(text::leading_number(lines[29 + k]).value_or(-1), it->second) << k;
    }
}

// The board clock set back over seconds already logged: the seconds that come again go to
// files of their own (a name already taken gets ".2"), and the reader, extraction and export
// still find every second the board sent, the first pass's file being cut short at the step.
TEST(DatalogRun, EverySecondReadBackAfterTheBoardClockGoesBack) {
    struct Case {
        const char* what;
        text::DateTime start;    // of the run: the first pass holds what the clock goes back over
        text::DateTime step_at;  // board time the step replaces
        int seconds;
    };
    const Case cases[] = {
        {"two minutes back, 30 s after a boundary",
         {2026, 3, 1, 11, 57, 0, 0},
         {2026, 3, 1, 12, 0, 30, 0},
         -120},
        {"an hour back, 5 s after a boundary",
         {2026, 3, 1, 10, 59, 0, 0},
         {2026, 3, 1, 12, 0, 5, 0},
         -3600},
        {"an hour back on a boundary",
         {2026, 3, 1, 10, 59, 0, 0},
         {2026, 3, 1, 12, 0, 0, 0},
         -3600},
    };
    // The run lasts until the second pass is past the step's period.
    const double until = text::to_epoch_seconds({2026, 3, 1, 12, 15, 10, 0});
    constexpr double kRate = 100;
    // A case's failed assertion ends that case only.
    auto check = [&](const Case& c) {
        StationRig rig(c.start);
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kZeda18;
        settings.general.flush_period = 2;  // 15-minute files
        for (auto& channel : settings.channels) {
            channel.sps_index = 0;
            channel.datalog_enabled = 0;
        }
        settings.channels[0].sps_index = 15;
        settings.channels[0].datalog_enabled = 1;
        sim::BoardOptions options;
        options.clock.jumps.push_back({c.step_at, c.seconds});
        auto& board = rig.attach_board(options);
        const double t0 = rig.clock.epoch_seconds();
        const double t_end = t0 + (until - text::to_epoch_seconds(c.start)) - c.seconds;
        // Board ms -> value. The board's signal is a function of its time, so a second sent
        // twice carries the same values both times. The handshake takes the run's first
        // second and the last ones are still on the line at the end.
        std::map<int64_t, int32_t> sent;
        board.sample_listener = [&](int ch, double at, int32_t value) {
            const double now = rig.clock.epoch_seconds();
            if (ch == 0 && now >= t0 + 2 && now < t_end - 2) {
                sent.emplace(std::llround(at * 1000), value);
            }
        };
        ASSERT_TRUE(rig.station.start());
        rig.host.run_until(t_end);
        ASSERT_FALSE(sent.empty());

        const std::string folder = std::string(kStation) + "/datalog";
        const double first = static_cast<double>(sent.begin()->first) / 1000;
        const double last = static_cast<double>(sent.rbegin()->first) / 1000;
        auto index_of = [&](double from, int64_t ms) {
            return static_cast<size_t>(
                std::llround((static_cast<double>(ms) / 1000 - from) * kRate));
        };
        // The reader: every sample the board sent, at its time, with its value.
        datalog::DatalogReader reader(rig.fs, folder, 4);
        auto run = reader.read(0, first, static_cast<size_t>((last - first) * kRate) + 1, kRate);
        size_t hidden = 0;
        std::string first_hidden;
        for (const auto& [ms, value] : sent) {
            size_t k = index_of(first, ms);
            bool found = k < run.values.size() &&
                         (run.sources[k] == datalog::SampleSource::unlocked ||
                          run.sources[k] == datalog::SampleSource::locked) &&
                         run.values[k] == value;
            if (!found && hidden++ == 0) {
                first_hidden =
                    text::format_datetime(text::from_epoch_seconds(static_cast<double>(ms) / 1000));
            }
        }
        EXPECT_EQ(hidden, 0u) << "first at " << first_hidden;
        bool repeated = false;
        for (const auto& file : reader.files(0)) repeated |= file.pass > 1;
        EXPECT_TRUE(repeated) << "the step made no file of seconds that came again";

        // Extraction and export of the minutes around the step: each sample the board sent.
        const text::DateTime from{2026, 3, 1, 11, 59, 0, 0};
        const double from_epoch = text::to_epoch_seconds(from);
        const double minutes = 4;
        datalog::ExtractRequest request;
        request.settings = settings;
        request.datalog_folder = folder;
        request.events_folder = std::string(kStation) + "/events";
        request.from = from;
        request.minutes = minutes;
        request.channel_mask = 1;
        auto extracted = datalog::ExtractEventFile(rig.fs, request);
        ASSERT_EQ(extracted.files.size(), 1u) << extracted.message;
        EXPECT_EQ(extracted.filled[0], 0) << "zeros where the datalog holds the samples";
        auto lines = split_lines(rig.fs.contents(extracted.files[0]));
        ASSERT_EQ(lines.size(), 29u + static_cast<size_t>(minutes * 60 * kRate));
        for (size_t k = 0; k + 29 < lines.size(); ++k) {
            auto it = sent.find(std::llround((from_epoch + static_cast<double>(k) / kRate) * 1000));
            ASSERT_NE(it, sent.end()) << k;
            ASSERT_EQ(text::leading_number(lines[29 + k]).value_or(-1), it->second) << k;
        }

        stream::ExportRequest span;
        span.datalog_folder = folder;
        span.from_epoch = from_epoch;
        span.minutes = minutes;
        span.channel_mask = 1;
        auto exported = stream::ExportDatalog(rig.fs, settings, span);
        EXPECT_EQ(exported.gaps[0], 0);
        EXPECT_EQ(exported.samples[0], static_cast<long>(minutes * 60 * kRate));
        for (const auto& record : decode_records(exported.records)) {
            for (size_t k = 0; k < record.values.size(); ++k) {
                auto it = sent.find(record.time_of(k) / 1000);
                ASSERT_NE(it, sent.end()) << record.time_of(k);
                ASSERT_EQ(record.values[k], it->second) << record.time_of(k);
            }
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        check(c);
    }
}

}  // namespace
}  // namespace velkantor::testing
