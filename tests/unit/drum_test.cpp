#include "display/drum.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <random>

#include "platform/fake/memory_file_system.h"
#include "platform/fake/scripted_operator.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/qt_picture_codec.h"

namespace velkantor::display {
namespace {

TEST(DrumGeometry, HoursPerRowRowsAndPositions) {
    struct Case {
        int setting;
        int hours;
        int rows;
    };
    // Outside 2..8 the drum has 3 hours per row; rows are 24 / H rounded half to even.
    const Case cases[] = {{0, 3, 8}, {1, 3, 8}, {2, 2, 12}, {3, 3, 8}, {4, 4, 6},   {5, 5, 5},
                          {6, 6, 4}, {7, 7, 3}, {8, 8, 3},  {9, 3, 8}, {100, 3, 8}, {-4, 3, 8}};
    for (const auto& c : cases) {
        auto g = DrumGeometry::of(c.setting);
        EXPECT_EQ(g.hours_per_row, c.hours) << c.setting;
        EXPECT_EQ(g.rows, c.rows) << c.setting;
        EXPECT_EQ(g.seconds_per_row, c.hours * 3600.0) << c.setting;
    }
    auto g = DrumGeometry::of(3);
    EXPECT_EQ(g.row_of(7), 2);
    EXPECT_EQ(g.x_of(7, 31, 12), 5472);
    EXPECT_EQ(g.row_centre(0), 87500);
    EXPECT_EQ(g.row_centre(7), -87500);
    // With 5 hours the last row covers 20:00 to 25:00.
    EXPECT_EQ(DrumGeometry::of(5).row_of(23), 4);
    EXPECT_EQ(previous_day_yymmdd("2026/03/01"), "260228");
    EXPECT_EQ(previous_day_yymmdd("2024/03/01"), "240229");
    EXPECT_EQ(previous_day_yymmdd("not a date"), "");
}

TEST(DrumPen, OneStrokePerSecondDrawsTheSamePicture) {
    // A day's trace with row jumps, triggered stretches and big swings, drawn both ways.
    platform::QImageCanvas strokes(kDrumWidth, kDrumHeight), segments(kDrumWidth, kDrumHeight);
    DrumGeometry g = DrumGeometry::of(3);
    for (auto* c : {&strokes, &segments}) DrawNewDrum(*c, g, "2026/03/01 Z Test");
    DrumPen fast, reference;
    reference.set_segment_per_sample(true);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 900);
    for (int s = 0; s < 86400; s += 7) {
        int h = s / 3600, m = s / 60 % 60, sec = s % 60;
        bool triggered = (s / 600) % 5 == 0;
        for (int i = 0; i < 20; ++i) {
            auto sample = static_cast<int32_t>(noise(random) * (i == 10 ? 8 : 1));
            if (triggered && i == 15) triggered = false;  // colour changes within a second
            double y = drum_y(g, g.row_of(h), sample, 2, 0);
            auto color = triggered ? kDrumTriggeredTrace : kDrumTrace;
            fast.plot(strokes, g.x_of(h, m, sec), y, g.row_centre(g.row_of(h)), color);
            reference.plot(segments, g.x_of(h, m, sec), y, g.row_centre(g.row_of(h)), color);
        }
    }
    fast.flush(strokes);
    ASSERT_TRUE(strokes.image() == segments.image());
}

// A station's drums on memory, with the real pictures.
class DrumRecorderTest : public ::testing::Test {
protected:
    DrumRecorderTest() {
        settings.general.drum_format = 0;  // BMP: exact pixels
        settings.general.location = "Test Station";
        settings.channels[0].drum_enabled = 1;
        settings.channels[0].sensor_axis = 3;
        EXPECT_TRUE(fs.create_directories("/st/drums"));
    }

    BoardTime at(int h, int m, int s, std::string date = "2026/03/01") {
        return {true, h, m, s, std::move(date)};
    }
    void samples(const BoardTime& now, int n = 10, int32_t value = 1000, bool triggered = false) {
        for (int i = 0; i < n; ++i)
            drums.DrawDrumSample(0, i % 2 ? value : -value, settings, now, triggered);
    }
    std::string file(const std::string& name) { return fs.contents("/st/drums/" + name); }
    QImage image(const std::string& name) {
        std::string bytes = file(name);
        return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                                static_cast<int>(bytes.size()));
    }

    platform::MemoryFileSystem fs;
    platform::QtPictureCodec codec;
    platform::ScriptedOperator op;
    DisplayView view;
    std::vector<std::string> reports;
    config::Settings settings;
    DrumRecorder drums{
        {fs, codec, op, view, "/st/drums", [this](const std::string& t) { reports.push_back(t); }}};
};

TEST_F(DrumRecorderTest, NewDrumMatchesTheGoldenPicture) {
    samples(at(12, 5, 0));
    ASSERT_TRUE(drums.ready(0));
    EXPECT_EQ(file("drum_1.dat"), "2026/03/01\r\n 3\r\n");
    QImage saved = image("drum_1.BMP");
    ASSERT_FALSE(saved.isNull());
    std::string golden = std::string(VELKANTOR_GOLDEN_DIR) + "/new_drum.png";
    if (std::getenv("VELKANTOR_UPDATE_GOLDEN")) saved.save(QString::fromStdString(golden));
    QImage expected(QString::fromStdString(golden));
    ASSERT_FALSE(expected.isNull()) << golden;
    EXPECT_TRUE(saved.convertToFormat(QImage::Format_RGB32) ==
                expected.convertToFormat(QImage::Format_RGB32));
}

TEST_F(DrumRecorderTest, SavesAtTheUpdatePeriodOncePerMinute) {
    samples(at(12, 5, 0));  // set up and saved
    samples(at(12, 5, 1));
    std::string first = file("drum_1.BMP");
    samples(at(12, 19, 59));
    EXPECT_EQ(file("drum_1.BMP"), first);  // 20-minute period: nothing yet
    samples(at(12, 20, 0));
    std::string at_twenty = file("drum_1.BMP");
    EXPECT_NE(at_twenty, first);
    samples(at(12, 20, 1));
    EXPECT_EQ(file("drum_1.BMP"), at_twenty);  // once in the minute
    // The trace of 12:05:01 is at x = 301 s of row 4: blue on the saved picture.
    QImage saved = image("drum_1.BMP");
    int px = static_cast<int>(301.0 / 10800 * kDrumWidth);
    bool blue = false;
    for (int y = 4 * 120; y < 5 * 120; ++y) blue |= saved.pixel(px, y) == qRgb(0, 0, 255);
    EXPECT_TRUE(blue);
}

TEST_F(DrumRecorderTest, RestartOnTheSameDayReloadsTheDrum) {
    samples(at(12, 5, 0));
    samples(at(12, 5, 1), 10, 20000, true);
    drums.CloseDrums(settings);
    EXPECT_FALSE(drums.ready(0));
    std::string closed = file("drum_1.BMP");

    struct Case {
        const char* name;
        std::string date;
        int hours;
        bool reloaded;
    };
    const Case cases[] = {{"same day and hours", "2026/03/01", 3, true},
                          {"hours changed", "2026/03/01", 4, false},
                          {"next day", "2026/03/02", 3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs.put("/st/drums/drum_1.BMP", closed);
        fs.put("/st/drums/drum_1.dat", "2026/03/01\r\n 3\r\n");
        settings.general.drum_hours_per_row = static_cast<int16_t>(c.hours);
        DrumRecorder again{{fs, codec, op, view, "/st/drums", {}}};
        again.DrawDrumSample(0, 0, settings, at(13, 0, 0, c.date), false);
        auto& picture = dynamic_cast<platform::QImageCanvas&>(*again.picture(0));
        // The red stroke of 12:05:01 survives only a reload.
        int px = static_cast<int>(301.0 / 10800 * kDrumWidth);
        bool red = false;
        for (int y = 4 * 120; y < 5 * 120; ++y) red |= picture.pixel(px, y) == kDrumTriggeredTrace;
        EXPECT_EQ(red, c.reloaded);
    }
    // The day before was archived under its own date when the next day began.
    EXPECT_EQ(file("drum_260301_1.BMP"), closed);
}

TEST_F(DrumRecorderTest, MidnightArchivesTheDayAndStartsANewDrum) {
    samples(at(23, 50, 0));
    samples(at(23, 59, 59), 10, 3000);
    // The first sample of the day archives the old drum and sets up the new one.
    samples(at(0, 0, 0, "2026/03/02"), 1);
    ASSERT_TRUE(fs.exists("/st/drums/drum_260301_1.BMP"));
    EXPECT_TRUE(drums.ready(0));
    EXPECT_EQ(drums.drum_date(0), "2026/03/02");
    EXPECT_EQ(file("drum_1.dat"), "2026/03/02\r\n 3\r\n");
    std::string archive = file("drum_260301_1.BMP");
    samples(at(0, 0, 1, "2026/03/02"));
    EXPECT_EQ(file("drum_260301_1.BMP"), archive);  // not archived twice
    // A drum set up within the midnight minute is not archived over the day before.
    DrumRecorder late{{fs, codec, op, view, "/st/drums", {}}};
    late.DrawDrumSample(0, 0, settings, at(0, 0, 30, "2026/03/02"), false);
    late.DrawDrumSample(0, 0, settings, at(0, 0, 31, "2026/03/02"), false);
    EXPECT_EQ(file("drum_260301_1.BMP"), archive);
}

TEST_F(DrumRecorderTest, ClearRequestAsksAndNoLeavesEverything) {
    samples(at(12, 5, 0));
    samples(at(12, 5, 1), 10, 20000);
    std::string image_before = file("drum_1.BMP"), dat_before = file("drum_1.dat");
    op.answers = {false, true};
    drums.request_clear(0);
    samples(at(12, 5, 2), 1);
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text, "Clear Drum image ?");
    EXPECT_EQ(file("drum_1.BMP"), image_before);
    EXPECT_EQ(file("drum_1.dat"), dat_before);

    drums.request_clear(0);
    samples(at(12, 5, 3), 1);
    // Yes: a blank drum is set up at once and saved with today's date.
    EXPECT_EQ(file("drum_1.dat"), "2026/03/01\r\n 3\r\n");
    auto& picture = dynamic_cast<platform::QImageCanvas&>(*drums.picture(0));
    int px = static_cast<int>(301.0 / 10800 * kDrumWidth);
    for (int y = 4 * 120 + 20; y < 5 * 120; ++y) ASSERT_NE(picture.pixel(px, y), kDrumTrace);
}

TEST_F(DrumRecorderTest, BadFilesAndFailedSaves) {
    // An image that is not one: a new blank drum, said once.
    fs.put("/st/drums/drum_1.BMP", "garbage");
    fs.put("/st/drums/drum_1.dat", "2026/03/01\r\n 3\r\n");
    samples(at(12, 5, 0));
    EXPECT_TRUE(drums.ready(0));
    EXPECT_FALSE(reports.empty());
    EXPECT_NE(file("drum_1.BMP"), "garbage");

    // A full disk: the old image stays, drawing goes on.
    std::string saved = file("drum_1.BMP");
    fs.set_full(true);
    samples(at(12, 20, 0));
    EXPECT_EQ(file("drum_1.BMP"), saved);
    EXPECT_TRUE(drums.ready(0));
    fs.set_full(false);

    // A drum never set up is not saved at STOP (it would blank today's image).
    DrumRecorder idle{{fs, codec, op, view, "/st/drums", {}}};
    idle.CloseDrums(settings);
    EXPECT_EQ(file("drum_1.BMP"), saved);
}

}  // namespace
}  // namespace velkantor::display
