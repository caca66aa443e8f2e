#include "gui/review_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "display/drum.h"
#include "gui/drum_window.h"
#include "gui/picture_widget.h"
#include "gui/window_test.h"
#include "platform/real/qt_picture_codec.h"

namespace velkantor::testing {
namespace {

using platform::kChartColors;

// The review window of a loaded station on 2026/03/01 12:00, whose datalog is written by
// hand: 2-byte samples.
class ReviewWindowTest : public WindowTest<gui::ReviewWindow> {
protected:
    ReviewWindowTest() {
        auto& general = rig.station.settings().general;
        general.ad_type = config::kZeda10;
        general.review_rows = 2;
        general.review_chart_speed = 50;  // one pixel per sample: 960 samples a row
        general.review_y_scale = 100;
    }

    std::string label(const char* name) { return find<QLabel>(name)->text().toStdString(); }
    void set_start(const text::DateTime& t) {
        find<QDateEdit>("startviewdate")->setDate(QDate(t.year, t.month, t.day));
        find<QLineEdit>("startviewtime")
            ->setText(QTime(t.hour, t.minute, t.second).toString("HH:mm:ss"));
    }
    std::string start() {
        return (find<QDateEdit>("startviewdate")->date().toString("yyyy/MM/dd") + " " +
                find<QLineEdit>("startviewtime")->text())
            .toStdString();
    }
    // A datalog file: "YYYYMMDD_HHMMSS", the rate, the lock letter, `n` samples of `value`.
    void log_file(const std::string& stamp, int rate, char lock, int n, int16_t value = 0,
                  int ch = 0) {
        std::string bytes;
        for (int i = 0; i < n; ++i) {
            bytes += static_cast<char>(value & 0xFF);
            bytes += static_cast<char>((value >> 8) & 0xFF);
        }
        char name[64];
        std::snprintf(name, sizeof name, "%s_%04d%c.LG%d", stamp.c_str(), rate, lock, ch);
        rig.fs.put(std::string(kStation) + "/datalog/" + name, bytes);
    }
    platform::Color pixel(int x, int y) {
        return find<gui::PictureWidget>("replay")->picture().pixel(x, y);
    }
};

TEST_F(ReviewWindowTest, LoadCorrectsTheLayoutSettingsAndFillsTheControls) {
    struct Case {
        int16_t rows;
        double speed, scale;
        int16_t rows_after;
        double speed_after, scale_after;
    };
    const Case cases[] = {{1, 0, 0, 2, 1, 1}, {12, 80, 250, 8, 80, 250}};
    auto& general = rig.station.settings().general;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        general.review_rows = c.rows;
        general.review_chart_speed = c.speed;
        general.review_y_scale = c.scale;
        general.extract_channels = 5;
        open();
        EXPECT_EQ(general.review_rows, c.rows_after);
        EXPECT_EQ(general.review_chart_speed, c.speed_after);
        EXPECT_EQ(general.review_y_scale, c.scale_after);
        EXPECT_EQ(find<QScrollBar>("rep_rows_adj")->value(), c.rows_after);
        EXPECT_EQ(find<QScrollBar>("rep_chart_adj")->value(), c.speed_after);
        EXPECT_EQ(find<QScrollBar>("rep_scale_adj")->value(), c.scale_after);
    }
    EXPECT_EQ(start(), "2026/03/01 00:00:00");
    EXPECT_EQ(find<QLineEdit>("configfile")->text(), "/station/velkant.ini");
    EXPECT_EQ(find<QLineEdit>("logpath")->text(), "/station");
    const bool ticked[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        auto* box = find<QCheckBox>(("chk_extract(" + std::to_string(i) + ")").c_str());
        EXPECT_EQ(box->isChecked(), ticked[i]) << i;
    }
    EXPECT_EQ(window->windowTitle(), "Review / Extract");

    // The controls store their settings as they change.
    find<QScrollBar>("rep_rows_adj")->setValue(5);
    find<QScrollBar>("rep_scale_adj")->setValue(300);
    QTest::mouseClick(find<QCheckBox>("chk_extract(3)"), Qt::LeftButton);
    QTest::mouseClick(find<QCheckBox>("chk_extract(0)"), Qt::LeftButton);
    EXPECT_EQ(general.review_rows, 5);
    EXPECT_EQ(general.review_y_scale, 300);
    EXPECT_EQ(general.extract_channels, 4 + 8);
}

TEST_F(ReviewWindowTest, PageColoursFollowLockGapsAndFileEnds) {
    // 1 sample per second from 10:00:00: nothing until 10:02, locked for 2 minutes, a gap,
    // unlocked for one minute from 10:06, then nothing.
    log_file("20260301_100200", 1, 'L', 120);
    log_file("20260301_100600", 1, 'N', 60);
    open();
    set_start({2026, 3, 1, 10, 0, 0, 0});
    click("ok_view");
    ASSERT_TRUE(rig.op.shown.empty()) << last_message();
    EXPECT_EQ(label("beg_time"), "2026/03/01 10:00:00");
    EXPECT_EQ(label("end_time"), "2026/03/01 10:32:00");  // 2 rows of 960 samples
    const int centre = gui::ReviewWindow::kReplayHeight / 4;
    struct Case {
        int x;
        platform::Color colour;
    };
    const Case cases[] = {{60, kChartColors[7]},    // before the first file: missing
                          {180, kChartColors[14]},  // locked
                          {300, kChartColors[2]},   // the first file ended before the second
                          {390, kChartColors[4]},   // unlocked
                          {700, kChartColors[2]}};  // past the last file's end
    for (const auto& c : cases) EXPECT_EQ(pixel(c.x, centre), c.colour) << c.x;
    EXPECT_TRUE(find<QPushButton>("nextpage")->isEnabled());
}

TEST_F(ReviewWindowTest, PagingAcrossMidnight) {
    rig.station.settings().general.review_chart_speed = 80;  // 600 samples a row: 20 minutes
    log_file("20260228_234000", 1, 'L', 3600);
    open();
    EXPECT_FALSE(find<QPushButton>("nextpage")->isEnabled()) << "no page on screen yet";
    set_start({2026, 2, 28, 23, 50, 0, 0});
    click("ok_view");
    ASSERT_TRUE(rig.op.shown.empty()) << last_message();
    EXPECT_EQ(label("end_time"), "2026/03/01 00:10:00");

    click("nextpage");
    EXPECT_EQ(start(), "2026/03/01 00:10:00");
    EXPECT_EQ(label("beg_time"), "2026/03/01 00:10:00");
    EXPECT_EQ(label("end_time"), "2026/03/01 00:30:00");

    click("prevpage");
    EXPECT_EQ(start(), "2026/02/28 23:50:00");
    click("prevpage");  // a page of 20 minutes, not 19:59
    EXPECT_EQ(start(), "2026/02/28 23:30:00");
    EXPECT_EQ(label("end_time"), "2026/02/28 23:50:00");

    click("rewind");
    EXPECT_EQ(start(), "2026/02/28 00:00:00");
    EXPECT_EQ(label("beg_time"), "2026/02/28 00:00:00");
}

TEST_F(ReviewWindowTest, PointerSetsTheCursorAndDoubleClickReviewsFromThere) {
    rig.station.settings().general.review_chart_speed = 80;  // 1.6 pixels per sample
    log_file("20260228_234000", 1, 'L', 3600);
    open();
    auto* replay = find<gui::PictureWidget>("replay");
    // One screen pixel per picture pixel.
    replay->setFixedSize(gui::ReviewWindow::kReplayWidth, gui::ReviewWindow::kReplayHeight);
    window->resize(window->sizeHint());
    window->layout()->activate();
    ASSERT_EQ(replay->size(),
              QSize(gui::ReviewWindow::kReplayWidth, gui::ReviewWindow::kReplayHeight));

    QTest::mouseClick(replay, Qt::LeftButton, {}, QPoint(300, 300));
    EXPECT_EQ(label("cursor"), "") << "no page on screen";
    EXPECT_EQ(start(), "2026/03/01 00:00:00");

    set_start({2026, 2, 28, 23, 50, 0, 0});
    click("ok_view");
    // Second row (of 288 pixels), 300 pixels in: 600 + 187 samples after 23:50:00.
    QTest::mouseClick(replay, Qt::LeftButton, {}, QPoint(300, 298));
    EXPECT_EQ(label("cursor"), "2026/03/01 00:03:07");
    EXPECT_EQ(start(), "2026/03/01 00:03:07");
    EXPECT_EQ(label("beg_time"), "2026/02/28 23:50:00") << "a click does not draw";

    QTest::mouseDClick(replay, Qt::LeftButton, {}, QPoint(16, 10));
    EXPECT_EQ(start(), "2026/02/28 23:50:10");
    EXPECT_EQ(label("beg_time"), "2026/02/28 23:50:10");
}

TEST_F(ReviewWindowTest, StopDrawEndsThePageAndNothingElseStartsMeanwhile) {
    rig.station.settings().general.review_rows = 8;
    log_file("20260301_100000", 1, 'L', 20000);
    open();
    set_start({2026, 3, 1, 10, 0, 0, 0});
    find<QCheckBox>("chk_extract(0)")->setChecked(true);
    bool was_busy = false;
    // Runs at the drawing's first yield to the event loop.
    QTimer::singleShot(0, window.get(), [&] {
        was_busy = window->busy();
        EXPECT_FALSE(find<QPushButton>("extract")->isEnabled());
        QTest::mouseDClick(find<gui::PictureWidget>("replay"), Qt::LeftButton, {}, QPoint(5, 5));
        click("extract");
        click("ok_view");
        click("stop_draw");
    });
    click("ok_view");
    EXPECT_TRUE(was_busy);
    EXPECT_FALSE(window->busy());
    EXPECT_EQ(start(), "2026/03/01 10:00:00");
    EXPECT_TRUE(rig.op.shown.empty()) << last_message();
    EXPECT_FALSE(rig.fs.exists("/station/events/20260301_100000.CH1"));
    const int row_height = gui::ReviewWindow::kReplayHeight / 8;
    EXPECT_EQ(pixel(100, row_height / 2), kChartColors[14]);
    EXPECT_EQ(pixel(900, row_height / 2), kChartColors[0]) << "the first row was not finished";
    EXPECT_EQ(pixel(100, row_height * 5 / 2), kChartColors[0]);
    EXPECT_EQ(label("end_time"), "2026/03/01 12:08:00");
    EXPECT_TRUE(find<QPushButton>("extract")->isEnabled());
}

TEST_F(ReviewWindowTest, PagesThatCannotBeDrawn) {
    open();
    click("ok_view");
    EXPECT_EQ(last_message(), "Warning!: No datalog file present.");
    EXPECT_EQ(label("beg_time"), "");

    log_file("20260301_100000", 1, 'L', 10);
    log_file("20260301_100030", 2, 'L', 100);
    set_start({2026, 3, 1, 10, 0, 0, 0});
    click("ok_view");
    EXPECT_EQ(last_message(), "Warning!: Sampling rate mismatch. Mixed data review not possible.");
    EXPECT_EQ(label("end_time"), "");
    EXPECT_EQ(window->page(), nullptr);
    EXPECT_FALSE(find<QPushButton>("nextpage")->isEnabled());
}

TEST_F(ReviewWindowTest, ExtractionProgressReachesTheEnd) {
    rig.station.settings().channels[0].sps_index = 7;  // 10 per second
    log_file("20260301_100000", 10, 'L', 10 * 60 * 5, 42);
    open();
    set_start({2026, 3, 1, 10, 0, 0, 0});
    find<QLineEdit>("duration")->setText("5");
    find<QCheckBox>("chk_extract(0)")->setChecked(true);
    std::vector<int> progress;
    QObject::connect(find<QProgressBar>("exbar"), &QProgressBar::valueChanged,
                     [&](int value) { progress.push_back(value); });
    click("extract");
    EXPECT_TRUE(rig.op.shown.empty()) << last_message();
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
    const std::string file = rig.fs.contents("/station/events/20260301_100000.CH1");
    EXPECT_NE(file.find("! Extract track /station/datalog - 2026/03/01 10:00:00 - "
                        "2026/03/01 10:05:00\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("Number of Samples:       3000 "), std::string::npos);
    EXPECT_NE(file.find("Data:\r\n 42\r\n"), std::string::npos);
}

TEST_F(ReviewWindowTest, ExtractionRefusals) {
    log_file("20260301_100000", 10, 'L', 600);
    rig.station.settings().channels[0].sps_index = 7;
    open();
    set_start({2026, 3, 1, 10, 0, 0, 0});
    struct Case {
        const char* name;
        const char* configfile;
        const char* duration;
        bool channel;
        const char* message;
        const char* duration_after;
    };
    const Case cases[] = {
        {"unreadable configuration", "/nowhere/velkant.ini", "1", true,
         "Error: The settings file /nowhere/velkant.ini cannot be read.", "1"},
        {"no channel ticked", "/station/velkant.ini", "abc", false,
         "Warning!: No data has been extracted.\r\nCheck is the system have channel enabled to "
         "the datalog function.",
         "1"},
        {"too long", "/station/velkant.ini", "99999", false,
         "Warning!: No data has been extracted.", "1440"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.op.shown.clear();
        find<QLineEdit>("configfile")->setText(c.configfile);
        find<QLineEdit>("duration")->setText(c.duration);
        find<QCheckBox>("chk_extract(0)")->setChecked(c.channel);
        click("extract");
        EXPECT_EQ(last_message().substr(0, std::string(c.message).size()), c.message);
        EXPECT_EQ(find<QLineEdit>("duration")->text(), c.duration_after);
        EXPECT_FALSE(rig.fs.exists("/station/events/20260301_100000.CH1"));
    }
}

TEST_F(ReviewWindowTest, DoubleClickedPathsAskFirst) {
    open();
    auto* logpath = find<QLineEdit>("logpath");
    logpath->setFocus();
    logpath->selectAll();
    QTest::keyClicks(logpath, "/mnt/other");
    EXPECT_EQ(rig.station.settings().general.datalog_folder, "/mnt/other");

    rig.op.answers = {false, true};
    QTest::mouseDClick(logpath, Qt::LeftButton);
    EXPECT_EQ(last_message(), "Question: Set Standard VELKANTOR path?");
    EXPECT_EQ(rig.station.settings().general.datalog_folder, "/mnt/other");
    QTest::mouseDClick(logpath, Qt::LeftButton);
    EXPECT_EQ(rig.station.settings().general.datalog_folder, "/station");
    EXPECT_EQ(logpath->text(), "/station");

    auto* configfile = find<QLineEdit>("configfile");
    configfile->setText("/mnt/other/velkant.ini");
    rig.op.answers = {true};
    QTest::mouseDClick(configfile, Qt::LeftButton);
    EXPECT_EQ(last_message(), "Question: Select default configuration file for extract?");
    EXPECT_EQ(configfile->text(), "/station/velkant.ini");
}

TEST_F(ReviewWindowTest, ShowDrumOfTodayOrAnArchivedDay) {
    rig.station.settings().general.drum_format = 0;  // BMP
    platform::QtPictureCodec codec;
    auto put_drum = [&](const std::string& name, platform::Color colour) {
        auto picture = codec.make_canvas(display::kDrumWidth, display::kDrumHeight);
        picture->clear(colour);
        rig.fs.put("/station/drums/" + name, codec.encode(*picture, platform::ImageFormat::bmp, 0));
    };
    put_drum("drum_1.BMP", kChartColors[9]);
    put_drum("drum_260228_2.BMP", kChartColors[12]);
    open();
    auto shown_colour = [&] {
        QImage image = window->drum_window()->findChild<QWidget*>("drum_pic")->grab().toImage();
        const QColor c = image.pixelColor(10, 10);
        return platform::Color{static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                               static_cast<uint8_t>(c.blue())};
    };

    click("cmd_drum");  // today, channel 1
    ASSERT_NE(window->drum_window(), nullptr) << last_message();
    EXPECT_TRUE(window->drum_window()->isVisible());
    EXPECT_EQ(window->drum_window()->windowTitle(), "Drum Channel 1 - 2026/03/01");
    EXPECT_EQ(shown_colour(), kChartColors[9]);

    set_start({2026, 2, 28, 0, 0, 0, 0});
    find<QComboBox>("rep_ch")->setCurrentIndex(1);
    click("cmd_drum");
    EXPECT_EQ(window->drum_window()->windowTitle(), "Drum Channel 2 - 2026/02/28");
    EXPECT_EQ(shown_colour(), kChartColors[12]);

    rig.fs.put("/station/drums/drum_260227_2.BMP", "not a picture");
    set_start({2026, 2, 27, 0, 0, 0, 0});
    click("cmd_drum");
    EXPECT_EQ(last_message(),
              "Warning!: The drum image /station/drums/drum_260227_2.BMP cannot be read.");
    set_start({2026, 2, 26, 0, 0, 0, 0});
    click("cmd_drum");
    EXPECT_EQ(last_message(), "Warning!: No drum image /station/drums/drum_260226_2.BMP.");
    EXPECT_EQ(shown_colour(), kChartColors[12]) << "the last drum shown stays";
}

TEST_F(ReviewWindowTest, CloseHidesTheReplayAreaUntilTheNextPage) {
    log_file("20260301_000000", 1, 'L', 100);
    open();
    click("rep_close");
    EXPECT_FALSE(find<gui::PictureWidget>("replay")->isVisible());
    click("ok_view");
    EXPECT_TRUE(find<gui::PictureWidget>("replay")->isVisible());
}

// A time typed into the Time box is the time: the typing replaces the whole box, wherever it
// was clicked or however it got the focus.
TEST_F(ReviewWindowTest, ATypedTimeKeepsItsHours) {
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* box = find<QLineEdit>("startviewtime");
    auto click_at = [box](int x) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(x, box->height() / 2));
    };
    struct Case {
        const char* how;
        std::function<void()> focus;
        const char* typed;
        const char* time;
    };
    const Case cases[] = {
        {"click on the seconds", [&] { click_at(box->width() - 8); }, "14:35:20", "14:35:20"},
        {"click on the minutes", [&] { click_at(box->width() / 3); }, "14:35:20", "14:35:20"},
        {"tab", [&] { box->setFocus(Qt::TabFocusReason); }, "14:35:20", "14:35:20"},
        {"short form", [&] { click_at(4); }, "9:05", "09:05:00"},
        {"not a time", [&] { click_at(4); }, "noon", "00:00:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        find<QPushButton>("ok_view")->setFocus();
        set_start({2026, 3, 1, 0, 0, 0, 0});
        c.focus();
        QTest::keyClicks(box, c.typed);
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(start(), std::string("2026/03/01 ") + c.time);
    }
}

}  // namespace
}  // namespace velkantor::testing
