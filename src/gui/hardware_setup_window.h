#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <vector>

#include "acquisition/station.h"
#include "timekeeping/housekeeping_view.h"
#include "timekeeping/trim_boxes.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velkantor::gui {

// The hardware setup window `actions`: the general settings of the interface, the ports,
// reliability, the reactions to quakes and the datalog and drum automation, and the board's
// clock calibration. The controls are filled from the settings each time the window opens;
// only Apply and OK copy them back (nothing is saved here).
class HardwareSetupWindow : public QWidget, public timekeeping::HousekeepingView {
public:
    struct Hooks {
        // Register (true) or unregister (false) the window for the indicators the engine
        // drives through the main window: it listens while it is open.
        timekeeping::ListenHook listen;
        // Apply changed the settings: the main window reloads its controls and its rate list.
        // `single_channel` (interface types 2 and 3): it also shows channel 2, then 1.
        std::function<void(bool single_channel)> settings_changed;
    };

    explicit HardwareSetupWindow(acquisition::Station& station, Hooks hooks = {},
                                 QWidget* parent = nullptr);

    // Every control from the settings.
    void load();
    // `automation_apply`.
    void apply();
    // Once a second while open: what the engine may have changed behind the window.
    void refresh();

    // HousekeepingView
    void show_input_lines(bool line1, bool line2) override;
    void show_watchdog_bit(bool first_colour) override;
    void show_alarm_bit(bool set) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* build_interface_frame();
    QWidget* build_ad_settings_frame();
    QWidget* build_reliability_frame();
    QWidget* build_quake_frame();
    QWidget* build_datalog_frame();
    QWidget* build_buttons();

    void apply_settings_lock();
    void check_fields();
    timekeeping::TrimBoxes trim_boxes() const;
    void show_trim_boxes(const timekeeping::TrimBoxes& boxes);
    void error_entered();
    void read_calibration();
    void write_calibration();
    // False (with the message) while the acquisition runs: the exchange would stop the board.
    bool board_free();
    void lock_clicked(bool ticked);
    void events_folder_double_clicked();

    acquisition::Station& station_;
    Hooks hooks_;
    bool busy_ = false;
    bool open_ = false;

    QComboBox *ad_type_ = nullptr, *comm_port_ = nullptr, *baud_ = nullptr;
    std::array<QLineEdit*, 4> txt_trim_{};
    QLineEdit* txt_error_ = nullptr;
    QPushButton *cmd_read_ = nullptr, *cmd_write_ = nullptr;
    QLabel* lbl_serial_ = nullptr;
    QCheckBox *blind_start_ = nullptr, *datekeeping_ = nullptr, *no_ver_warn_ = nullptr;

    QCheckBox *lock_settings_ = nullptr, *chk_debug_ = nullptr, *chk_debug2_ = nullptr,
              *use_velkmon_ = nullptr, *wd_enabled_ = nullptr;
    QLineEdit* wd_timer_ = nullptr;
    QComboBox* lptx_ = nullptr;
    QLabel *linea1_ = nullptr, *linea2_ = nullptr, *watch_dog_bit_ = nullptr, *alarm_bit_ = nullptr;

    QCheckBox *alarm_wav_ = nullptr, *print_quake_ = nullptr, *alarm_on_events_ = nullptr,
              *send_sms_ = nullptr, *send_mail_ = nullptr, *alarm_on_l2_ = nullptr,
              *hw_alarm_ = nullptr;
    QLineEdit *events_folder_ = nullptr, *events_browser_ = nullptr;

    QComboBox *drum_format_ = nullptr, *flush_period_ = nullptr, *bmp_update_ = nullptr;
    QCheckBox* never_purge_ = nullptr;
    QLineEdit *purge_time_ = nullptr, *drum_columns_ = nullptr;

    QPushButton *automation_apply_ = nullptr, *automation_ok_ = nullptr, *command1_ = nullptr;
    // What the settings lock disables.
    std::vector<QWidget*> setting_controls_;
};

}  // namespace velkantor::gui
