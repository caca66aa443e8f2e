#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/station.h"
#include "display/displays.h"
#include "gui/picture_widget.h"
#include "platform/real/qimage_canvas.h"
#include "timekeeping/housekeeping_view.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace velkantor::gui {

// The main window `panel`: the scope charts, the selected channel's settings, the station
// fields and the buttons that run the station. It edits the settings in memory; only SAVE
// writes them.
class MainWindow : public QWidget,
                   public runtime::StationView,
                   public timekeeping::HousekeepingView {
public:
    struct Actions {
        std::function<bool()> start;         // START
        std::function<void()> stop;          // STOP
        std::function<void()> exit_program;  // EXIT
        std::function<void()> show_logo;     // the logo button
        // The settings and tool windows by their object names ("active", "set_triggers",
        // "timeset", "events", "ch_review" name the buttons; the windows are made by the host).
        std::function<void(const std::string& button)> open_window;
        // `ch_selected` changed: an open trigger window follows it.
        std::function<void(int ch)> channel_selected;
    };

    MainWindow(acquisition::Station& station, display::Displays& displays, Actions actions,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's load: the station's folders, log line, schedule and settings, then the
    // controls filled for channel 1. Empty text, or why the station cannot be used.
    std::string load();

    int selected_channel() const { return selected_; }  // 0..3
    void select_channel(int ch);
    // Shows channel 2 and then channel 1, as after a change to a single-channel instrument;
    // an open trigger window is told only of channel 1.
    void reselect_first_channel();
    // Copies the chart pictures to the screen.
    void refresh_charts();
    // The indicators that follow the run (counters, labels): after every timer tick.
    void refresh_indicators();

    // The hardware setup and time set windows show indicators the engine drives through this
    // window; they listen while they are open.
    void add_housekeeping_listener(timekeeping::HousekeepingView* listener);
    void remove_housekeeping_listener(timekeeping::HousekeepingView* listener);
    // The buttons of the windows that exist are enabled; the others say so by being disabled.
    void enable_window_buttons(const std::function<bool(const std::string&)>& available);
    // Re-reads every control from the settings (a settings window applied changes).
    void reload_controls();
    // Ends the program without asking: at once when idle; while acquiring, once STOP's exit
    // sequence has finished the run's files.
    void end_after_run();

    // StationView
    void set_run_controls(bool running, bool logging_editable, bool rates_editable) override;
    void set_autostart_box(bool ticked) override;
    void set_title(std::string_view title) override;
    void set_status_text(std::string_view text) override;
    // The station's web page, offered as a link in the status bar (empty: none).
    void show_page_link(const std::string& url);
    void set_bad_frames(long count) override;
    void set_lock_indicator(std::string_view state) override;
    void set_busy(bool hourglass) override;
    void show_values(const std::array<int32_t, config::kChannels>& values) override;
    void show_idle_passes(double count) override;
    void show_sample_time(std::string_view text) override;
    void clear_time_display() override;
    // HousekeepingView
    void show_trigger_indicator(int ch, bool visible) override;
    void show_record_button(int ch, bool recording) override;
    void enable_stop_button(bool enabled) override;
    void show_buffer_load(size_t count, size_t size) override;
    void show_events_blink(bool first_colour) override;
    void show_free_disk_space(std::string_view fds) override;
    void show_sample_count_errors(int ch, long count) override;
    void show_second_sample_counts(const std::array<double, 4>& counts,
                                   const std::array<double, 4>& configured) override;
    void show_input_lines(bool line1, bool line2) override;
    void show_watchdog_bit(bool first_colour) override;
    void show_alarm_bit(bool set) override;
    void show_pc_time(std::string_view text) override;
    void show_time_window(const timekeeping::TimeWindowTexts& texts) override;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    QWidget* build_charts();
    QWidget* build_channel_frame();
    QWidget* build_buttons();
    void fill_general_controls();
    void load_channel_controls();
    void rate_changed(int index);
    void commit_text_fields();
    void apply_settings_lock();
    void update_y_scale(int k);
    void show_chart_labels();
    void show_zoom();
    void show_true_sps();
    config::ChannelSettings& channel() {
        return station_.settings().channels[static_cast<size_t>(selected_)];
    }

    acquisition::Station& station_;
    display::Displays& displays_;
    Actions actions_;
    int selected_ = 0;
    bool loading_controls_ = false;
    bool running_ = false;
    // The window closes as soon as the run it stopped has ended.
    bool close_after_run_ = false;
    std::string title_;

    std::array<std::unique_ptr<platform::QImageCanvas>, 4> chart_pictures_;
    std::unique_ptr<platform::QImageCanvas> zoom_picture_;
    std::array<PictureWidget*, 4> charts_{};
    PictureWidget* zoom_ = nullptr;
    std::array<QLabel*, 4> countmin_{}, countmax_{}, values_{}, on_trig_{};
    std::array<QPushButton*, 4> man_record_{}, xerror_{};
    QLabel* zoomcountmin_ = nullptr;
    QLabel* zoomcountmax_ = nullptr;
    QWidget* chart_rows_ = nullptr;
    QWidget* zoom_row_ = nullptr;

    QGroupBox* frame_ = nullptr;
    QLabel* ch_selected_ = nullptr;
    QCheckBox *ch_enabled_ = nullptr, *alarm_ = nullptr, *all_trigger_ = nullptr,
              *invert_data_ = nullptr, *drum_ = nullptr, *hide_drum_ = nullptr, *logging_ = nullptr,
              *fft_enabled_ = nullptr, *auto_offset_ = nullptr;
    QLineEdit *alarm_soglia_ = nullptr, *dc_offset_ = nullptr, *extension_ = nullptr;
    QComboBox *sps_select_ = nullptr, *axis_select_ = nullptr;
    QScrollBar* y_scale_ = nullptr;
    QScrollBar* chartspeed1_ = nullptr;
    QCheckBox *autostart_ = nullptr, *nocharting_ = nullptr, *zallch_ = nullptr, *ccc3_ = nullptr;
    QLineEdit *location_ = nullptr, *coordinates_ = nullptr, *elevation_ = nullptr;
    QPushButton *cmd_start_ = nullptr, *cmd_stop_ = nullptr, *cmd_save_ = nullptr,
                *cmd_exit_ = nullptr, *open_frame_ = nullptr, *badrx_ = nullptr;
    std::array<QPushButton*, 5> settings_windows_{};
    QLabel* page_link_ = nullptr;
    QLabel *lbl_service_ = nullptr, *lock_ = nullptr, *utc_clock_ = nullptr, *bufferload_ = nullptr,
           *eventsblink_ = nullptr, *true_sps_ = nullptr, *donothing_ = nullptr;
    // The last board second's sample counts and configured rates, for `true_sps`.
    std::array<double, 4> second_counts_{}, configured_rates_{};
    bool second_counted_ = false;
    // "HH:MM:SS.t" of the sample time on show.
    int previous_rate_ = 0;
    std::vector<timekeeping::HousekeepingView*> listeners_;
    // The pens' positions at the last refresh: only the strip they swept is repainted.
    std::array<double, 4> refreshed_pen_{};
    double refreshed_zoom_pen_ = 0;
};

}  // namespace velkantor::gui
