#pragma once

#include <QWidget>
#include <string>

#include "acquisition/station.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace velkantor::gui {

// The clock trimming window (`trimming`): the drift of the board clock measured against the
// time receiver, the trimming record it calls for, the buttons that read and write the
// board's record, and the service trace of the event recording.
//
// The measurement and the board commands are the station's (timekeeping::ClockTrim); the
// window shows them. Each opening starts with empty fields and a new measurement, which runs
// while the window is shown. The station must outlive the window.
class TrimmingWindow : public QWidget {
public:
    static constexpr int kTraceLines = 1000;  // the trace list keeps the latest lines

    explicit TrimmingWindow(acquisition::Station& station, QWidget* parent = nullptr);
    ~TrimmingWindow() override;

    // Once a second while shown, and after every button: the fields from the measurement.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void build();
    void opened();
    void closed();
    void error_entered();
    void add_trace(const std::string& line);

    acquisition::Station& station_;
    bool tracing_ = false;
    bool scroll_pending_ = false;

    QLineEdit *first_timing_ = nullptr, *last_timing_ = nullptr, *samples_ = nullptr,
              *interval_ = nullptr, *trim_ = nullptr, *record_ = nullptr,
              *txt_manual_trim_ = nullptr, *txt_error_ = nullptr, *memory_ = nullptr;
    QPushButton *eeread_ = nullptr, *set_trim_data_ = nullptr, *nulltrimm_ = nullptr,
                *cmd_manual_trim_ = nullptr;
    QListWidget* trace_ = nullptr;
};

}  // namespace velkantor::gui
