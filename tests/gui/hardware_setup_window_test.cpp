#include "gui/hardware_setup_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "config/rates.h"
#include "platform/fake/fake_devices.h"
#include "sim/zeda_board.h"
#include "support/station_rig.h"
#include "text/number_text.h"

namespace velkantor::testing {
namespace {

using timekeeping::TrimBoxes;

// The window on a station in memory; while it is open it is the station's indicator view,
// as the main window makes it.
struct SetupBench {
    SetupBench() {
        rig.load();
        window = std::make_unique<gui::HardwareSetupWindow>(
            rig.station, gui::HardwareSetupWindow::Hooks{
                             [this](timekeeping::HousekeepingView* view, bool open) {
                                 rig.station.set_housekeeping_view(open ? view : nullptr);
                             },
                             [this](bool single_channel) {
                                 ++settings_changed;
                                 reselected += single_channel ? 1 : 0;
                             }});
    }
    ~SetupBench() { window->close(); }
    SetupBench(const SetupBench&) = delete;
    SetupBench& operator=(const SetupBench&) = delete;

    template <typename T>
    T* find(const std::string& name) {
        auto* widget = window->findChild<T*>(QString::fromStdString(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    void tick(const char* name) { find<QCheckBox>(name)->click(); }
    // Typed and left with ENTER.
    void type(const std::string& name, const char* typed) {
        auto* edit = find<QLineEdit>(name);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    std::string text(const std::string& name) {
        return find<QLineEdit>(name)->text().toStdString();
    }
    TrimBoxes boxes() {
        TrimBoxes out;
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = text("txt_trim(" + std::to_string(i) + ")");
        return out;
    }
    void set_boxes(const TrimBoxes& b) {
        for (size_t i = 0; i < b.size(); ++i)
            type("txt_trim(" + std::to_string(i) + ")", b[i].c_str());
    }
    void activate() {
        QEvent activation(QEvent::ActivationChange);
        QApplication::sendEvent(window.get(), &activation);
    }
    bool lit(const char* indicator) {
        return find<QLabel>(indicator)->property("first_colour").toBool();
    }
    std::vector<std::string> shown() const {
        std::vector<std::string> out;
        for (const auto& s : rig.op.shown) out.push_back(s.title + ": " + s.text);
        return out;
    }
    config::GeneralSettings& general() { return rig.station.settings().general; }
    std::string board_memory(int first) const {
        auto* zeda = dynamic_cast<sim::ZedaBoard*>(rig.board.get());
        std::string out;
        for (int a = first; a < first + 4; ++a)
            out += text::hex2(zeda->memory(static_cast<uint8_t>(a)));
        return out;
    }

    StationRig rig;
    std::unique_ptr<gui::HardwareSetupWindow> window;
    int settings_changed = 0;
    int reselected = 0;  // applies that asked the main window to show channel 2, then 1
};

class HardwareSetupWindowTest : public ::testing::Test, public SetupBench {};

TEST_F(HardwareSetupWindowTest, OpeningShowsTheSettingsApplyCopiesThemCancelDoesNot) {
    general().comm_port = 5;
    general().clock_trim_hex = "0a0b0c0d";
    general().board_serial = "12345678";
    general().service_mode = 3;
    general().purge_days = 45;
    general().events_folder = "/data/events";
    window->show();
    EXPECT_EQ(window->windowTitle(), "Setup - Hardware and Miscellaneous");
    EXPECT_EQ(find<QComboBox>("comm_port")->currentText(), "Comm5");
    EXPECT_EQ(find<QComboBox>("ad_type")->currentText(), "ZEDA18 18 bits");
    EXPECT_EQ(find<QComboBox>("bmp_update")->currentText(), " 20 min");
    EXPECT_EQ(boxes(), (TrimBoxes{"0a", "0b", "0c", "0d"}));
    EXPECT_EQ(find<QLabel>("lbl_serial")->text(), "12345678");
    EXPECT_TRUE(find<QCheckBox>("chk_debug")->isChecked());
    EXPECT_TRUE(find<QCheckBox>("chk_debug2")->isChecked());
    EXPECT_EQ(text("purge_time"), "45");

    // Cancel forgets the edits; the next opening shows the settings again.
    find<QComboBox>("comm_port")->setCurrentIndex(7);
    tick("chk_debug");
    click("Command1");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(general().comm_port, 5);
    EXPECT_EQ(general().service_mode, 3);
    window->show();
    EXPECT_EQ(find<QComboBox>("comm_port")->currentIndex(), 5);
    EXPECT_TRUE(find<QCheckBox>("chk_debug")->isChecked());

    find<QComboBox>("comm_port")->setCurrentIndex(7);
    find<QComboBox>("drum_format")->setCurrentIndex(1);
    tick("chk_debug");  // mode 2 alone
    tick("send_sms");
    type("events_browser", "/usr/bin/less");
    click("automation_apply");
    EXPECT_EQ(general().comm_port, 7);
    EXPECT_EQ(general().drum_format, 1);
    EXPECT_EQ(general().service_mode, 2);
    EXPECT_EQ(general().send_sms, 1);
    EXPECT_EQ(general().event_browser, "/usr/bin/less");
    EXPECT_EQ(general().events_folder, "/data/events");
    EXPECT_EQ(general().clock_trim_hex, "0A0B0C0D");  // upper-cased
    EXPECT_EQ(settings_changed, 1);
    EXPECT_EQ(reselected, 0) << "only a single-channel instrument moves the main selection";
    EXPECT_TRUE(rig.op.shown.empty());

    tick("chk_debug");
    click("automation_ok");
    EXPECT_EQ(general().service_mode, 3);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(HardwareSetupWindowTest, OnlySingleChannelInstrumentsMoveTheMainSelection) {
    window->show();
    const std::pair<int16_t, int> cases[] = {{config::kZeda18, 0},
                                             {config::kInfiltec, 1},
                                             {config::kLx1500, 1},
                                             {config::kDataqDi194rs, 0},
                                             {config::kZeda30, 0}};
    for (const auto& [ad_type, moves] : cases) {
        SCOPED_TRACE(ad_type);
        reselected = 0;
        find<QComboBox>("ad_type")->setCurrentIndex(ad_type);
        click("automation_apply");
        EXPECT_EQ(reselected, moves);
    }
}

TEST_F(HardwareSetupWindowTest, InterfaceTypeMovesUnsupportedRatesAndSaysSo) {
    rig.station.settings().channels[0].sps_index = 15;  // 100
    window->show();
    find<QComboBox>("ad_type")->setCurrentIndex(config::kDataqDi194rs);
    click("automation_apply");
    EXPECT_EQ(general().ad_type, config::kDataqDi194rs);
    EXPECT_EQ(config::nominal_rate(rig.station.settings().channels[0].sps_index), 80);
    EXPECT_EQ(general().pc_rtc, 1);
    EXPECT_EQ(general().pc_sync, 0);
    EXPECT_EQ(shown(), (std::vector<std::string>{
                           "Info: SPS selection changed according to the\r\nselected board "
                           "capability."}));
    EXPECT_EQ(settings_changed, 1);

    click("automation_apply");  // nothing left to move: no message
    EXPECT_EQ(rig.op.shown.size(), 1u);
}

TEST_F(HardwareSetupWindowTest, FieldsAreClampedWhenLeftAndOnApply) {
    struct Case {
        const char* field;
        const char* typed;
        const char* shown;
    };
    // The limits themselves are the rules' tests; here each field must have its own check.
    const Case cases[] = {
        {"purge_time", "500", "360"}, {"purge_time", "0", "1"},   {"wd_timer", "3", "5"},
        {"drum_columns", "7", "8"},   {"txt_trim(2)", "a", "0A"},
    };
    window->show();
    for (const Case& c : cases) {
        type(c.field, c.typed);
        EXPECT_EQ(text(c.field), c.shown) << c.field << " " << c.typed;
    }
    // Text still being typed when Apply is pressed is checked all the same.
    find<QLineEdit>("wd_timer")->setText("0");
    find<QLineEdit>("drum_columns")->setText("5");
    click("automation_apply");
    EXPECT_EQ(general().watchdog_period, 5);
    EXPECT_EQ(general().drum_hours_per_row, 6);
    EXPECT_EQ(general().purge_days, 1);
}

TEST_F(HardwareSetupWindowTest, ClockErrorGivesTheTrimmingBoxes) {
    window->show();
    type("txt_error", "1");
    EXPECT_EQ(boxes(), (TrimBoxes{"80", "51", "01", "01"}));
    type("txt_error", "-2");
    EXPECT_EQ(boxes(), (TrimBoxes{"40", "57", "FF", "00"}));
    EXPECT_TRUE(rig.op.shown.empty());

    type("txt_error", "fast");
    EXPECT_EQ(boxes(), (TrimBoxes{"40", "57", "FF", "00"}));
    ASSERT_EQ(rig.op.shown.size(), 1u);
    EXPECT_EQ(rig.op.shown[0].title, "Clock error");

    click("automation_apply");
    EXPECT_EQ(general().clock_trim_hex, "4057FF00");
}

TEST_F(HardwareSetupWindowTest, ReadTakesCalibrationAndSerialFromTheBoard) {
    sim::BoardOptions options;
    options.trimming = std::array<uint8_t, 4>{0x40, 0x57, 0xFF, 0x00};
    options.serial_number = std::array<uint8_t, 4>{0x12, 0x34, 0xAB, 0xCD};
    rig.attach_board(options);
    general().clock_trim_hex = "FFFFFFFF";
    window->show();
    click("cmd_read");
    EXPECT_EQ(boxes(), (TrimBoxes{"40", "57", "FF", "00"}));
    EXPECT_EQ(text("txt_error"), "-2.00000000");
    EXPECT_EQ(find<QLabel>("lbl_serial")->text(), "1234ABCD");
    EXPECT_EQ(general().board_serial, "1234ABCD");
    EXPECT_EQ(general().clock_trim_hex, "FFFFFFFF");  // until Apply
    EXPECT_FALSE(rig.port.is_open());                 // START finds the port as it expects
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(rig.op.shown.empty());
}

TEST_F(HardwareSetupWindowTest, WriteReportsWhetherTheBoardTookTheRecord) {
    for (bool board_refuses : {false, true}) {
        SetupBench bench;
        sim::BoardOptions options;
        options.trimming = std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0x02};
        options.faults.ignores_trim_write = board_refuses;
        bench.rig.attach_board(options);
        bench.window->show();
        bench.type("txt_error", "1");
        bench.click("cmd_write");
        EXPECT_EQ(bench.board_memory(1), board_refuses ? "FFFFFF02" : "80510101");
        EXPECT_EQ(bench.shown(),
                  (std::vector<std::string>{board_refuses ? "Trimming: Trimming not executed"
                                                          : "Trimming: Trimming executed."}));
        EXPECT_FALSE(bench.rig.port.is_open());
    }
}

TEST_F(HardwareSetupWindowTest, BoardActionsThatCannotReachTheBoardChangeNothing) {
    enum class Trouble { silent_board, port_not_valid, acquiring };
    struct Case {
        Trouble trouble;
        const char* button;
        std::vector<std::string> messages;
    };
    const std::string running =
        "Trimming: Stop the acquisition before reading or writing the clock calibration.";
    const std::vector<Case> cases = {
        {Trouble::silent_board, "cmd_read", {"Error: A/D card not found."}},
        {Trouble::silent_board,
         "cmd_write",
         {"Error: A/D card not found.", "Trimming: Trimming not executed"}},
        {Trouble::port_not_valid, "cmd_read", {"Error: Comm Port not valid"}},
        {Trouble::port_not_valid,
         "cmd_write",
         {"Error: Comm Port not valid", "Trimming: Trimming not executed"}},
        {Trouble::acquiring, "cmd_read", {running}},
        {Trouble::acquiring, "cmd_write", {running}},
    };
    for (const Case& c : cases) {
        SetupBench bench;
        auto& general = bench.general();
        general.board_serial = "0000ABCD";
        general.clock_trim_hex = "80510101";
        if (c.trouble == Trouble::port_not_valid) {
            bench.rig.port.next_open_result = {platform::OpenError::invalid_port, "8002"};
        }
        if (c.trouble == Trouble::acquiring) {
            bench.rig.attach_board();
            bench.rig.op.answers = {false};  // the board is not registered: not now
            ASSERT_TRUE(bench.rig.station.start());
        }
        bench.window->show();
        bench.rig.op.shown.clear();
        size_t written = bench.rig.port.written().size();
        bench.click(c.button);

        EXPECT_EQ(bench.shown(), c.messages) << c.button << " " << static_cast<int>(c.trouble);
        EXPECT_EQ(bench.boxes(), (TrimBoxes{"80", "51", "01", "01"}));
        EXPECT_EQ(bench.find<QLabel>("lbl_serial")->text(), "0000ABCD");
        EXPECT_EQ(general.board_serial, "0000ABCD");
        if (c.trouble == Trouble::acquiring) {
            EXPECT_EQ(bench.rig.port.written().size(), written);  // the run keeps its board
            EXPECT_TRUE(bench.rig.station.in_run());
            bench.rig.stop();
        } else {
            EXPECT_FALSE(bench.rig.port.is_open());
        }
    }
}

// START's handshake owns the board as a run does, and its pauses run the event loop: a
// click on READ or WRITE then is refused as in a run, and neither reopens the port under the
// handshake nor sends it a byte.
TEST_F(HardwareSetupWindowTest, BoardActionsWaitForTheStartHandshake) {
    for (const char* button : {"cmd_read", "cmd_write"}) {
        SCOPED_TRACE(button);
        SetupBench bench;
        auto& general = bench.general();
        general.board_serial = "0000ABCD";
        general.clock_trim_hex = "80510101";
        bench.window->show();
        bench.rig.op.shown.clear();
        bool clicked = false;
        // The board is silent: the handshake asks again and again, over several ticks.
        bench.rig.host.on_tick = [&](double) {
            if (clicked || !bench.rig.station.starting()) return;
            clicked = true;
            size_t written = bench.rig.port.written().size();
            bool open = bench.rig.port.is_open();
            bench.click(button);
            EXPECT_EQ(bench.shown(),
                      std::vector<std::string>{"Trimming: Stop the acquisition before reading or "
                                               "writing the clock calibration."});
            EXPECT_EQ(bench.rig.port.written().size(), written);
            EXPECT_EQ(bench.rig.port.is_open(), open);
        };
        EXPECT_FALSE(bench.rig.station.start());
        EXPECT_TRUE(clicked);
        EXPECT_EQ(bench.boxes(), (TrimBoxes{"80", "51", "01", "01"}));
        EXPECT_EQ(general.board_serial, "0000ABCD");
    }
}

TEST_F(HardwareSetupWindowTest, IncompleteTrimmingBoxesNeverReachTheBoardOrTheSettings) {
    rig.attach_board();
    general().clock_trim_hex = "80510101";
    window->show();
    std::string before = board_memory(1);
    find<QLineEdit>("txt_trim(1)")->clear();
    click("cmd_write");
    EXPECT_EQ(board_memory(1), before);
    EXPECT_EQ(rig.port.written(), "");
    click("automation_apply");
    EXPECT_EQ(general().clock_trim_hex, "80510101");
    ASSERT_EQ(rig.op.shown.size(), 2u);
    EXPECT_EQ(rig.op.shown[0].title, "Trimming");
    EXPECT_EQ(rig.op.shown[1].title, "Trimming");
}

TEST_F(HardwareSetupWindowTest, EventsFolderAndBlindStart) {
    general().events_folder = "/data/events";
    general().blind_start = 0;
    window->show();
    auto* folder = find<QLineEdit>("events_folder");
    rig.op.answers = {false, true};
    QTest::mouseDClick(folder, Qt::LeftButton);
    EXPECT_EQ(text("events_folder"), "/data/events");
    QTest::mouseDClick(folder, Qt::LeftButton);
    EXPECT_EQ(text("events_folder"), std::string(kStation) + "/events");
    ASSERT_EQ(rig.op.shown.size(), 2u);
    EXPECT_EQ(rig.op.shown[0].title, "Velkantor");
    EXPECT_EQ(rig.op.shown[0].text, "Set folder as standard velkantor event folder?");

    auto* datekeeping = find<QCheckBox>("datekeeping");
    EXPECT_FALSE(datekeeping->isEnabled());
    tick("blind_start");
    EXPECT_TRUE(datekeeping->isEnabled());
    tick("datekeeping");
    click("automation_apply");
    EXPECT_EQ(general().blind_start, 1);
    EXPECT_EQ(general().datekeeping, 1);
    tick("blind_start");
    EXPECT_FALSE(datekeeping->isEnabled());
}

TEST_F(HardwareSetupWindowTest, LockDisablesTheSettingsAndLockingAsksNothing) {
    window->show();
    tick("lock_settings");
    EXPECT_EQ(general().settings_locked, 1);
    EXPECT_TRUE(rig.op.shown.empty());
    for (const char* name : {"ad_type", "comm_port", "lptx"}) {
        EXPECT_FALSE(find<QComboBox>(name)->isEnabled()) << name;
    }
    for (const char* name : {"cmd_read", "cmd_write", "automation_apply", "automation_ok"}) {
        EXPECT_FALSE(find<QPushButton>(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(find<QLineEdit>("txt_trim(0)")->isEnabled());
    EXPECT_TRUE(find<QCheckBox>("lock_settings")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("Command1")->isEnabled());

    // A lock set elsewhere takes hold when the window is activated.
    SetupBench other;
    other.window->show();
    other.general().settings_locked = 1;
    EXPECT_TRUE(other.find<QComboBox>("comm_port")->isEnabled());
    other.activate();
    EXPECT_FALSE(other.find<QComboBox>("comm_port")->isEnabled());
    EXPECT_TRUE(other.find<QCheckBox>("lock_settings")->isChecked());
}

TEST_F(HardwareSetupWindowTest, UnlockingAsksThePasswordAndMayChangeIt) {
    struct Case {
        const char* password;
        std::vector<std::string> inputs;
        std::deque<bool> answers;
        bool unlocked;
        const char* password_after;
        std::vector<std::string> shown;
    };
    const std::string ask = "Lock/Unlock Settings: Password";
    const std::string change = "Password: Do you want to change the password?";
    const std::vector<Case> cases = {
        {"secret", {"guess"}, {}, false, "secret", {ask}},  // no message for a wrong one
        {"secret", {"secret"}, {false}, true, "secret", {ask, change}},
        {"secret",
         {"secret", "sesame"},
         {true},
         true,
         "sesame",
         {ask, change, "Password: Insert the NEW password", "Password: PASSWORD CHANGED"}},
        {"", {}, {false}, true, "", {ask, change}},  // no password: Cancel unlocks
    };
    for (const Case& c : cases) {
        SetupBench bench;
        bench.general().settings_locked = 1;
        bench.general().settings_password = c.password;
        bench.window->show();
        bench.activate();
        ASSERT_FALSE(bench.find<QComboBox>("comm_port")->isEnabled());
        bench.rig.op.inputs = {c.inputs.begin(), c.inputs.end()};
        bench.rig.op.answers = c.answers;
        bench.tick("lock_settings");

        EXPECT_EQ(bench.shown(), c.shown) << c.password;
        EXPECT_EQ(bench.general().settings_locked, c.unlocked ? 0 : 1) << c.password;
        EXPECT_EQ(bench.find<QCheckBox>("lock_settings")->isChecked(), !c.unlocked);
        EXPECT_EQ(bench.general().settings_password, c.password_after);
        EXPECT_EQ(bench.find<QComboBox>("comm_port")->isEnabled(), c.unlocked) << c.password;
    }
}

TEST_F(HardwareSetupWindowTest, IndicatorsFollowTheBoardLinesTheWatchdogAndTheAlarmBit) {
    platform::FakeParallelPort lpt;
    rig.station.set_devices({.parallel_port = &lpt, .pc_clock = &rig.pc_clock});
    general().lpt_port = 1;
    general().watchdog_enabled = 1;
    general().watchdog_period = 5;
    general().hw_alarm = 1;
    window->show();
    for (const char* lamp : {"linea1", "linea2", "watch_dog_bit", "alarm_bit"}) {
        EXPECT_FALSE(lit(lamp)) << lamp;
    }

    // The watchdog pulses at the period's third tick from the end.
    rig.station.tick();
    EXPECT_FALSE(lit("watch_dog_bit"));
    rig.station.tick();
    EXPECT_TRUE(lit("watch_dog_bit"));
    for (int i = 0; i < 4; ++i) rig.station.tick();
    EXPECT_FALSE(lit("watch_dog_bit"));

    rig.station.alarms().alarm_pending = 1;
    rig.station.tick();
    EXPECT_TRUE(lit("alarm_bit"));
    rig.station.tick();
    EXPECT_FALSE(lit("alarm_bit"));

    sim::BoardOptions options;
    options.clock.input_line_2 = true;
    rig.attach_board(options);
    general().board_serial = "";  // register whatever board answers, without a question
    for (auto& channel : rig.station.settings().channels) channel.sps_index = 0;
    rig.station.settings().channels[0].sps_index = 6;
    ASSERT_TRUE(rig.host.run_for(3));
    EXPECT_FALSE(lit("linea1"));
    EXPECT_TRUE(lit("linea2"));

    // Closed, the window hears nothing more.
    window->close();
    rig.station.alarms().alarm_pending = 1;
    rig.station.tick();
    EXPECT_FALSE(lit("alarm_bit"));
}

}  // namespace
}  // namespace velkantor::testing
