#include "datalog/review_page.h"

#include <gtest/gtest.h>

#include "platform/fake/memory_file_system.h"
#include "platform/fake/recording_canvas.h"

namespace velkantor::datalog {
namespace {

TEST(ReviewLayout, ClampsRowsAndZeroScales) {
    struct Case {
        int rows;
        double speed;
        double scale;
        int expected_rows;
        double step;
        double amplitude;
    };
    const Case cases[] = {
        {1, 50, 10, 2, 1, 0.1}, {12, 100, 0, 8, 2, 0.01}, {6, 0, 200, 6, 0.02, 2}};
    for (const auto& c : cases) {
        auto l = ReviewLayout::from_settings(c.rows, c.speed, c.scale);
        EXPECT_EQ(l.rows, c.expected_rows);
        EXPECT_DOUBLE_EQ(l.step, c.step);
        EXPECT_DOUBLE_EQ(l.amplitude, c.amplitude);
    }
}

class ReviewPageTest : public ::testing::Test {
protected:
    platform::MemoryFileSystem fs;
    DatalogReader reader{fs, "/d", 2};
    ReviewLayout layout = ReviewLayout::from_settings(2, 50, 100);  // 2 rows, 1 px per sample
    platform::RecordingCanvas canvas{100, 200};                     // 100 samples per row
    double noon = text::to_epoch_seconds({2026, 12, 5, 12, 0, 0, 0});

    std::string samples(int n, int value) {
        std::string b;
        for (int i = 0; i < n; ++i) b += std::string{static_cast<char>(value), 0};
        return b;
    }
    // The colours of the line segments, in drawing order.
    std::vector<platform::Color> colours() const {
        std::vector<platform::Color> c;
        for (const auto& op : canvas.ops) {
            if (op.kind == platform::RecordingCanvas::Op::line) c.push_back(op.color);
        }
        return c;
    }
};

TEST_F(ReviewPageTest, ColoursByLockGapAndEarlyEnd) {
    // 10 per second: a locked file 12:00:00 with 5 s, an unlocked one at 12:00:10 with 10 s.
    fs.put("/d/20261205_120000_0010L.LG0", samples(50, 7));
    fs.put("/d/20261205_120010_0010N.LG0", samples(100, 3));
    auto page = DrawReviewPage(canvas, reader, 0, noon - 2, layout);
    ASSERT_TRUE(page.drawn()) << page.message;
    EXPECT_EQ(page.end_epoch, noon - 2 + 20);  // 2 rows x 100 samples at 10 per second
    auto c = colours();
    ASSERT_EQ(c.size(), 200u);
    EXPECT_EQ(c[0], platform::kChartColors[7]);    // 11:59:58: no file yet
    EXPECT_EQ(c[20], platform::kChartColors[14]);  // 12:00:00: locked
    EXPECT_EQ(c[80], platform::kChartColors[2]);   // 12:00:06: the file ended early
    EXPECT_EQ(c[120], platform::kChartColors[4]);  // 12:00:10: unlocked
    // The second row is drawn around its own centre line, 3 counts above it.
    const auto& op = canvas.ops.back();
    EXPECT_DOUBLE_EQ(op.y2, 150 - 3);
}

TEST_F(ReviewPageTest, StopTakesEffectAtTheNextSample) {
    fs.put("/d/20261205_120000_0010L.LG0", samples(500, 1));
    int asked = 0;
    DrawReviewPage(canvas, reader, 0, noon, layout, [&] { return ++asked > 30; });
    EXPECT_EQ(colours().size(), 30u);
}

TEST_F(ReviewPageTest, MessagesAndCursor) {
    auto none = DrawReviewPage(canvas, reader, 0, noon, layout);
    EXPECT_EQ(none.message, "No datalog file present.");
    fs.put("/d/20261205_120000_0010L.LG0", samples(50, 1));
    fs.put("/d/20261205_120005_0020L.LG0", samples(50, 1));
    auto mixed = DrawReviewPage(canvas, reader, 0, noon, layout);
    EXPECT_EQ(mixed.message, "Sampling rate mismatch. Mixed data review not possible.");
    EXPECT_EQ(mixed.title, "Warning!");

    ReviewPage page{noon, noon + 20, 10, "", ""};
    EXPECT_EQ(ReviewCursorTime(page, layout, 100, 200, 50, 150), noon + 10 + 5);
    // A page across midnight is as long backwards as it is forwards.
    ReviewPage late{noon + 11 * 3600 + 50 * 60, noon + 12 * 3600 + 10 * 60, 10, "",
                    ""};  // 23:50 to 00:10
    EXPECT_EQ(late.end_epoch - PreviousPageBegin(late), 2 * 20 * 60);
}

}  // namespace
}  // namespace velkantor::datalog

#include <QImage>
#include <filesystem>
#include <sstream>

#include "app/tools.h"
#include "config/settings_file.h"

namespace velkantor::datalog {
namespace {

TEST_F(ReviewPageTest, CommandLineDrawsThePageIntoAnImage) {
    config::Settings settings;
    config::SetDefaultConfiguration(settings, "/s");
    settings.general.ad_type = config::kZeda10;
    fs.put("/s/velkant.ini", config::ConfigurationText(settings));
    fs.put("/s/datalog/20261205_120000_0010L.LG0", samples(3000, 0));
    auto path = (std::filesystem::temp_directory_path() / "velkantor-review-test.png").string();
    std::ostringstream out, err;
    ASSERT_EQ(app::run_review_command({"--station", "/s", "--channel", "1", "--from",
                                       "2026/12/05 12:00:00", "--rows", "2", "--png", path},
                                      fs, out, err),
              0)
        << err.str();
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1000);
    // The first row's zero line is drawn in the locked colour at its centre.
    EXPECT_EQ(image.pixelColor(10, 150), QColor(255, 255, 0));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    std::filesystem::remove(path);

    std::ostringstream out2, err2;
    EXPECT_EQ(app::run_review_command({"--channel", "9"}, fs, out2, err2), 2);
}

// --yscale sets the page's scale; a span without data is said, not drawn blank.
TEST_F(ReviewPageTest, CommandLineScaleAndSpanWithoutData) {
    config::Settings settings;
    config::SetDefaultConfiguration(settings, "/s");
    settings.general.ad_type = config::kZeda10;
    fs.put("/s/velkant.ini", config::ConfigurationText(settings));
    fs.put("/s/datalog/20261205_120000_0010L.LG0", samples(3000, 100));
    auto path = (std::filesystem::temp_directory_path() / "velkantor-review-scale.png").string();
    struct Case {
        const char* scale;  // empty: the station's setting (10)
        int y;              // of the first row's trace: centre 150, minus 100 counts x scale/100
    };
    for (const Case& c : {Case{"", 140}, Case{"100", 50}, Case{"50", 100}}) {
        std::vector<std::string> args = {
            "--station",           "/s",     "--channel", "1",     "--from",
            "2026/12/05 12:00:00", "--rows", "2",         "--png", path};
        if (*c.scale) args.insert(args.end(), {"--yscale", c.scale});
        std::ostringstream out, err;
        ASSERT_EQ(app::run_review_command(args, fs, out, err), 0) << err.str();
        QImage image(QString::fromStdString(path));
        EXPECT_EQ(image.pixelColor(500, c.y), QColor(255, 255, 0)) << c.scale;
    }
    std::filesystem::remove(path);

    std::ostringstream out, err;
    EXPECT_EQ(app::run_review_command({"--station", "/s", "--channel", "1", "--from",
                                       "2026/12/06 12:00:00", "--png", path},
                                      fs, out, err),
              1);
    EXPECT_EQ(err.str(),
              "velkantor review: no datalog of channel 1 from 2026/12/06 12:00:00 to "
              "2026/12/06 12:10:00\n");
    EXPECT_FALSE(std::filesystem::exists(path));
    std::ostringstream out3, err3;
    EXPECT_EQ(app::run_review_command({"--channel", "1", "--yscale", "0"}, fs, out3, err3), 2);
}

}  // namespace
}  // namespace velkantor::datalog
