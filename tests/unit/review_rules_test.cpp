#include "datalog/review_rules.h"

#include <gtest/gtest.h>

#include "datalog/datalog_writer.h"
#include "platform/fake/memory_file_system.h"

namespace velkantor::datalog {
namespace {

double epoch(const text::DateTime& t) {
    return text::to_epoch_seconds(t);
}

TEST(ReviewRules, PageStartsAcrossMidnightAndLongPages) {
    struct Case {
        const char* name;
        text::DateTime begin;
        double length;  // seconds
        text::DateTime next;
        text::DateTime previous;
    };
    const Case cases[] = {
        {"23:50 to 00:10",
         {2026, 2, 28, 23, 50, 0, 0},
         1200,
         {2026, 3, 1, 0, 10, 0, 0},
         {2026, 2, 28, 23, 30, 0, 0}},
        {"previous page before midnight",
         {2026, 3, 1, 0, 5, 0, 0},
         1200,
         {2026, 3, 1, 0, 25, 0, 0},
         {2026, 2, 28, 23, 45, 0, 0}},
        {"a page of two days",
         {2026, 3, 1, 12, 0, 0, 0},
         2 * 86400 + 7200,
         {2026, 3, 3, 14, 0, 0, 0},
         {2026, 2, 27, 10, 0, 0, 0}},
        {"a length of a fraction of a second",
         {2026, 3, 1, 10, 0, 0, 0},
         1000.0 / 3,
         {2026, 3, 1, 10, 5, 33, 0},
         {2026, 3, 1, 9, 54, 27, 0}},
    };
    for (const auto& c : cases) {
        ReviewPage page;
        page.begin_epoch = epoch(c.begin);
        page.end_epoch = page.begin_epoch + c.length;
        page.rate = 1;
        EXPECT_EQ(NextPageStart(page), c.next) << c.name;
        EXPECT_EQ(PreviousPageStart(page), c.previous) << c.name;
    }
}

TEST(ReviewRules, DrumImageOfTodayOrAnArchivedDay) {
    const text::DateTime today{2026, 3, 1, 15, 30, 0, 0};
    EXPECT_EQ(ReviewDrumBase("/s/drums", {2026, 3, 1, 0, 0, 0, 0}, today, 0), "/s/drums/drum_1");
    EXPECT_EQ(ReviewDrumBase("/s/drums", {2026, 2, 28, 0, 0, 0, 0}, today, 1),
              "/s/drums/drum_260228_2");
    EXPECT_EQ(ReviewDrumBase("/s/drums", {2005, 3, 2, 0, 0, 0, 0}, today, 3),
              "/s/drums/drum_050302_4");
}

TEST(ReviewRules, DatalogFolderIsTheStationsSubfolderWhenThereIsOne) {
    platform::MemoryFileSystem fs;
    EXPECT_TRUE(fs.create_directories("/s/datalog"));
    EXPECT_TRUE(fs.create_directories("/share/logs"));
    EXPECT_EQ(ReviewDatalogFolder(fs, "/s"), "/s/datalog");
    EXPECT_EQ(ReviewDatalogFolder(fs, "/s/datalog"), "/s/datalog");
    EXPECT_EQ(ReviewDatalogFolder(fs, "/share/logs"), "/share/logs");
    EXPECT_EQ(DatalogSampleBytes(config::kZeda18), 4);
    EXPECT_EQ(DatalogSampleBytes(config::kZeda20), 4);
    EXPECT_EQ(DatalogSampleBytes(config::kZeda10), 2);
    EXPECT_EQ(DatalogSampleBytes(config::kDataqDi194rs), 2);
}

TEST(ReviewRules, ExtractTakesStationLinesFromTheChosenFileOnly) {
    config::Settings live;
    live.general.location = "Here";
    live.general.ad_type = config::kZeda18;
    live.general.event_format = 3;
    live.channels[1].sps_index = 7;
    live.channels[1].event_extension = "CH2";
    config::Settings chosen;
    chosen.general.location = "There";
    chosen.general.coordinates = "45.1N 9.2E";
    chosen.general.ad_type = config::kZeda10;
    chosen.channels[1].sps_index = 9;
    chosen.channels[1].sensor_type = 2;
    chosen.channels[1].resolution = 0.25;
    chosen.channels[1].mag_corr[0] = "0.5";

    const config::Settings used = ExtractSettings(live, chosen);
    EXPECT_EQ(used.general.location, "There");
    EXPECT_EQ(used.general.coordinates, "45.1N 9.2E");
    EXPECT_EQ(used.channels[1].sensor_type, 2);
    EXPECT_EQ(used.channels[1].resolution, 0.25);
    EXPECT_EQ(used.channels[1].mag_corr[0], "0.5");
    // How the datalog was written and how the file is named stay the station's.
    EXPECT_EQ(used.general.ad_type, config::kZeda18);
    EXPECT_EQ(used.general.event_format, 3);
    EXPECT_EQ(used.channels[1].sps_index, 7);
    EXPECT_EQ(used.channels[1].event_extension, "CH2");
}

}  // namespace
}  // namespace velkantor::datalog
