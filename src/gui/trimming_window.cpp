#include "gui/trimming_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/text_conversion.h"
#include "gui/widgets.h"
#include "text/number_text.h"

namespace velkantor::gui {

namespace {

QLineEdit* shown_text(QWidget* parent, const char* name, const char* tip, int characters) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setToolTip(QString::fromUtf8(tip));
    edit->setReadOnly(true);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(characters, '0')) + 16);
    return edit;
}

// Rewriting a field that already shows the text would move the operator's cursor.
void show_text(QLineEdit* edit, const std::string& text) {
    QString value = q(text);
    if (edit->text() != value) edit->setText(value);
}

}  // namespace

TrimmingWindow::TrimmingWindow(acquisition::Station& station, QWidget* parent)
    : QWidget(parent, Qt::Window), station_(station) {
    setObjectName("trimming");
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle("Time trimming");
    build();
}

TrimmingWindow::~TrimmingWindow() {
    closed();
}

void TrimmingWindow::build() {
    auto* layout = new QVBoxLayout(this);

    auto* measure = new QGroupBox("Drift measurement", this);
    auto* grid = new QGridLayout(measure);
    first_timing_ =
        shown_text(measure, "txt_first_timing", "First synchronisation of the measurement", 19);
    last_timing_ = shown_text(measure, "txt_last_timing", "Latest synchronisation", 19);
    samples_ = shown_text(measure, "txt_samples",
                          "Samples of channel 1 since the first synchronisation", 12);
    interval_ = shown_text(measure, "txt_interval",
                           "Seconds from the first to the latest synchronisation", 12);
    trim_ = shown_text(measure, "txt_trim", "Samples per one sample of drift", 12);
    record_ = shown_text(measure, "txt_record", "Trimming record bytes 1 to 3", 8);
    grid->addWidget(new QLabel("First sync:", measure), 0, 0);
    grid->addWidget(first_timing_, 0, 1);
    grid->addWidget(new QLabel("Last sync:", measure), 0, 2);
    grid->addWidget(last_timing_, 0, 3);
    grid->addWidget(new QLabel("Samples", measure), 1, 0);
    grid->addWidget(samples_, 1, 1);
    grid->addWidget(new QLabel("Interval time", measure), 1, 2);
    grid->addWidget(interval_, 1, 3);
    grid->addWidget(new QLabel("Need trim of 1/100 every", measure), 2, 0);
    grid->addWidget(trim_, 2, 1);
    grid->addWidget(new QLabel("Record bytes:", measure), 2, 2);
    grid->addWidget(record_, 2, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addWidget(measure);

    auto* board = new QGroupBox("Board trimming record", this);
    auto* board_grid = new QGridLayout(board);
    txt_manual_trim_ = new QLineEdit(board);
    txt_manual_trim_->setObjectName("txt_manual_trim");
    txt_manual_trim_->setToolTip("XX b1 b2 b3 S XX XX XX XX: the record that Manual Trim writes");
    txt_manual_trim_->setMaxLength(64);
    txt_error_ = new QLineEdit(board);
    txt_error_->setObjectName("txt_error");
    txt_error_->setToolTip("Knew error, seconds per day; ENTER computes the record");
    txt_error_->setMaximumWidth(txt_error_->fontMetrics().horizontalAdvance("-00000.00000") + 16);
    memory_ = shown_text(board, "txt_memory", "Board memory read by Read Trim Data", 18);
    board_grid->addWidget(new QLabel("Manual record:", board), 0, 0);
    board_grid->addWidget(txt_manual_trim_, 0, 1, 1, 3);
    board_grid->addWidget(new QLabel("Knew error", board), 1, 0);
    board_grid->addWidget(txt_error_, 1, 1);
    board_grid->addWidget(new QLabel("seconds per day", board), 1, 2);
    board_grid->addWidget(new QLabel("Memory:", board), 2, 0);
    board_grid->addWidget(memory_, 2, 1, 1, 3);
    board_grid->setColumnStretch(3, 1);
    auto* buttons = new QHBoxLayout;
    eeread_ = button(board, "eeread", "Read Trim Data", "Read the trimming record from the board");
    set_trim_data_ =
        button(board, "set_trim_data", "Set Trim Data", "Write the measured trimming to the board");
    nulltrimm_ = button(board, "nulltrimm", "Null Trimm.", "Write the record of no trimming");
    cmd_manual_trim_ = button(board, "cmd_manual_trim", "Manual Trim",
                              "Write the record of the Record field to the board");
    for (QPushButton* b : {eeread_, set_trim_data_, nulltrimm_, cmd_manual_trim_}) {
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    board_grid->addLayout(buttons, 3, 0, 1, 4);
    layout->addWidget(board);

    auto* service = new QGroupBox("Service trace", this);
    auto* service_layout = new QVBoxLayout(service);
    trace_ = new QListWidget(service);
    trace_->setObjectName("trace_list");
    trace_->setToolTip("Event recording steps, written in service mode 3");
    trace_->setMinimumHeight(trace_->fontMetrics().lineSpacing() * 8);
    service_layout->addWidget(trace_);
    layout->addWidget(service, 1);

    // Without a window manager there is no title bar: the window closes itself.
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    auto* close_button = button(this, "cmd_close", "Close", "Close this window");
    bottom->addWidget(close_button);
    layout->addLayout(bottom);
    connect(close_button, &QPushButton::clicked, this, [this] { close(); });

    connect(txt_manual_trim_, &QLineEdit::textEdited, this, [this](const QString& text) {
        station_.clock_trim().display().manual_trim = text.toStdString();
    });
    connect(txt_error_, &QLineEdit::returnPressed, this, [this] { error_entered(); });
    auto press = [this](QPushButton* b, bool (timekeeping::ClockTrim::*action)()) {
        connect(b, &QPushButton::clicked, this, [this, action] {
            auto& t = station_.clock_trim();
            t.display().manual_trim = txt_manual_trim_->text().toStdString();
            (t.*action)();
            refresh();
        });
    };
    press(eeread_, &timekeeping::ClockTrim::eeread);
    press(set_trim_data_, &timekeeping::ClockTrim::set_trim_data);
    press(nulltrimm_, &timekeeping::ClockTrim::nulltrimm);
    press(cmd_manual_trim_, &timekeeping::ClockTrim::cmd_manual_trim);
    resize(720, 520);
}

void TrimmingWindow::showEvent(QShowEvent* event) {
    // A window restored from the task bar goes on with its measurement.
    if (!event->spontaneous()) opened();
    QWidget::showEvent(event);
}

void TrimmingWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) closed();
    QWidget::hideEvent(event);
}

void TrimmingWindow::opened() {
    auto& trim = station_.clock_trim();
    trim.display() = {};
    trim.open_window();
    txt_error_->clear();
    station_.trace = [this](const std::string& line) { add_trace(line); };
    tracing_ = true;
    refresh();
}

void TrimmingWindow::closed() {
    station_.clock_trim().close_window();
    if (tracing_) {
        station_.trace = nullptr;
        tracing_ = false;
    }
}

void TrimmingWindow::error_entered() {
    // An error of more than 86,400 seconds per day would ask for a correction more often
    // than once a count.
    std::string clamped = text::ClampNumberText(txt_error_->text().toStdString(), -86400, 86400);
    txt_error_->setText(q(clamped));
    station_.clock_trim().error_entered(text::leading_number(clamped).value_or(0));
    refresh();
}

void TrimmingWindow::add_trace(const std::string& line) {
    trace_->addItem(q(line));
    while (trace_->count() > kTraceLines) delete trace_->takeItem(0);
    // Lines come in bursts at an event's start and stop: the list scrolls once per burst.
    if (!scroll_pending_) {
        scroll_pending_ = true;
        QTimer::singleShot(0, this, [this] {
            scroll_pending_ = false;
            trace_->scrollToBottom();
        });
    }
}

void TrimmingWindow::refresh() {
    const auto& d = station_.clock_trim().display();
    show_text(first_timing_, d.first_timing);
    show_text(last_timing_, d.last_timing);
    show_text(samples_, d.samples);
    show_text(interval_, d.interval);
    show_text(trim_, d.trim);
    show_text(record_, d.record);
    show_text(txt_manual_trim_, d.manual_trim);
    show_text(memory_, d.memory);
}

}  // namespace velkantor::gui
