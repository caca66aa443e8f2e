#include "gui/trigger_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "config/settings_file.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

constexpr int16_t k100Sps = 15;
const char* const kPreEventLimit =
    "Pre-event time exceeded buffer capacity for the selected SPS.\r\n"
    "Please reduce SPS or pre-event time.";

// The trigger window on a loaded station, with the main window's side of its links recorded.
class TriggerWindowTest : public ::testing::Test {
protected:
    TriggerWindowTest() {
        rig.load();
        window = std::make_unique<gui::TriggerWindow>(
            rig.station,
            gui::TriggerWindow::Links{[this] { return main_channel; },
                                      [this](int ch) { stepped.push_back(ch); },
                                      [this] { ++changed; }, [this] { ++schedulers; }});
    }

    template <typename T>
    T* find(const QString& name) {
        auto* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    void click(const QString& name) {
        QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton);
    }
    void type(const QString& name, const QString& text) {
        auto* edit = find<QLineEdit>(name);
        edit->clear();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QString text(const QString& name) {
        if (auto* edit = window->findChild<QLineEdit*>(name)) return edit->text();
        return find<QLabel>(name)->text();
    }
    config::ChannelSettings& channel(int ch) {
        return rig.station.settings().channels[static_cast<size_t>(ch)];
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> texts;
        for (const auto& shown : rig.op.shown) texts.push_back(shown.title + "|" + shown.text);
        return texts;
    }

    StationRig rig;
    int main_channel = 0;
    std::vector<int> stepped;
    int changed = 0;
    int schedulers = 0;
    std::unique_ptr<gui::TriggerWindow> window;
};

TEST_F(TriggerWindowTest, OpensOnTheMainChannelWithItsCoincidenceChannels) {
    channel(1).and_channels = 0b1001;  // channels 1 and 4
    main_channel = 1;
    window->show();
    EXPECT_TRUE(window->is_open());
    EXPECT_EQ(text("ch_selected"), "2");
    EXPECT_EQ(text("start_threshold(0)"), " 2000");
    const char* captions[3] = {"1", "3", "4"};
    const bool ticked[3] = {true, false, true};
    for (int i = 0; i < 3; ++i) {
        auto* box = find<QCheckBox>(QString("and_channel(%1)").arg(i));
        EXPECT_EQ(box->text(), captions[i]);
        EXPECT_EQ(box->isChecked(), ticked[i]) << captions[i];
    }
    // A coincidence box acts at once, on the bit of the channel in its caption.
    click("and_channel(1)");
    EXPECT_EQ(channel(1).and_channels, 0b1101);
    click("and_channel(0)");
    EXPECT_EQ(channel(1).and_channels, 0b1100);

    window->close();
    EXPECT_FALSE(window->is_open());
}

TEST_F(TriggerWindowTest, ChannelStepsFollowTheMainWindowAndStopAtTheEnds) {
    window->show();
    click("cmd_ch_minus");
    EXPECT_EQ(text("ch_selected"), "1");
    for (int i = 0; i < 4; ++i) click("cmd_ch_plus");
    EXPECT_EQ(text("ch_selected"), "4");
    EXPECT_EQ(stepped, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(find<QCheckBox>("and_channel(2)")->text(), "3");

    // The main window's own selection shows here too, edits not applied being dropped.
    channel(1).start_amplitude = 1234;
    type("start_threshold(0)", "99");
    window->select_channel(1);
    EXPECT_EQ(text("ch_selected"), "2");
    EXPECT_EQ(text("start_threshold(0)"), " 1234");

    // The same channel again (the main window reloading its controls after a Setup Apply)
    // keeps what is being edited.
    type("start_threshold(0)", "99");
    window->select_channel(1);
    EXPECT_EQ(text("start_threshold(0)").trimmed(), "99");
}

TEST_F(TriggerWindowTest, ApplyStoresTheBoxesAndTellsTheMainWindow) {
    window->show();
    click("trigmode(0)");
    const char* starts[6] = {"1500", "4", "3", "2", "60", "4.5"};
    for (int i = 0; i < 6; ++i) type(QString("start_threshold(%1)").arg(i), starts[i]);
    const char* stops[4] = {"900", "2", "1.5", "20"};
    for (int i = 0; i < 4; ++i) type(QString("stop_threshold(%1)").arg(i), stops[i]);
    type("win_trig", "1");
    EXPECT_EQ(text("Label35"), "Second");
    type("win_trig", "5");
    EXPECT_EQ(text("Label35"), "Seconds");
    click("freeze_lta");
    click("extender(2)");
    type("mag_corr(0)", "0.2");
    type("drum_scale", "40");
    EXPECT_EQ(channel(0).start_amplitude, 2000) << "nothing is stored before Apply";

    click("trig_apply");
    const auto& c = channel(0);
    EXPECT_EQ(c.trigger_mode, 0);
    EXPECT_EQ(c.start_params, "1500;4;3;2;60;4.5");
    EXPECT_EQ(c.start_amplitude, 1500);
    EXPECT_EQ(c.start_ratio, 4.5);
    EXPECT_EQ(c.stop_params, "900;2;1.5;20");
    EXPECT_EQ(c.post_event_minutes, 2);
    EXPECT_EQ(c.max_event_samples, 1200);  // 1 SPS
    EXPECT_EQ(c.trigger_window, 5);
    EXPECT_EQ(c.freeze_lta, 1);
    EXPECT_EQ(c.period_extender, 2);
    EXPECT_EQ(c.magnitude_correction, "0.2;0.001;0.001;0.001;0.001");
    EXPECT_EQ(c.drum_scale, 40);
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(rig.op.shown.empty());
    // Reloaded from the settings.
    EXPECT_EQ(text("start_threshold(5)"), " 4.5");

    click("trig_ok");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(changed, 2);
}

TEST_F(TriggerWindowTest, BoxesAreClampedWhenEditingEnds) {
    window->show();
    struct Case {
        const char* box;
        const char* typed;
        const char* kept;
    };
    const Case cases[] = {
        {"start_threshold(0)", "abc", "0"}, {"start_threshold(5)", "99999999", "8300000"},
        {"stop_threshold(2)", "-3", "0"},   {"mag_corr(4)", "-5000", "-1000"},
        {"mag_corr(3)", ".5", "0.5"},       {"win_trig", "1e9", "32767"},
        {"txt_ad_bits", "40", "32"},
    };
    for (const auto& c : cases) {
        type(c.box, c.typed);
        EXPECT_EQ(text(c.box), c.kept) << c.box;
    }
}

TEST_F(TriggerWindowTest, PreEventTimeAt100SpsIsLimitedToTheRing) {
    channel(0).sps_index = k100Sps;
    window->show();
    type("start_threshold(2)", "30");
    type("stop_threshold(3)", "60");
    click("trig_apply");
    EXPECT_TRUE(rig.op.shown.empty()) << "30 minutes are 180,000 samples: accepted";
    EXPECT_EQ(channel(0).pre_event_samples, 180000);

    type("start_threshold(2)", "31");
    click("trig_apply");
    ASSERT_EQ(messages(), (std::vector<std::string>{std::string("Error.|") + kPreEventLimit}));
    EXPECT_EQ(channel(0).pre_event_minutes, 30);
    EXPECT_EQ(channel(0).pre_event_samples, 180000);
    EXPECT_EQ(text("start_threshold(2)"), " 30");
    config::ChannelSettings reread = channel(0);
    config::DecodeStartParams(reread);
    EXPECT_EQ(reread.pre_event_minutes, 30) << "what SAVE writes holds the correction";
}

TEST_F(TriggerWindowTest, MaximumLengthIsRaisedToPreAndPostEventTimes) {
    window->show();
    type("start_threshold(2)", "30");
    type("stop_threshold(1)", "5");
    type("stop_threshold(3)", "10");
    click("trig_apply");
    EXPECT_EQ(text("stop_threshold(3)"), " 35");
    EXPECT_EQ(channel(0).max_event_minutes, 35);
    EXPECT_EQ(channel(0).stop_params, "1800;5;0;35");
}

TEST_F(TriggerWindowTest, OnlyPsnTextAndAsciiFormatsAreAccepted) {
    window->show();
    auto* formats = find<QComboBox>("formato");
    ASSERT_EQ(formats->count(), 4);
    for (int refused : {1, 2}) {  // SAC, SEISAN
        rig.op.shown.clear();
        formats->setCurrentIndex(refused);
        EXPECT_EQ(messages(),
                  (std::vector<std::string>{
                      "VELKANTOR|This format is not currently supported. Change to PSN TEXT"}));
        EXPECT_EQ(formats->currentText(), "PSN TEXT");
        EXPECT_EQ(rig.station.settings().general.event_format, 0);
    }
    rig.op.shown.clear();
    formats->setCurrentIndex(3);
    EXPECT_TRUE(rig.op.shown.empty());
    EXPECT_EQ(rig.station.settings().general.event_format, 3);
}

TEST_F(TriggerWindowTest, DefaultsFillTheBoxesForTheAnswerWithoutApplying) {
    struct Case {
        bool teleseismic;
        std::vector<const char*> starts;
        std::vector<const char*> stops;
    };
    const Case cases[] = {
        {true, {"1500", "3", "30", "30", "300", "5"}, {"800", "5", "3", "120"}},
        {false, {"1000", "3", "1", "30", "300", "5"}, {"20000", "1", "3", "10"}},
    };
    window->show();
    for (const auto& c : cases) {
        click("extender(3)");
        rig.op.answers = {c.teleseismic};
        click("cmd_default");
        ASSERT_EQ(rig.op.shown.back().kind, "question");
        EXPECT_EQ(rig.op.shown.back().text, "Setup values for teleseismic events?");
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(text(QString("start_threshold(%1)").arg(i)), c.starts[i]);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(text(QString("stop_threshold(%1)").arg(i)), c.stops[i]);
        EXPECT_TRUE(find<QRadioButton>("extender(0)")->isChecked());
        EXPECT_EQ(text("mag_corr(2)"), "0.001");
        EXPECT_EQ(text("drum_scale"), "2");
        EXPECT_EQ(text("filter_delay"), "0");
        EXPECT_EQ(channel(0).start_amplitude, 2000) << "not stored before Apply";
    }
    click("trig_apply");
    EXPECT_EQ(channel(0).start_amplitude, 1000);
    EXPECT_EQ(channel(0).sta_seconds, 30);
    EXPECT_EQ(channel(0).lta_seconds, 300);
}

TEST_F(TriggerWindowTest, CalibrationLabelsAndUnitsFollowTheChannel) {
    window->show();
    EXPECT_EQ(text("lbl_ad_sens"), "3276.8");
    EXPECT_EQ(text("lbl_data_output"), "00.001000000000");
    EXPECT_EQ(text("lbl_full_range"), "+/-00.010000000000");
    EXPECT_EQ(text("lbl_resolution"), "00.000000305176");
    EXPECT_DOUBLE_EQ(channel(0).resolution, 0.000000305176);
    EXPECT_EQ(text("lbl_sensor"), "counts");

    // The lists act at once.
    find<QComboBox>("sensor_type")->setCurrentIndex(1);
    find<QComboBox>("measure_unit")->setCurrentIndex(2);
    EXPECT_EQ(channel(0).sensor_type, 1);
    EXPECT_EQ(channel(0).measure_unit, 2);
    EXPECT_EQ(text("lbl_sensor"), "V/ cm/s");
    EXPECT_EQ(text("lbl_data_type"), "cm/s / V");
    EXPECT_EQ(text("lbl_resolution_type"), "cm/s");
    EXPECT_EQ(text("lbl_full_range_type"), "cm/s");

    type("txt_amplifier_gain", "2000");
    type("txt_ad_bits", "24");
    click("trig_apply");
    EXPECT_EQ(text("lbl_data_output"), "00.000500000000");
    EXPECT_EQ(text("lbl_resolution"), "00.000000000596");
    EXPECT_DOUBLE_EQ(channel(0).resolution, 0.000000000596);

    // A gain of 0 has no calibration: no division by zero, and no resolution.
    type("txt_amplifier_gain", "0");
    click("trig_apply");
    EXPECT_EQ(text("lbl_data_output"), "n/a");
    EXPECT_EQ(channel(0).resolution, 0);
}

TEST_F(TriggerWindowTest, LiveValuesOfTheShownChannelAndTheNoiseReset) {
    window->show();
    auto& d = rig.station.detector().channel(0);
    d.sta_value = 12.25;
    d.lta_value = 3.5;
    d.sl_ratio = 3.5;
    d.frozen_lta = 2.75;
    d.lta_frozen_display = true;
    d.dc_average = -100.5;
    d.max_half_wave_peak = 812.25;
    d.last_half_wave_peak = 400;
    d.peak_to_peak = 1500;
    window->refresh();
    EXPECT_EQ(text("monstart(0)"), "0012.25");
    EXPECT_EQ(text("monstart(1)"), "0003.50");
    EXPECT_EQ(text("monstart(2)"), "03.50");
    EXPECT_EQ(text("monstart(3)"), "0002.75");
    EXPECT_TRUE(find<QLabel>("monstart(3)")->styleSheet().contains("#ff0000"));
    EXPECT_EQ(text("dc_average"), "-00100.500");
    EXPECT_EQ(text("max_noise"), "00812.250");
    EXPECT_EQ(text("pplevel"), "01500.000");

    d.lta_frozen_display = false;
    window->refresh();
    EXPECT_TRUE(find<QLabel>("monstart(3)")->styleSheet().contains("#c0c0c0"));

    QTest::mouseClick(find<QLabel>("max_noise"), Qt::LeftButton);
    EXPECT_EQ(d.max_half_wave_peak, 0);
    EXPECT_EQ(d.last_half_wave_peak, 0);
    EXPECT_EQ(text("max_noise"), "00000.000");
}

TEST_F(TriggerWindowTest, EventLengthsCannotChangeWhileAcquiring) {
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) c.sps_index = k100Sps;
    rig.attach_board();
    ASSERT_TRUE(rig.station.start());
    window->show();
    EXPECT_FALSE(find<QLineEdit>("start_threshold(2)")->isEnabled());
    EXPECT_FALSE(find<QLineEdit>("stop_threshold(1)")->isEnabled());
    EXPECT_TRUE(find<QLineEdit>("start_threshold(0)")->isEnabled());

    // Neither the defaults nor Apply reach the lengths the run was started with.
    rig.op.answers = {true};
    click("cmd_default");
    EXPECT_EQ(text("start_threshold(2)"), " 2");
    click("trig_apply");
    EXPECT_EQ(channel(0).pre_event_minutes, 2);
    EXPECT_EQ(channel(0).start_amplitude, 1500);

    rig.stop();
    window->refresh();
    EXPECT_TRUE(find<QLineEdit>("start_threshold(2)")->isEnabled());
    EXPECT_TRUE(find<QLineEdit>("stop_threshold(1)")->isEnabled());
}

TEST_F(TriggerWindowTest, LiveValuesShowTheLtaWarmUpOfTheRun) {
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) c.sps_index = k100Sps;  // LTA of 30 s by default
    rig.attach_board();
    window->show();
    EXPECT_EQ(text("lta_warmup"), "") << "no run";
    double t0 = rig.clock.epoch_seconds();
    ASSERT_TRUE(rig.station.start());
    rig.host.run_until(t0 + 10.5);
    window->refresh();
    QString left = text("lta_warmup");
    EXPECT_TRUE(left == "20 s" || left == "21 s") << left.toStdString();
    rig.host.run_until(t0 + 32);
    window->refresh();
    EXPECT_EQ(text("lta_warmup"), "over");
    rig.stop();
}

TEST_F(TriggerWindowTest, LockedSettingsLeaveOnlyViewing) {
    rig.station.settings().general.settings_locked = 1;
    window->show();
    for (const char* name : {"trig_apply", "trig_ok", "cmd_default", "cmd_scheduler", "trigmode(1)",
                             "and_channel(0)", "freeze_lta", "extender(1)"}) {
        EXPECT_FALSE(find<QWidget>(name)->isEnabled()) << name;
    }
    for (const char* name : {"start_threshold(0)", "stop_threshold(3)", "mag_corr(0)",
                             "txt_ad_bits", "formato", "sensor_type"}) {
        EXPECT_FALSE(find<QWidget>(name)->isEnabled()) << name;
    }
    for (const char* name : {"trig_cancel", "cmd_ch_plus", "cmd_ch_minus"}) {
        EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
    }
    click("cmd_ch_plus");
    EXPECT_EQ(text("ch_selected"), "2");
}

}  // namespace
}  // namespace velkantor::testing
