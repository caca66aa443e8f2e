#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string_view>

#include "acquisition/station.h"
#include "timekeeping/housekeeping_view.h"
#include "timekeeping/time_set_rules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace velkantor::gui {

// The time set window (`settime`): the time source, the direction of synchronisation
// between PC and board, the time-zone correction, the date and time set by hand, and what
// the time receiver did (lock state, last synchronisation, the minutes of the day in which
// one arrived).
//
// The window is made once and shown again on each opening; every opening reloads it from
// the settings and the PC clock. Its controls change the settings only through OK and SET
// TIME. While it is shown it asks to receive the board clock's indicators (`listen`), and
// stops when hidden. The station must outlive it.
class TimeSetWindow : public QWidget, public timekeeping::HousekeepingView {
public:
    struct Hooks {
        // Register (true) or unregister (false) the window for the indicators the engine
        // drives through the main window.
        timekeeping::ListenHook listen;
        // Opens the clock trimming window; without it the window has no trimming button.
        std::function<void()> open_trimming;
    };

    explicit TimeSetWindow(acquisition::Station& station, Hooks hooks = {},
                           QWidget* parent = nullptr);
    ~TimeSetWindow() override;

    // Once a second while shown: the board clock and, while acquiring, the PC clock.
    void refresh();
    // A bar of the DCF chart is drawn for this minute of the day (0..1439).
    bool dcf_bar(int minute) const;

    // HousekeepingView
    void show_pc_time(std::string_view text) override;
    void show_time_window(const timekeeping::TimeWindowTexts& texts) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static constexpr size_t kFields = 7;  // day, month, year, hours, minutes, seconds, gmt

    void build();
    void load();
    void apply_enables();
    // The field's value, or its message shown and the field handed back to the operator.
    std::optional<int> checked(timekeeping::TimeField field);
    bool dcf_selected() const;
    // The source and the time-zone correction from the controls (`gmt_field` is valid).
    void store_source(int gmt_field);
    void accept();
    void set_time();
    void set_pc_clock_only(const text::DateTime& when);
    // The ZEDA boards: the board clock, and the PC clock as the controls say.
    void set_board_clock(const text::DateTime& when, int gmt_field);
    void clear_chart();

    acquisition::Station& station_;
    Hooks hooks_;
    bool listening_ = false;
    bool busy_ = false;

    QRadioButton *option_sync1_ = nullptr, *option_sync2_ = nullptr;
    QCheckBox *pc_sync_ = nullptr, *pc_rtc_ = nullptr, *set_pc_time_ = nullptr;
    QComboBox* sync_every_ = nullptr;
    std::array<QLineEdit*, kFields> fields_{};
    QLabel *realtime_ = nullptr, *ad_clock_ = nullptr, *lastsync_ = nullptr, *dcf77sync_ = nullptr,
           *timestatus_ = nullptr, *hour_type_ = nullptr;
    QWidget* dcfchart_ = nullptr;
    QPushButton *ok_time_ = nullptr, *oktimeset_ = nullptr, *notimeset_ = nullptr,
                *trimming_ = nullptr;
};

}  // namespace velkantor::gui
