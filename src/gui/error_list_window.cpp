#include "gui/error_list_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

namespace velkantor::gui {

namespace {

using diagnostics::ErrorReporter;

// The longest line the reporter is likely to write: the list is made wide enough for it, so
// the operator reads every field without scrolling sideways.
constexpr const char* kWidestLine =
    "Count: 99999 / Error:9999/Application-defined or object-defined error / "
    "COMPORTOPEN / 3335 / 23:59:59 2026/12/31";

QPushButton* add_button(QHBoxLayout* row, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption));
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

}  // namespace

ErrorListWindow::ErrorListWindow(diagnostics::ErrorReporter& reporter,
                                 std::function<void(std::string_view)> append_event_log,
                                 std::function<void()> end_program, QWidget* parent)
    : QWidget(parent, Qt::Window),
      reporter_(reporter),
      append_event_log_(std::move(append_event_log)),
      end_program_(std::move(end_program)) {
    setObjectName(QStringLiteral("boxerrori"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Error List Report"));

    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("errorlist"));
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    const QFontMetrics metrics = list_->fontMetrics();
    const int frame = 2 * list_->frameWidth() + 8;
    list_->setMinimumSize(
        metrics.horizontalAdvance(QString::fromLatin1(kWidestLine)) + frame,
        metrics.lineSpacing() * static_cast<int>(ErrorReporter::kMaxLines) + frame);

    flow_ = new QLabel;
    flow_->setObjectName(QStringLiteral("flowstate"));

    auto* buttons = new QHBoxLayout;
    QPushButton* restart = add_button(buttons, "restart", "CONTINUE");
    QPushButton* hold = add_button(buttons, "break", "BREAK");
    QPushButton* wipe = add_button(buttons, "wiperrors", "Clear List");
    QPushButton* close_button = add_button(buttons, "Command1", "Close");
    buttons->addStretch();
    QPushButton* end = add_button(buttons, "end_velkant", "END");
    end->setToolTip(QStringLiteral("Close the port and the files and end the program"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(flow_);
    layout->addLayout(buttons);

    connect(restart, &QPushButton::clicked, this, [this] {
        reporter_.press_continue();
        show_flow();
    });
    connect(hold, &QPushButton::clicked, this, [this] {
        reporter_.press_break(append_event_log_);
        show_flow();
    });
    connect(wipe, &QPushButton::clicked, this, [this] {
        reporter_.press_clear();
        lines_changed(reporter_.lines());
    });
    connect(close_button, &QPushButton::clicked, this, [this] { close(); });
    // The owner may destroy this window while ending the program: nothing may follow the call.
    connect(end, &QPushButton::clicked, this, [this] {
        if (end_program_) end_program_();
    });

    reporter_.set_view(this);
    lines_changed(reporter_.lines());
}

ErrorListWindow::~ErrorListWindow() {
    reporter_.set_view(nullptr);
}

bool ErrorListWindow::visible() const {
    return isVisible();
}

void ErrorListWindow::show() {
    QWidget::show();
    raise();
}

void ErrorListWindow::lines_changed(const std::deque<std::string>& lines) {
    list_->clear();
    for (const std::string& line : lines) {
        list_->addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    }
    list_->scrollToBottom();
    show_flow();
}

void ErrorListWindow::closeEvent(QCloseEvent* event) {
    reporter_.press_close();
    show_flow();
    event->accept();
}

void ErrorListWindow::show_flow() {
    switch (reporter_.error_flow()) {
        case ErrorReporter::kHold:
            flow_->setText(QStringLiteral(
                "BREAK: the next error holds its procedure until CONTINUE, Clear List or Close."));
            break;
        case ErrorReporter::kCleared:
            flow_->setText(QStringLiteral("Cleared: the next error is numbered 1."));
            break;
        default:
            flow_->setText(QStringLiteral("Running: errors are listed and the procedures go on."));
            break;
    }
}

}  // namespace velkantor::gui
