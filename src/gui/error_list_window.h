#pragma once

#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "diagnostics/error_reporter.h"

class QLabel;
class QListWidget;
class QCloseEvent;

namespace velkantor::gui {

// The error list window (`boxerrori`): shows the reporter's most recent lines and lets the
// operator hold, release or clear the reporting, or end the program. It registers itself as
// the reporter's view for as long as it lives; the reporter must outlive it.
//
// It never keeps the program running on its own (Qt::WA_QuitOnClose off). Closing it from the
// title bar counts as "Close": a caller held by BREAK must never be left waiting on a window
// the operator can no longer see.
class ErrorListWindow : public QWidget, public diagnostics::ErrorListView {
    Q_OBJECT

public:
    // What the owner writes to the event log when the operator presses END, after closing the
    // serial port and the open files.
    static constexpr std::string_view kAbortedLogText = "VELKANTOR ABORTED from ERRORS Window";

    ErrorListWindow(diagnostics::ErrorReporter& reporter,
                    std::function<void(std::string_view)> append_event_log,
                    std::function<void()> end_program, QWidget* parent = nullptr);
    ~ErrorListWindow() override;

    // diagnostics::ErrorListView
    bool visible() const override;
    void show() override;
    void lines_changed(const std::deque<std::string>& lines) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void show_flow();

    diagnostics::ErrorReporter& reporter_;
    std::function<void(std::string_view)> append_event_log_;
    std::function<void()> end_program_;
    QListWidget* list_ = nullptr;
    QLabel* flow_ = nullptr;
};

}  // namespace velkantor::gui
