#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <array>
#include <functional>

#include "app/station_displays.h"
#include "config/rates.h"
#include "config/settings_file.h"
#include "display/displays.h"
#include "events/event_file.h"
#include "gui/display_windows.h"
#include "gui/drum_window.h"
#include "gui/fft_window.h"
#include "gui/hardware_setup_window.h"
#include "platform/real/qt_picture_codec.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

// The main window on a station in memory, with the simulated board on virtual time.
class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
        : displays(app::display_source(rig.station), codec, windows),
          panel(rig.station, displays,
                {[this] { return rig.station.start(); },
                 [this] { rig.station.stop(); },
                 [this] { exited = true; },
                 {},
                 {},
                 {}}) {
        windows.attach(&displays, &rig.station.settings());
    }

    template <typename T>
    T* find(const char* name) {
        auto* widget = panel.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    void type(const char* name, const char* text) {
        auto* edit = find<QLineEdit>(name);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QString caption(const char* name) { return find<QLabel>(name)->text(); }
    // START on a simulated ZEDA18 board with the given rate list indices (after load() and
    // the test's own settings).
    void start_run(std::array<int16_t, 4> rates) {
        panel.reload_controls();
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kZeda18;
        for (size_t i = 0; i < 4; ++i) {
            settings.channels[i].sps_index = rates[i];
            config::UpdateDerivedCounts(settings.channels[i]);
        }
        rig.attach_board();
        click("cmd_start");
        ASSERT_TRUE(rig.station.in_run());
    }
    // Channel 1 records events by hand only: an amplitude trigger the signal never reaches,
    // and a stop level no sample is below, so an event lasts until its manual stop.
    void enable_recording() {
        auto& c = rig.station.settings().channels[0];
        c.record_enabled = 1;
        c.trigger_mode = 0;
        c.event_extension = "CH1";
        c.start_params = "1000000,2,0.5,1,30,3";
        c.stop_params = "0,0.5,2,10";
        config::DecodeStartParams(c);
        config::DecodeStopParams(c);
    }
    void run_for(double seconds) { rig.host.run_until(rig.clock.epoch_seconds() + seconds); }
    void finish_stopping() {
        while (rig.station.in_run()) {
            if (rig.station.pass().ended) break;
        }
    }
    std::vector<std::string> event_files() {
        std::vector<std::string> files;
        std::string folder = std::string(kStation) + "/events/";
        for (const auto& name : rig.fs.list_directory(folder)) {
            if (!rig.fs.is_directory(folder + name)) files.push_back(name);
        }
        return files;
    }

    StationRig rig;
    platform::QtPictureCodec codec;
    gui::DisplayWindows windows;
    display::Displays displays;
    gui::MainWindow panel;
    bool exited = false;
};

TEST_F(MainWindowTest, LoadOnAnEmptyStationMakesFoldersAndDefaults) {
    ASSERT_EQ(panel.load(), "");
    for (const char* folder : {"events", "datalog", "drums", "events/sent"}) {
        EXPECT_TRUE(rig.fs.is_directory(std::string(kStation) + "/" + folder)) << folder;
        EXPECT_FALSE(rig.fs.exists(std::string(kStation) + "/" + folder + "/test.$%&"));
    }
    EXPECT_TRUE(rig.fs.exists(std::string(kStation) + "/velkant.ini"));
    EXPECT_EQ(caption("ch_selected"), "1");
    EXPECT_EQ(find<QLineEdit>("location")->text().toStdString(),
              rig.station.settings().general.location);
    EXPECT_TRUE(panel.windowTitle().startsWith("VELKANTOR 2.28"));
}

// With the page on, the status bar offers it as a link the desktop's browser opens; without,
// nothing is offered.
TEST_F(MainWindowTest, OffersTheStationsPageWhenItIsOn) {
    ASSERT_EQ(panel.load(), "");
    auto* link = find<QLabel>("page_link");
    EXPECT_TRUE(link->isHidden());
    panel.show_page_link("http://127.0.0.1:8080/");
    EXPECT_FALSE(link->isHidden());
    EXPECT_TRUE(link->openExternalLinks());
    EXPECT_TRUE(link->text().contains("href=\"http://127.0.0.1:8080/\""))
        << link->text().toStdString();
    panel.show_page_link("");
    EXPECT_TRUE(link->isHidden());
}

// Loading shows the settings and writes none of them: a box that was filled after the first
// channel was selected used to store its emptiness into channel 1 (extension "", alarm 0).
TEST_F(MainWindowTest, LoadShowsEverySettingAndChangesNone) {
    config::Settings written;
    config::SetDefaultConfiguration(written, kStation);
    written.general.location = "Monte Somma";
    written.general.coordinates = "14.4E 40.8N";
    written.general.elevation = "1132";
    written.general.no_charting = 1;
    written.general.y_scale_all = 1;
    written.general.chart_speed = 37;
    const char* extensions[] = {"SHZ", "BHN", "E", "XYZ"};
    for (size_t i = 0; i < 4; ++i) {
        auto& c = written.channels[i];
        int16_t k = static_cast<int16_t>(i);
        c.sps_index = static_cast<int16_t>(7 + i);
        c.sensor_axis = static_cast<int16_t>(4 - i);
        c.dc_offset = -120 - 7 * k;
        c.y_scale = 2 + k;  // different scales even with "All chs"
        c.record_enabled = k % 2 == 0;
        c.alarm_enabled = k % 2 == 1;
        c.alarm_threshold = static_cast<int16_t>(1234 + k);
        c.extend_trigger = k == 2;
        c.invert = k == 1;
        c.drum_enabled = k == 3;
        c.drum_hidden = k == 3;
        c.datalog_enabled = k != 1;
        c.fft_enabled = k == 0;
        c.auto_offset = k == 2;
        c.event_extension = extensions[i];
    }
    rig.fs.put(std::string(kStation) + "/velkant.ini", config::ConfigurationText(written));
    config::Settings read;
    config::ReadConfiguration(read, rig.fs, kStation);
    const std::string expected = config::ConfigurationText(read);

    ASSERT_EQ(panel.load(), "");
    EXPECT_EQ(config::ConfigurationText(rig.station.settings()), expected);
    EXPECT_EQ(find<QLineEdit>("location")->text(), "Monte Somma");
    EXPECT_EQ(find<QLineEdit>("coordinates")->text(), "14.4E 40.8N");
    EXPECT_EQ(find<QLineEdit>("elevation")->text(), "1132");
    EXPECT_TRUE(find<QCheckBox>("nocharting")->isChecked());
    EXPECT_TRUE(find<QCheckBox>("zallch")->isChecked());
    EXPECT_EQ(find<QScrollBar>("chartspeed1")->value(), 37);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i + 1);
        const auto& c = written.channels[i];
        EXPECT_EQ(caption("ch_selected"), QString::number(i + 1));
        EXPECT_EQ(find<QComboBox>("sps_select")->currentIndex(), c.sps_index);
        EXPECT_EQ(find<QComboBox>("axis_select")->currentIndex(), c.sensor_axis);
        EXPECT_EQ(find<QLineEdit>("dc_offset")->text(), QString::number(c.dc_offset));
        EXPECT_EQ(find<QLineEdit>("extension")->text().toStdString(), c.event_extension);
        EXPECT_EQ(find<QLineEdit>("alarm_soglia")->text(), QString::number(c.alarm_threshold));
        EXPECT_EQ(find<QScrollBar>("y_scale")->value(), static_cast<int>(c.y_scale));
        const std::pair<const char*, int16_t> boxes[] = {
            {"ch_enabled", c.record_enabled},  {"alarm", c.alarm_enabled},
            {"all_trigger", c.extend_trigger}, {"invert_data", c.invert},
            {"drum", c.drum_enabled},          {"hide_drum", c.drum_hidden},
            {"logging", c.datalog_enabled},    {"fft_enabled", c.fft_enabled},
            {"auto_offset", c.auto_offset}};
        for (const auto& [name, value] : boxes) {
            EXPECT_EQ(find<QCheckBox>(name)->isChecked(), value != 0) << name;
        }
        click("ch_plus");
    }
    // Paging through the channels stored nothing either, and SAVE writes what was read.
    EXPECT_EQ(config::ConfigurationText(rig.station.settings()), expected);
    click("cmd_save");
    EXPECT_EQ(rig.file("velkant.ini"), expected);
}

TEST_F(MainWindowTest, ChannelSelectionReloadsTheControls) {
    ASSERT_EQ(panel.load(), "");
    auto& channels = rig.station.settings().channels;
    channels[2].drum_enabled = 1;
    channels[2].event_extension = "ZZZ";
    click("ch_minus");  // stays on 1
    EXPECT_EQ(caption("ch_selected"), "1");
    EXPECT_FALSE(find<QCheckBox>("drum")->isChecked());
    click("ch_plus");
    click("ch_plus");
    EXPECT_EQ(caption("ch_selected"), "3");
    EXPECT_TRUE(find<QCheckBox>("drum")->isChecked());
    EXPECT_EQ(find<QLineEdit>("extension")->text(), "ZZZ");
    click("ch_plus");
    click("ch_plus");  // stays on 4
    EXPECT_EQ(caption("ch_selected"), "4");
    // A check box edits the channel shown, and only that one.
    QTest::mouseClick(find<QCheckBox>("fft_enabled"), Qt::LeftButton);
    EXPECT_EQ(channels[3].fft_enabled, 1);
    EXPECT_EQ(channels[2].fft_enabled, 0);
}

TEST_F(MainWindowTest, TextFieldsAreClampedWhenLeft) {
    ASSERT_EQ(panel.load(), "");
    struct Case {
        const char* field;
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {{"dc_offset", "9000000", "8300000"}, {"dc_offset", "-12.5abc", "-12.5"},
                          {"dc_offset", "nonsense", "0"},      {"alarm_soglia", "-40", "0"},
                          {"alarm_soglia", "99999", "32767"},  {"extension", "ABCDEF", "ABC"}};
    for (const auto& c : cases) {
        type(c.field, c.typed);
        EXPECT_EQ(find<QLineEdit>(c.field)->text().toStdString(), c.shown)
            << c.field << " " << c.typed;
    }
    const auto& channel = rig.station.settings().channels[0];
    EXPECT_EQ(channel.alarm_threshold, 32767);
    EXPECT_EQ(channel.event_extension, "ABC");
}

TEST_F(MainWindowTest, RefusedRatesReturnToThePreviousOne) {
    ASSERT_EQ(panel.load(), "");
    auto& settings = rig.station.settings();
    auto index_of = [](const char* text) {
        for (int i = 0; i < config::kRateEntries; ++i)
            if (config::kRateTexts[static_cast<size_t>(i)] == text) return i;
        return -1;
    };
    struct Case {
        int16_t ad_type;
        const char* rate;
        const char* message;  // empty: allowed
    };
    const Case cases[] = {
        {config::kZeda30, "20", "Freq not allowed for the ZEDA30 16 channel board"},
        {config::kZeda18, "15", "Freq to be used only with DATAQ DI194RS a/d board"},
        {config::kDataqDi194rs, "100", "Freq to be used only with ZEDAx a/d boards"},
        {config::kZeda20, "2", "Freq not allowed for the ZEDA20 24 bit board"},
        {config::kZeda30, "50", ""},
    };
    auto* list = find<QComboBox>("sps_select");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        settings.general.ad_type = c.ad_type;
        for (auto& ch : settings.channels) ch.sps_index = static_cast<int16_t>(index_of("10"));
        panel.select_channel(0);
        rig.op.shown.clear();
        list->setCurrentIndex(index_of(c.rate));
        if (*c.message) {
            ASSERT_EQ(rig.op.shown.size(), 1u);
            EXPECT_EQ(rig.op.shown[0].text, c.message);
            EXPECT_EQ(list->currentIndex(), index_of("10"));
            EXPECT_EQ(settings.channels[0].sps_index, index_of("10"));
        } else {
            EXPECT_TRUE(rig.op.shown.empty());
            // One rate for every channel that is on.
            for (const auto& ch : settings.channels) EXPECT_EQ(ch.sps_index, index_of(c.rate));
        }
    }
}

TEST_F(MainWindowTest, SaveWritesAndExitDoesNot) {
    ASSERT_EQ(panel.load(), "");
    std::string ini = std::string(kStation) + "/velkant.ini";
    std::string before = rig.fs.contents(ini);
    type("location", "Monte Somma");
    panel.close();  // EXIT
    EXPECT_TRUE(exited);
    EXPECT_EQ(rig.fs.contents(ini), before);
    click("cmd_save");
    EXPECT_NE(rig.fs.contents(ini).find("Monte Somma"), std::string::npos);
}

TEST_F(MainWindowTest, AcquisitionDrawsChartsAndDrum) {
    ASSERT_EQ(panel.load(), "");
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) c.sps_index = 15;
    settings.channels[0].drum_enabled = 1;
    rig.attach_board();
    click("cmd_start");
    ASSERT_TRUE(rig.station.in_run());
    EXPECT_FALSE(find<QPushButton>("cmd_start")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("cmd_stop")->isEnabled());
    rig.host.run_until(rig.clock.epoch_seconds() + 20);
    // The trace is light yellow on the channel charts.
    auto* chart = panel.findChild<gui::PictureWidget*>("chp(0)");
    ASSERT_NE(chart, nullptr);
    int yellow = 0;
    const QImage& image = chart->picture().image();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) yellow += image.pixel(x, y) == qRgb(255, 255, 0);
    EXPECT_GT(yellow, 100);
    ASSERT_NE(windows.drum_window(0), nullptr);
    EXPECT_TRUE(windows.drum_window(0)->isVisible());
    EXPECT_EQ(windows.drum_window(0)->objectName(), "drum1");

    click("cmd_stop");
    while (rig.station.in_run()) {
        if (rig.station.pass().ended) break;
    }
    EXPECT_TRUE(find<QPushButton>("cmd_start")->isEnabled());
    EXPECT_EQ(windows.drum_window(0), nullptr) << "STOP saves and closes the drums";
    EXPECT_FALSE(rig.file("drums/drum_1.JPG").empty());
}

// An event recorded on the desktop is named with the channel's extension, as the settings
// say (the window's load once blanked channel 1's and named the files "YYYYMMDD_HHMMSS.").
TEST_F(MainWindowTest, EventFilesOnTheDesktopCarryTheChannelExtension) {
    ASSERT_EQ(panel.load(), "");
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) c.sps_index = 15;
    auto& first = settings.channels[0];
    first.record_enabled = 1;
    first.trigger_mode = 0;  // amplitude: the board's noise starts an event at once
    first.start_amplitude = 50;
    first.stop_amplitude = 10;
    first.post_event_samples = 200;
    first.max_event_samples = 400;
    rig.attach_board();
    click("cmd_start");
    ASSERT_TRUE(rig.station.in_run());
    rig.host.run_until(rig.clock.epoch_seconds() + 20);
    // STOP is refused while a channel records: no new event, and the last one ends.
    first.start_amplitude = 1000000;
    rig.host.run_until(rig.clock.epoch_seconds() + 10);
    click("cmd_stop");
    ASSERT_FALSE(rig.station.run().acquisition_running == 1);
    while (rig.station.in_run()) {
        if (rig.station.pass().ended) break;
    }
    auto names = rig.fs.list_directory(std::string(kStation) + "/events");
    int events = 0;
    for (const auto& name : names) {
        if (name == "sent") continue;
        ++events;
        EXPECT_EQ(name.substr(name.size() - 4), ".CH1") << name;
        std::string bytes = rig.file("events/" + name);
        EXPECT_NE(bytes.find("Component Name: CH1"), std::string::npos) << name;
    }
    EXPECT_GT(events, 0);
}

TEST_F(MainWindowTest, ChartClicksSelectAndZoom) {
    ASSERT_EQ(panel.load(), "");
    auto* chart = panel.findChild<gui::PictureWidget*>("chp(2)");
    QTest::mouseClick(chart, Qt::LeftButton);
    EXPECT_EQ(caption("ch_selected"), "3");
    EXPECT_EQ(displays.charts().zoom_channel(), -1);
    QTest::mouseDClick(chart, Qt::LeftButton);
    EXPECT_EQ(displays.charts().zoom_channel(), 2);
    EXPECT_FALSE(panel.findChild<gui::PictureWidget*>("chp(0)")->isVisibleTo(&panel));
    EXPECT_TRUE(panel.findChild<gui::PictureWidget*>("chzoom")->isVisibleTo(&panel));
    QTest::mouseClick(panel.findChild<gui::PictureWidget*>("chzoom"), Qt::LeftButton);
    EXPECT_EQ(displays.charts().zoom_channel(), -1);
    EXPECT_TRUE(panel.findChild<gui::PictureWidget*>("chp(0)")->isVisibleTo(&panel));
}

// The run's indicators: the board time of the samples, the selected channel's measured rate
// and (in service mode) the loop's idle passes; none of them outlives STOP.
TEST_F(MainWindowTest, RunIndicatorsFollowTheSelectedChannelAndClearAtStop) {
    ASSERT_EQ(panel.load(), "");
    rig.station.settings().general.service_mode = 1;
    start_run({15, 12, 4, 0});  // 100, 50, 1 per second, off
    ASSERT_FALSE(HasFatalFailure());
    run_for(5);
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$")
                    .match(caption("utc_clock"))
                    .hasMatch())
        << caption("utc_clock").toStdString();
    EXPECT_EQ(caption("true_sps"), "100");
    click("ch_plus");
    EXPECT_EQ(caption("true_sps"), "50") << "the selected channel's count, not channel 1's";
    click("ch_plus");
    EXPECT_EQ(caption("true_sps"), "1") << "below 2 per second: the configured rate";
    auto* idle = find<QLabel>("donothing");
    EXPECT_TRUE(idle->isVisibleTo(&panel));
    bool number = false;
    idle->text().toDouble(&number);
    EXPECT_TRUE(number) << idle->text().toStdString();

    click("cmd_stop");
    finish_stopping();
    for (const char* label : {"utc_clock", "true_sps", "donothing"}) {
        EXPECT_TRUE(caption(label).isEmpty()) << label;
    }
}

TEST_F(MainWindowTest, IdlePassesAreAServiceFigureOnly) {
    ASSERT_EQ(panel.load(), "");
    EXPECT_FALSE(find<QLabel>("donothing")->isVisibleTo(&panel));
}

// Counts the layout requests that reach any widget.
class LayoutRequests : public QObject {
public:
    LayoutRequests() { QCoreApplication::instance()->installEventFilter(this); }
    ~LayoutRequests() override { QCoreApplication::instance()->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) ++count;
        return false;
    }
};

// The run's indicators change up to ten times a second (the sample time) or once a second:
// a new text repaints its label and nothing else. A label free to change its size laid the
// whole window out again at each of them, which doubled the desktop's CPU.
TEST_F(MainWindowTest, RunIndicatorsChangeWithoutLayingTheWindowOut) {
    ASSERT_EQ(panel.load(), "");
    rig.station.settings().general.service_mode = 1;
    panel.reload_controls();
    panel.show();
    // The window's own layout settles first (a layout can ask for another one).
    LayoutRequests settling;
    for (int round = 0; round < 10; ++round) {
        settling.count = 0;
        QCoreApplication::sendPostedEvents();
        if (settling.count == 0) break;
    }
    struct Case {
        const char* label;
        std::function<void(int)> show;  // the i-th new figure
        QString widest;
    };
    const std::array<double, 4> configured{1200, 50, 1, 0};
    const Case cases[] = {
        {"utc_clock",
         [&](int i) { panel.show_sample_time(i % 2 ? "11:11:11.111" : "23:58:08.900"); },
         "23:58:08.900"},
        {"true_sps",
         [&](int i) {
             panel.show_second_sample_counts({i % 2 ? 1.0 : 1200.0, 50, 1, 0}, configured);
         },
         "1200"},
        {"donothing", [&](int i) { panel.show_idle_passes(i % 2 ? 7 : 1234567); }, "1234567"},
    };
    for (const auto& c : cases) {
        LayoutRequests requests;
        auto* label = find<QLabel>(c.label);
        for (int i = 0; i < 20; ++i) {
            c.show(i);
            QCoreApplication::sendPostedEvents();
        }
        EXPECT_EQ(requests.count, 0) << c.label;
        c.show(0);
        EXPECT_EQ(label->text(), c.widest) << c.label;
        EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(c.widest))
            << c.label << ": the widest figure is cut";
    }
}

// A manual stop switches the channel's recording off; the box shows it, so one click
// enables it again and REC records anew.
TEST_F(MainWindowTest, ManualStopClearsRecordingEnabled) {
    ASSERT_EQ(panel.load(), "");
    enable_recording();
    start_run({15, 0, 0, 0});
    ASSERT_FALSE(HasFatalFailure());
    auto* enabled = find<QCheckBox>("ch_enabled");
    ASSERT_TRUE(enabled->isChecked());
    run_for(3);
    click("man_record(0)");
    run_for(3);
    ASSERT_EQ(event_files().size(), 1u) << ::testing::PrintToString(event_files());
    EXPECT_EQ(find<QPushButton>("man_record(0)")->text(), "STOP");
    click("man_record(0)");
    run_for(2);
    EXPECT_EQ(find<QPushButton>("man_record(0)")->text(), "REC");
    EXPECT_EQ(rig.station.settings().channels[0].record_enabled, 0);
    EXPECT_FALSE(enabled->isChecked());

    QTest::mouseClick(enabled, Qt::LeftButton);
    EXPECT_EQ(rig.station.settings().channels[0].record_enabled, 1);
    run_for(1);
    click("man_record(0)");
    run_for(3);
    EXPECT_EQ(event_files().size(), 2u) << "REC records again after one click on the box";
}

// The title bar's close while acquiring (EXIT is disabled, STOP too while an event records)
// asks first, and ends the run through STOP's exit sequence before the program.
TEST_F(MainWindowTest, ClosingWhileAcquiringAsksAndFinishesTheEvent) {
    ASSERT_EQ(panel.load(), "");
    enable_recording();
    start_run({15, 0, 0, 0});
    ASSERT_FALSE(HasFatalFailure());
    panel.show();
    run_for(3);
    click("man_record(0)");
    run_for(3);
    ASSERT_EQ(event_files().size(), 1u) << ::testing::PrintToString(event_files());
    EXPECT_FALSE(find<QPushButton>("cmd_stop")->isEnabled()) << "STOP waits for the event";

    rig.op.answers.push_back(false);
    EXPECT_FALSE(panel.close());
    EXPECT_EQ(rig.op.shown.back().kind, "question");
    EXPECT_TRUE(rig.station.in_run());
    EXPECT_TRUE(panel.isVisible());
    EXPECT_FALSE(exited);

    rig.op.answers.push_back(true);
    panel.close();
    finish_stopping();
    EXPECT_FALSE(rig.station.in_run());
    QCoreApplication::processEvents();
    EXPECT_TRUE(exited);
    EXPECT_FALSE(panel.isVisible());
    std::string event = rig.file("events/" + event_files().front());
    EXPECT_EQ(event.find(events::kCountPlaceholder), std::string::npos)
        << "the event file is finished with its count";
    auto log = rig.event_log_messages();
    EXPECT_NE(std::find(log.begin(), log.end(), "STOP"), log.end());
}

// The title bar's close during START's handshake (its pauses run the event loop) asks as
// in a run and ends the start-up at its next pause; the program ends only after START has
// returned, never from under it.
TEST_F(MainWindowTest, ClosingDuringTheStartHandshakeEndsItFirst) {
    ASSERT_EQ(panel.load(), "");
    panel.reload_controls();
    rig.station.settings().general.ad_type = config::kZeda18;
    panel.show();
    bool closed_while_starting = false;
    bool asked = false;
    rig.host.on_tick = [&](double) {
        if (asked || !rig.station.starting()) return;
        rig.op.answers.push_back(true);
        closed_while_starting = panel.close();
        asked = !rig.op.shown.empty() && rig.op.shown.back().kind == "question";
        EXPECT_FALSE(exited) << "EXIT ran inside START";
        EXPECT_TRUE(panel.isVisible());
    };
    click("cmd_start");  // the board is silent: the handshake asks again and again
    EXPECT_TRUE(asked);
    EXPECT_FALSE(closed_while_starting);
    EXPECT_FALSE(rig.station.in_run());
    EXPECT_FALSE(rig.station.starting());
    QCoreApplication::processEvents();
    EXPECT_TRUE(exited);
    EXPECT_FALSE(panel.isVisible());
    auto log = rig.event_log_messages();
    EXPECT_NE(std::find(log.begin(), log.end(), "STOP"), log.end()) << "START was stopped";
}

// STOP unloads the spectrum windows the run opened; the next run opens its own.
TEST_F(MainWindowTest, StopUnloadsTheSpectrumWindowTheRunOpened) {
    ASSERT_EQ(panel.load(), "");
    rig.station.settings().channels[0].fft_enabled = 1;
    start_run({15, 0, 0, 0});
    ASSERT_FALSE(HasFatalFailure());
    run_for(3);
    ASSERT_NE(windows.fft_window(0), nullptr);
    EXPECT_TRUE(windows.fft_window(0)->isVisible());
    click("cmd_stop");
    finish_stopping();
    ASSERT_NE(windows.fft_window(0), nullptr);
    EXPECT_FALSE(windows.fft_window(0)->isVisible());
    EXPECT_TRUE(windows.fft_window(0)->closed());

    click("cmd_start");
    run_for(2);
    ASSERT_NE(windows.fft_window(0), nullptr);
    EXPECT_TRUE(windows.fft_window(0)->isVisible()) << "the next run opens a new one";
}

// The drum and spectrum windows open cascaded from the main window below its buttons (the
// test screen has no room beside it), and a drum shows the row being drawn.
TEST_F(MainWindowTest, DisplayWindowsLeaveTheMainWindowsButtonsInSight) {
    ASSERT_EQ(panel.load(), "");
    windows.set_anchor(&panel);
    panel.move(0, 0);
    panel.show();
    auto& settings = rig.station.settings();
    for (size_t ch = 0; ch < 4; ++ch) settings.channels[ch].drum_enabled = 1;
    settings.channels[0].fft_enabled = 1;
    start_run({15, 15, 15, 15});
    ASSERT_FALSE(HasFatalFailure());
    run_for(3);
    windows.refresh();

    std::vector<QWidget*> opened;
    for (int ch = 0; ch < 4; ++ch) opened.push_back(windows.drum_window(ch));
    opened.push_back(windows.fft_window(0));
    const int buttons_bottom = find<QPushButton>("cmd_start")->mapTo(&panel, QPoint(0, 0)).y() +
                               find<QPushButton>("cmd_start")->height() + panel.geometry().top();
    std::vector<QPoint> corners;
    for (QWidget* window : opened) {
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(window->isVisible()) << window->objectName().toStdString();
        EXPECT_GT(window->geometry().top(), buttons_bottom) << window->objectName().toStdString();
        EXPECT_EQ(std::count(corners.begin(), corners.end(), window->pos()), 0)
            << window->objectName().toStdString() << " opens on top of another window";
        corners.push_back(window->pos());
    }

    auto* drum = windows.drum_window(0);
    const int hour = rig.station.board_clock().state().board_hours;
    const int row_top = display::kDrumHeight * (hour / 3) / 8;
    const int row_bottom = display::kDrumHeight * (hour / 3 + 1) / 8;
    const int view_height = drum->findChild<QWidget*>("drum_pic")->height();
    const int middle = drum->vertical_offset() + view_height / 2;
    EXPECT_LE(drum->vertical_offset(), row_top);
    EXPECT_GE(drum->vertical_offset() + view_height, row_bottom);
    EXPECT_LE(std::abs(middle - (row_top + row_bottom) / 2), 1) << "the drawn row is centred";
}

// The default size fits a 1280 x 800 screen (title bar and panel included) with the channel
// setup column whole; a larger window gives the room to the charts.
TEST_F(MainWindowTest, DefaultSizeFitsA1280By800ScreenWithTheSetupColumnWhole) {
    ASSERT_EQ(panel.load(), "");
    panel.show();
    EXPECT_LE(panel.width(), 1280);
    EXPECT_LE(panel.height(), 800 - 60);
    EXPECT_LE(panel.minimumSizeHint().width(), panel.width());
    EXPECT_LE(panel.minimumSizeHint().height(), panel.height());
    auto* frame = find<QWidget>("frame");
    EXPECT_LE(frame->mapTo(&panel, QPoint(frame->width(), 0)).x(), panel.width());
    for (auto* box : frame->findChildren<QCheckBox*>()) {
        EXPECT_GE(box->width(), box->sizeHint().width()) << box->objectName().toStdString();
    }
    const int chart_width = find<QWidget>("chp(0)")->width();
    const int frame_width = frame->width();
    panel.resize(1920, 1040);
    EXPECT_GT(find<QWidget>("chp(0)")->width(), chart_width + 500);
    EXPECT_EQ(frame->width(), frame_width);
}

TEST_F(MainWindowTest, LoggingBoxTip) {
    EXPECT_EQ(find<QCheckBox>("logging")->toolTip().toStdString(),
              "Select to enable continous datalogging for future review. Flush buffer period in "
              "Setup window.");
}

// A lock ticked in the hardware setup holds at once, and the SAVE that follows writes it.
TEST_F(MainWindowTest, TheSettingsLockCanBeSaved) {
    ASSERT_EQ(panel.load(), "");
    gui::HardwareSetupWindow setup(rig.station);
    setup.show();
    QTest::mouseClick(setup.findChild<QCheckBox*>("lock_settings"), Qt::LeftButton, {},
                      QPoint(6, 6));
    ASSERT_EQ(rig.station.settings().general.settings_locked, 1);
    setup.close();
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    EXPECT_FALSE(find<QWidget>("frame")->isEnabled()) << "the lock holds in the main window";
    click("cmd_save");
    config::Settings saved;
    config::ReadConfiguration(saved, rig.fs, kStation);
    EXPECT_EQ(saved.general.settings_locked, 1);
}

// A data folder that cannot be written is listed as a load error and the window loads on.
TEST_F(MainWindowTest, ALoadErrorIsListedAndTheLoadGoesOn) {
    ASSERT_TRUE(rig.fs.create_directories(std::string(kStation) + "/events"));
    rig.fs.set_read_only(std::string(kStation) + "/events");
    ASSERT_EQ(panel.load(), "");
    const auto& lines = rig.station.errors().lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find("/ PANEL Load /"), std::string::npos) << lines.front();
    EXPECT_NE(lines.front().find("events"), std::string::npos) << lines.front();
    EXPECT_TRUE(rig.fs.exists(std::string(kStation) + "/velkant.ini")) << "the settings loaded";
    EXPECT_TRUE(rig.fs.is_directory(std::string(kStation) + "/drums"));
    EXPECT_TRUE(find<QPushButton>("cmd_start")->isEnabled());
}

// A single-channel instrument's Apply shows channel 2 then 1 in the main window; an open
// trigger window is told only of channel 1.
TEST_F(MainWindowTest, ReselectingTheFirstChannelTellsTheTriggerWindowOnce) {
    std::vector<int> followed;
    gui::MainWindow main(rig.station, displays,
                         {{}, {}, {}, {}, {}, [&](int ch) { followed.push_back(ch); }});
    ASSERT_EQ(main.load(), "");
    followed.clear();
    main.select_channel(2);
    main.reselect_first_channel();
    EXPECT_EQ(main.selected_channel(), 0);
    EXPECT_EQ(followed, (std::vector<int>{2, 0}));
}

}  // namespace
}  // namespace velkantor::testing
