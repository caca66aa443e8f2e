#include "gui/time_set_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "acquisition/zeda_driver.h"
#include "config/rates.h"
#include "gui/text_conversion.h"
#include "gui/widgets.h"
#include "text/number_text.h"

namespace velkantor::gui {

namespace {

using timekeeping::TimeField;

constexpr const char* kTitle = "TIME SET";
constexpr const char* kCardNotFound = "A/D card not found.";
constexpr const char* kNoPermission =
    "The PC clock cannot be set: VELKANTOR was started without --set-pc-clock.";
constexpr int kMinutesPerDay = 1440;

// The indicator colours: a synchronisation in this second, and none.
const QColor kSyncColour(0, 200, 0);
const QColor kNoSyncColour(96, 96, 96);

// The minutes of the day in which a synchronisation arrived, one column each, with the hours
// marked below. A click clears it.
class DcfChart : public QWidget {
public:
    DcfChart(std::function<bool(int)> marked, std::function<void()> clicked, QWidget* parent)
        : QWidget(parent), marked_(std::move(marked)), clicked_(std::move(clicked)) {
        setMinimumSize(kMinutesPerDay / 2 + 2, 64);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int scale_height = fontMetrics().height() + 2;
        const int bars = height() - scale_height;
        const int w = width();
        painter.fillRect(rect(), palette().window());
        painter.fillRect(0, 0, w, bars, Qt::black);
        auto x_of = [w](int minute) { return minute * (w - 1) / kMinutesPerDay; };
        for (int hour = 0; hour <= 24; ++hour) {
            int x = x_of(hour * 60);
            painter.setPen(hour % 6 == 0 ? QColor(110, 110, 110) : QColor(50, 50, 50));
            painter.drawLine(x, 0, x, bars - 1);
        }
        for (int minute = 0; minute < kMinutesPerDay; ++minute) {
            if (!marked_(minute)) continue;
            int x = x_of(minute);
            painter.fillRect(x, 2, std::max(1, x_of(minute + 1) - x), bars - 4, kSyncColour);
        }
        painter.setPen(palette().windowText().color());
        for (int hour = 0; hour <= 24; hour += 3) {
            QString label = QString::number(hour);
            int text_width = fontMetrics().horizontalAdvance(label);
            int x = std::clamp(x_of(hour * 60) - text_width / 2, 0, w - text_width);
            painter.drawText(x, bars + fontMetrics().ascent() + 1, label);
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && clicked_) clicked_();
    }

private:
    std::function<bool(int)> marked_;
    std::function<void()> clicked_;
};

}  // namespace

TimeSetWindow::TimeSetWindow(acquisition::Station& station, Hooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), station_(station), hooks_(std::move(hooks)) {
    setObjectName("settime");
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(kTitle);
    build();
}

// The main window, which forwards the indicators, may be gone by now (it is destroyed before
// the tool windows): the registration is not touched here.
TimeSetWindow::~TimeSetWindow() = default;

void TimeSetWindow::build() {
    auto* layout = new QVBoxLayout(this);

    // Source and directions of synchronisation.
    auto* source = new QGroupBox("Time synchronisation", this);
    auto* source_grid = new QGridLayout(source);
    option_sync1_ = new QRadioButton("DCF77", source);
    option_sync1_->setObjectName("option_sync1");
    option_sync1_->setToolTip("The A/D card time receiver is a DCF77 receiver");
    option_sync2_ = new QRadioButton("GPS", source);
    option_sync2_->setObjectName("option_sync2");
    option_sync2_->setToolTip("The A/D card time receiver is a GPS receiver");
    auto* options = new QHBoxLayout;
    options->addWidget(new QLabel("Time source:", source));
    options->addWidget(option_sync1_);
    options->addWidget(option_sync2_);
    options->addStretch(1);
    source_grid->addLayout(options, 0, 0, 1, 2);

    pc_sync_ = check_box(source, "pc_sync", "Enable PC to sync. A/D time",
                         "Select if the a/d card have to be sync with the PC clock.");
    sync_every_ = new QComboBox(source);
    sync_every_->setObjectName("sync_every");
    sync_every_->setToolTip("How often the PC clock sets the A/D card clock");
    for (const char* period :
         {" hour", " 2 hours", " 3 hours", " 4 hours", " 6 hours", "12 hours", " day"}) {
        sync_every_->addItem(QString::fromUtf8(period));
    }
    auto* every = new QHBoxLayout;
    every->addWidget(new QLabel("every", source));
    every->addWidget(sync_every_);
    every->addStretch(1);
    source_grid->addWidget(pc_sync_, 1, 0);
    source_grid->addLayout(every, 1, 1);
    pc_rtc_ = check_box(source, "pc_rtc", "PC time not sync. from A/D time",
                        "Select to disable a/d card time to continously set PC clock");
    source_grid->addWidget(pc_rtc_, 2, 0, 1, 2);
    set_pc_time_ = check_box(source, "set_pc_time", "Set PC time at startup",
                             "Force Velkantor to set the a/d board with the PC time at start up");
    source_grid->addWidget(set_pc_time_, 3, 0, 1, 2);
    source_grid->setColumnStretch(1, 1);
    layout->addWidget(source);

    // Date, time and time zone to set.
    auto* manual = new QGroupBox("Date and time", this);
    auto* manual_grid = new QGridLayout(manual);
    const char* names[kFields] = {"v_day",     "v_month",   "v_year", "v_hours",
                                  "v_minutes", "v_seconds", "v_gmt"};
    const char* tips[kFields] = {
        "Day (01..31)",    "Month (1..12)",   "Year (1990..2090)",          "Hour (00..23)",
        "Minute (00..59)", "Second (00..59)", "Insert time zone correction"};
    const int lengths[kFields] = {2, 2, 4, 2, 2, 2, 3};
    for (size_t i = 0; i < kFields; ++i) {
        auto* edit = new QLineEdit(manual);
        edit->setObjectName(names[i]);
        edit->setToolTip(QString::fromUtf8(tips[i]));
        edit->setMaxLength(lengths[i]);
        edit->setAlignment(Qt::AlignCenter);
        const int digits = lengths[i] + 2;
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(digits, '0')) + 12);
        fields_[i] = edit;
        auto field = static_cast<TimeField>(i);
        connect(edit, &QLineEdit::editingFinished, this, [this, field] {
            // Leaving a field of a window that is closing is no entry to check.
            if (isVisible() && !busy_) checked(field);
        });
    }
    auto row = [](std::initializer_list<QWidget*> widgets) {
        auto* line = new QHBoxLayout;
        for (QWidget* w : widgets) line->addWidget(w);
        line->addStretch(1);
        return line;
    };
    manual_grid->addWidget(new QLabel("Date (DD/MM/YYYY):", manual), 0, 0);
    manual_grid->addLayout(
        row({fields_[0], new QLabel("/", manual), fields_[1], new QLabel("/", manual), fields_[2]}),
        0, 1);
    manual_grid->addWidget(new QLabel("Time (HH:MM:SS):", manual), 1, 0);
    manual_grid->addLayout(
        row({fields_[3], new QLabel(":", manual), fields_[4], new QLabel(":", manual), fields_[5]}),
        1, 1);
    manual_grid->addWidget(new QLabel("Time zone (GMT):", manual), 2, 0);
    manual_grid->addLayout(row({fields_[6], new QLabel("hours", manual)}), 2, 1);
    manual_grid->setColumnStretch(1, 1);
    layout->addWidget(manual);

    // The clocks and the time receiver.
    auto* clocks = new QGroupBox("Clocks", this);
    auto* clock_grid = new QGridLayout(clocks);
    realtime_ = label(clocks, "realtime", "", "PC real time clock");
    ad_clock_ = label(clocks, "ad_clock", "", "A/D card clock real time used for signal timing");
    lastsync_ = label(clocks, "lastsync", "No sync received", "Last DCF77 valid sync received");
    dcf77sync_ = label(clocks, "dcf77sync", "", "A synchronisation arrived in this second");
    dcf77sync_->setFixedSize(14, 14);
    dcf77sync_->setAutoFillBackground(true);
    timestatus_ = label(clocks, "timestatus", "Status: Not Locked", "Time receiver lock status");
    hour_type_ = label(clocks, "hour_type", "...", "Kind of time the receiver gets");
    for (QLabel* l : {realtime_, ad_clock_}) {
        QFont mono = l->font();
        mono.setFamily("Monospace");
        mono.setStyleHint(QFont::TypeWriter);
        l->setFont(mono);
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance("0000/00/00 00:00:00.000") + 8);
    }
    clock_grid->addWidget(new QLabel("PC clock:", clocks), 0, 0);
    clock_grid->addWidget(realtime_, 0, 1);
    clock_grid->addWidget(new QLabel("A/D card clock:", clocks), 1, 0);
    clock_grid->addWidget(ad_clock_, 1, 1);
    auto* sync_row = new QHBoxLayout;
    sync_row->addWidget(dcf77sync_);
    sync_row->addWidget(lastsync_, 1);
    clock_grid->addLayout(sync_row, 0, 2);
    auto* status_row = new QHBoxLayout;
    status_row->addWidget(timestatus_);
    status_row->addSpacing(16);
    status_row->addWidget(hour_type_, 1);
    clock_grid->addLayout(status_row, 1, 2);
    clock_grid->setColumnStretch(2, 1);
    clock_grid->setColumnMinimumWidth(1, realtime_->minimumWidth());
    dcfchart_ = new DcfChart([this](int minute) { return dcf_bar(minute); },
                             [this] { clear_chart(); }, clocks);
    dcfchart_->setObjectName("dcfchart");
    dcfchart_->setToolTip(
        "Each green bar show a DCF sync. The chart is cleared when VELKANT stops.");
    clock_grid->addWidget(dcfchart_, 2, 0, 1, 3);
    layout->addWidget(clocks);

    auto* buttons = new QHBoxLayout;
    oktimeset_ = button(this, "oktimeset", "SET TIME", "Set the A/D Time and apply the Settings");
    ok_time_ =
        button(this, "ok_time", "OK", "Accept PC-RTC and GMT setting ad close Time Set window");
    notimeset_ = button(this, "notimeset", "cancel", "Close Time Set window without changes");
    trimming_ = button(this, "trimming_open", "Trimming...", "Open the clock trimming window");
    trimming_->setVisible(static_cast<bool>(hooks_.open_trimming));
    buttons->addWidget(oktimeset_);
    buttons->addWidget(trimming_);
    buttons->addStretch(1);
    buttons->addWidget(ok_time_);
    buttons->addWidget(notimeset_);
    layout->addLayout(buttons);

    connect(pc_sync_, &QCheckBox::toggled, this, [this] { apply_enables(); });
    connect(ok_time_, &QPushButton::clicked, this, [this] { accept(); });
    connect(oktimeset_, &QPushButton::clicked, this, [this] { set_time(); });
    connect(notimeset_, &QPushButton::clicked, this, [this] { close(); });
    connect(trimming_, &QPushButton::clicked, this, [this] {
        if (hooks_.open_trimming) hooks_.open_trimming();
    });
}

void TimeSetWindow::showEvent(QShowEvent* event) {
    // A window restored from the task bar is not opened again.
    if (!event->spontaneous()) {
        load();
        if (hooks_.listen && !listening_) {
            hooks_.listen(this, true);
            listening_ = true;
        }
    }
    QWidget::showEvent(event);
}

void TimeSetWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous() && listening_) {
        hooks_.listen(this, false);
        listening_ = false;
    }
    QWidget::hideEvent(event);
}

void TimeSetWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) apply_enables();
    QWidget::changeEvent(event);
}

void TimeSetWindow::load() {
    const auto& general = station_.settings().general;
    option_sync1_->setChecked(general.sync_source != 0);
    option_sync2_->setChecked(general.sync_source == 0);
    pc_sync_->setChecked(general.pc_sync != 0);
    pc_rtc_->setChecked(general.pc_rtc != 0);
    set_pc_time_->setChecked(general.set_board_time_at_start != 0);
    sync_every_->setCurrentIndex(std::clamp<int>(general.sync_every, 0, sync_every_->count() - 1));

    auto texts = timekeeping::time_field_texts(station_.clock().now());
    for (size_t i = 0; i < texts.size(); ++i) fields_[i]->setText(q(texts[i]));
    fields_[static_cast<size_t>(TimeField::gmt)]->setText(QString::number(
        timekeeping::gmt_field_from_offset(general.gmt_offset, general.sync_source)));

    auto& clock = station_.board_clock();
    clock.RefreshPcTimestamp();
    realtime_->setText(q(clock.state().pc_now_text));
    show_time_window(clock.time_window_texts());
    ad_clock_->setText(q(clock.state().board_datetime_text));
    apply_enables();
}

void TimeSetWindow::apply_enables() {
    const auto& general = station_.settings().general;
    const bool editable = general.settings_locked == 0;
    // The instruments have no clock of their own to set or to set the PC from.
    const bool board_clock = config::is_zeda(general.ad_type);
    option_sync1_->setEnabled(editable);
    option_sync2_->setEnabled(editable);
    for (QCheckBox* box : {pc_sync_, pc_rtc_, set_pc_time_})
        box->setEnabled(editable && board_clock);
    sync_every_->setEnabled(pc_sync_->isEnabled() && pc_sync_->isChecked());
    for (QLineEdit* field : fields_) field->setEnabled(editable);
    ok_time_->setEnabled(editable);
    oktimeset_->setEnabled(editable);
    trimming_->setEnabled(board_clock);
}

std::optional<int> TimeSetWindow::checked(TimeField field) {
    QLineEdit* edit = fields_[static_cast<size_t>(field)];
    if (auto value = timekeeping::time_field_value(field, edit->text().toStdString())) {
        return value;
    }
    const auto& rule = timekeeping::time_field_rule(field);
    station_.op().message(rule.title, rule.text, platform::MessageIcon::warning);
    edit->setFocus();
    edit->selectAll();
    return std::nullopt;
}

bool TimeSetWindow::dcf_selected() const {
    return option_sync1_->isChecked();
}

void TimeSetWindow::store_source(int gmt_field) {
    auto& general = station_.settings().general;
    general.sync_source = dcf_selected() ? 1 : 0;
    general.gmt_offset =
        static_cast<int16_t>(timekeeping::gmt_offset_from_field(gmt_field, general.sync_source));
    station_.board_clock().set_sync_source_label(dcf_selected() ? "DCF" : "GPS");
}

void TimeSetWindow::accept() {
    auto gmt = checked(TimeField::gmt);
    if (!gmt) return;
    store_source(*gmt);
    auto& general = station_.settings().general;
    general.pc_rtc = pc_rtc_->isChecked() ? 1 : 0;
    general.pc_sync = pc_sync_->isChecked() ? 1 : 0;
    general.sync_every = static_cast<int16_t>(sync_every_->currentIndex());
    general.set_board_time_at_start = set_pc_time_->isChecked() ? 1 : 0;
    close();
}

void TimeSetWindow::set_time() {
    // The board's version query waits for the board and lets other clicks through meanwhile.
    if (busy_) return;
    std::array<int, kFields> values{};
    for (size_t i = 0; i < kFields; ++i) {
        auto value = checked(static_cast<TimeField>(i));
        if (!value) return;
        values[i] = *value;
    }
    auto when = timekeeping::manual_date_time(values[2], values[1], values[0], values[3], values[4],
                                              values[5]);
    if (!when) {
        // Nothing goes to the board or the PC with a day that does not exist.
        station_.op().message(kTitle, "Date not valid.", platform::MessageIcon::warning);
        fields_[0]->setFocus();
        fields_[0]->selectAll();
        return;
    }
    busy_ = true;
    if (config::is_zeda(station_.settings().general.ad_type)) {
        set_board_clock(*when, values[6]);
    } else {
        set_pc_clock_only(*when);
    }
    busy_ = false;
}

void TimeSetWindow::set_pc_clock_only(const text::DateTime& when) {
    platform::PcClockSetter* setter = station_.devices().pc_clock;
    if (!setter) {
        station_.op().message(kTitle, kNoPermission, platform::MessageIcon::warning);
        return;
    }
    auto result = setter->set_local_time(when);
    if (!result) {
        station_.op().message(kTitle, "The PC clock cannot be set: " + result.text,
                              platform::MessageIcon::warning);
    }
}

void TimeSetWindow::set_board_clock(const text::DateTime& when, int gmt_field) {
    auto& port = station_.port();
    bool opened_here = false;
    auto close_if_opened = [&] {
        if (opened_here && port.is_open()) port.close();
    };
    try {
        // START's handshake asks the board and reads its answers, with the port open or
        // not: clock commands now would be taken into that exchange, and a port opened here
        // would be closed under it. Its pauses run the event loop, so this click can come.
        // A run whose port is closed is restarting its board: asking the board now would
        // stop it under the run's feet.
        if (station_.starting() || (!port.is_open() && station_.in_run())) {
            station_.op().message("Error", kCardNotFound, platform::MessageIcon::critical);
            return;
        }
        if (!port.is_open()) {
            acquisition::ZedaDriver driver(
                acquisition::zeda_model(station_.settings().general.ad_type));
            auto reply = driver.ComPortOpen(station_, 0);
            if (!reply) return;  // the port could not be opened; that has been said
            opened_here = true;
            if (reply->empty()) {
                close_if_opened();
                station_.op().message("Error", kCardNotFound, platform::MessageIcon::critical);
                return;
            }
        }

        // The PC: its date always, its time unless the board must not set the PC clock.
        const bool pc_rtc = pc_rtc_->isChecked();
        auto now = station_.clock().now();
        std::optional<text::DateTime> pc_target;
        if (!pc_rtc) {
            pc_target = when;
        } else if (when.year != now.year || when.month != now.month || when.day != now.day) {
            text::DateTime date_only = now;
            date_only.year = when.year;
            date_only.month = when.month;
            date_only.day = when.day;
            pc_target = date_only;
        }
        std::string pc_failure;
        if (pc_target) {
            if (platform::PcClockSetter* setter = station_.devices().pc_clock) {
                auto result = setter->set_local_time(*pc_target);
                if (!result) pc_failure = "The PC clock cannot be set: " + result.text;
            } else {
                pc_failure = kNoPermission;
            }
        }

        auto& general = station_.settings().general;
        general.pc_rtc = pc_rtc ? 1 : 0;
        general.pc_sync = pc_sync_->isChecked() ? 1 : 0;
        store_source(gmt_field);

        station_.board_commands().set_time(when.hour, when.minute, when.second);
        station_.AppendEventLog("Time manually set at " + text::format_time(when));
        station_.board_commands().set_date(when.year, when.month, when.day);
        station_.board_commands().set_time_zone(general.gmt_offset);

        // A clock set by hand starts a new drift measurement.
        auto& trim = station_.clock_trim();
        if (trim.window_open()) {
            trim.display().first_timing.clear();
            trim.display().last_timing.clear();
        }
        close_if_opened();
        if (!pc_failure.empty()) {
            station_.op().message(kTitle, pc_failure, platform::MessageIcon::warning);
        }
    } catch (const runtime::StepFailure& failure) {
        close_if_opened();
        station_.op().message("Error",
                              std::string("The A/D card clock was not set: ") + failure.what(),
                              platform::MessageIcon::critical);
    }
}

void TimeSetWindow::clear_chart() {
    station_.board_clock().clear_sync_minute_marks();
    dcfchart_->update();
}

bool TimeSetWindow::dcf_bar(int minute) const {
    if (minute < 0 || minute >= kMinutesPerDay) return false;
    auto m = static_cast<size_t>(minute);
    return station_.board_clock().state().sync_minute_marks[m] != 0;
}

void TimeSetWindow::refresh() {
    const auto& state = station_.board_clock().state();
    ad_clock_->setText(q(state.board_datetime_text));
    // While acquiring, the board's seconds refresh the PC texts; the timer shows them only
    // when idle.
    if (station_.run().acquisition_running == 1) {
        realtime_->setText(q(state.pc_now_text + state.pc_fraction_text));
    }
    dcfchart_->update();
}

void TimeSetWindow::show_pc_time(std::string_view text) {
    realtime_->setText(q(text));
}

void TimeSetWindow::show_time_window(const timekeeping::TimeWindowTexts& texts) {
    if (!station_.board_clock().state().last_sync_text.empty()) lastsync_->setText(q(texts.sync));
    timestatus_->setText(q(texts.status));
    hour_type_->setText(q(texts.hour_type));
    QPalette palette = dcf77sync_->palette();
    palette.setColor(QPalette::Window, texts.sync_bit ? kSyncColour : kNoSyncColour);
    dcf77sync_->setPalette(palette);
    if (texts.sync_bit && texts.minute_of_day >= 0 && texts.minute_of_day < kMinutesPerDay) {
        dcfchart_->update();
    }
}

}  // namespace velkantor::gui
