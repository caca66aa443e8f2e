#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "config/trigger_rules.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velkantor::acquisition {
class Station;
}

namespace velkantor::gui {

// The trigger and channel settings window `trigpanel`: one channel's trigger method and
// thresholds, coincidence channels, sensor calibration, magnitude corrections and event file
// format, with the detector's live values of that channel. The boxes reach the settings only
// through Apply or OK; the AND-channel boxes, the event format and the two calibration lists
// act at once. Nothing here writes the settings file (SAVE of the main window does).
class TriggerWindow : public QWidget {
public:
    struct Links {
        // The main window's selected channel (0..3): the window shows it when it opens.
        std::function<int()> main_channel;
        // `cmd_ch_plus` / `cmd_ch_minus`: the main window selects this channel (0..3) too.
        std::function<void(int ch)> step_channel;
        // After Apply: the main window reloads its controls from the settings.
        std::function<void()> settings_changed;
        // `cmd_scheduler`: shows the scheduler window.
        std::function<void()> open_scheduler;
    };

    TriggerWindow(acquisition::Station& station, Links links, QWidget* parent = nullptr);
    ~TriggerWindow() override;

    int channel() const { return ch_; }  // 0..3
    // The `ch_selected` change: every control refilled from channel ch's settings (0..3).
    void select_channel(int ch);
    // The live detector labels and, as acquisition starts or stops, the pre-event and
    // post-event boxes: once a second while the window is open.
    void refresh();
    // `trigger_window_open`.
    bool is_open() const { return open_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class ClickLabel;

    void build();
    QWidget* build_trigger_side();
    QWidget* build_calibration_side();
    config::ChannelSettings& settings();
    config::TriggerForm read_form() const;
    void show_form(const config::TriggerForm& form);
    void load_controls();
    void show_calibration();
    void show_units();
    void apply();
    void fill_defaults();
    void format_chosen(int index);
    void apply_enables();
    QLineEdit* number_box(QWidget* parent, const QString& name, config::NumberRange range);

    acquisition::Station& station_;
    Links links_;
    int ch_ = 0;
    bool open_ = false;
    bool loading_controls_ = false;

    QLabel* ch_selected_ = nullptr;
    QPushButton *cmd_ch_plus_ = nullptr, *cmd_ch_minus_ = nullptr;
    QButtonGroup* trigmode_ = nullptr;
    std::array<QLineEdit*, 6> start_threshold_{};
    std::array<QLineEdit*, 4> stop_threshold_{};
    std::array<QCheckBox*, 3> and_channel_{};
    std::array<int, 3> and_numbers_{};
    QLineEdit* win_trig_ = nullptr;
    QLabel* label35_ = nullptr;
    QCheckBox* freeze_lta_ = nullptr;
    QButtonGroup* extender_ = nullptr;
    std::array<QLineEdit*, 5> mag_corr_{};
    QLineEdit *drum_scale_ = nullptr, *filter_delay_ = nullptr;
    QComboBox *sensor_type_ = nullptr, *measure_unit_ = nullptr, *formato_ = nullptr;
    QLineEdit *txt_sensor_sensitivity_ = nullptr, *txt_amplifier_gain_ = nullptr,
              *txt_ad_bits_ = nullptr, *txt_ad_range_ = nullptr;
    QLabel *lbl_ad_sens_ = nullptr, *lbl_full_range_ = nullptr, *lbl_resolution_ = nullptr;
    ClickLabel* lbl_data_output_ = nullptr;
    QLabel *lbl_sensor_ = nullptr, *lbl_data_type_ = nullptr, *lbl_resolution_type_ = nullptr,
           *lbl_full_range_type_ = nullptr;
    std::array<QLabel*, 4> monstart_{};
    QLabel *dc_average_ = nullptr, *pplevel_ = nullptr, *lta_warmup_ = nullptr;
    ClickLabel* max_noise_ = nullptr;
    QPushButton *cmd_default_ = nullptr, *cmd_scheduler_ = nullptr, *trig_apply_ = nullptr,
                *trig_ok_ = nullptr, *trig_cancel_ = nullptr;
    QWidget* method_box_ = nullptr;
    QWidget* and_box_ = nullptr;
    QWidget* extender_box_ = nullptr;
};

}  // namespace velkantor::gui
