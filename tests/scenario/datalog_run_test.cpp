#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "datalog/datalog_reader.h"
#include "datalog/extraction.h"
#include "datalog/review_page.h"
#include "platform/fake/recording_canvas.h"
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

}  // namespace
}  // namespace velkantor::testing
