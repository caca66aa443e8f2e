#include "gui/scheduler_window.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <initializer_list>

#include "acquisition/station.h"
#include "config/settings.h"
#include "events/schedule.h"
#include "events/schedule_rules.h"
#include "gui/text_conversion.h"
#include "gui/widgets.h"

namespace velkantor::gui {

SchedulerWindow::SchedulerWindow(acquisition::Station& station, QWidget* parent)
    : QWidget(parent), station_(station) {
    setObjectName("scheduler");
    setWindowTitle("Recording Scheduler");
    // Opened from another window, never the program's last one.
    setAttribute(Qt::WA_QuitOnClose, false);
    build();
    load_list();
}

void SchedulerWindow::build() {
    auto* root = new QVBoxLayout(this);

    auto* frame = new QGroupBox("Scheduled recording", this);
    auto* grid = new QGridLayout(frame);

    start_date_ = new QLineEdit(frame);
    start_date_->setObjectName("start_date");
    start_time_ = new QLineEdit(frame);
    start_time_->setObjectName("start_time");
    channel_ = new QLineEdit(frame);
    channel_->setObjectName("channel");
    const QFontMetrics metrics(start_date_->font());
    start_date_->setMinimumWidth(metrics.horizontalAdvance("0000/00/00") + 16);
    start_time_->setMinimumWidth(metrics.horizontalAdvance("00:00:00") + 16);
    channel_->setFixedWidth(metrics.horizontalAdvance("000") + 16);
    auto* date_label = new QLabel("YYYY/MM/DD", frame);
    date_label->setBuddy(start_date_);
    auto* time_label = new QLabel("HH:MM:SS", frame);
    time_label->setBuddy(start_time_);
    auto* channel_label = new QLabel("Channel", frame);
    channel_label->setBuddy(channel_);
    grid->addWidget(date_label, 0, 0);
    grid->addWidget(time_label, 0, 1);
    grid->addWidget(channel_label, 0, 2);
    grid->addWidget(start_date_, 1, 0);
    grid->addWidget(start_time_, 1, 1);
    grid->addWidget(channel_, 1, 2);

    grid->addWidget(new QLabel("START date - time - channel", frame), 2, 0, 1, 3);
    recording_ = new QListWidget(frame);
    recording_->setObjectName("recording");
    recording_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Fixed pitch: the dates and times of the entries line up.
    recording_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics list_metrics(recording_->font());
    recording_->setMinimumWidth(list_metrics.horizontalAdvance("0000/00/00 00:00:00 Ch:0") + 40);
    // Twenty entries fit without scrolling.
    recording_->setMinimumHeight(list_metrics.height() * 20 + 12);
    grid->addWidget(recording_, 3, 0, 1, 3);

    auto* edit_buttons = new QVBoxLayout;
    cmd_add_ = button(frame, "cmd_add", "Add");
    modify_ = button(frame, "Command2", "Modify");
    cmd_del_ = button(frame, "cmd_del", "Delete");
    edit_buttons->addWidget(cmd_add_);
    edit_buttons->addWidget(modify_);
    edit_buttons->addWidget(cmd_del_);
    edit_buttons->addStretch(1);
    grid->addLayout(edit_buttons, 1, 3, 3, 1);
    grid->setRowStretch(3, 1);
    root->addWidget(frame, 1);

    auto* bottom = new QHBoxLayout;
    apply_ = button(this, "cmd_scheduler_apply", "Apply");
    ok_ = button(this, "cmd_scheduler_ok", "OK");
    auto* cancel = button(this, "Command1", "cancel");
    bottom->addStretch(1);
    bottom->addWidget(apply_);
    bottom->addWidget(ok_);
    bottom->addWidget(cancel);
    root->addLayout(bottom);

    // A click on the entry already selected fills the fields again, after they were edited.
    connect(recording_, &QListWidget::itemSelectionChanged, this,
            [this] { entry_selected(selected_row()); });
    connect(recording_, &QListWidget::itemClicked, this,
            [this] { entry_selected(selected_row()); });
    connect(cmd_add_, &QPushButton::clicked, this, [this] { add(); });
    connect(modify_, &QPushButton::clicked, this, [this] { modify(); });
    connect(cmd_del_, &QPushButton::clicked, this, [this] { remove(); });
    connect(apply_, &QPushButton::clicked, this, [this] { apply(); });
    connect(ok_, &QPushButton::clicked, this, [this] {
        apply();
        close();
    });
    connect(cancel, &QPushButton::clicked, this, [this] { close(); });
}

std::vector<std::string> SchedulerWindow::entries() const {
    std::vector<std::string> list;
    list.reserve(static_cast<size_t>(recording_->count()));
    for (int row = 0; row < recording_->count(); ++row)
        list.push_back(s(recording_->item(row)->text()));
    return list;
}

void SchedulerWindow::load_list() {
    recording_->clear();
    for (const std::string& entry : events::ScheduleListEntries(station_.settings())) {
        recording_->addItem(q(entry));
    }
    recording_->setCurrentRow(-1);
}

int SchedulerWindow::selected_row() const {
    // The current row alone is not a choice: the list makes its first entry current when it
    // gets the focus, without selecting it.
    const int row = recording_->currentRow();
    if (row < 0 || row >= recording_->count() || !recording_->item(row)->isSelected()) return -1;
    return row;
}

void SchedulerWindow::entry_selected(int row) {
    if (row < 0 || row >= recording_->count()) return;
    const events::ScheduleFields fields =
        events::SplitScheduleEntry(s(recording_->item(row)->text()));
    start_date_->setText(q(fields.date));
    start_time_->setText(q(fields.time));
    channel_->setText(q(fields.channel));
}

std::string SchedulerWindow::entry_from_fields(int entries) {
    const auto channel = events::ScheduleChannelText(s(channel_->text()));
    const events::ScheduleEdit edit = events::MakeScheduleEntry(
        s(start_date_->text()), s(start_time_->text()), channel.value_or("1"), entries);
    if (!edit.ok) {
        station_.op().message(edit.title, edit.text, platform::MessageIcon::critical);
        return {};
    }
    if (!channel) {
        station_.op().message("Error", events::kScheduleChannelText,
                              platform::MessageIcon::critical);
        return {};
    }
    channel_->setText(q(*channel));
    return edit.entry;
}

void SchedulerWindow::add() {
    const std::string entry = entry_from_fields(recording_->count());
    if (!entry.empty()) recording_->addItem(q(entry));
}

void SchedulerWindow::modify() {
    const int row = selected_row();
    if (row < 0) {
        station_.op().message("Error", "Select a scheduled recording to modify.",
                              platform::MessageIcon::information);
        return;
    }
    // Replacing an entry does not make the list longer: the twenty-entry rule is not asked.
    const std::string entry = entry_from_fields(0);
    if (!entry.empty()) recording_->item(row)->setText(q(entry));
}

void SchedulerWindow::remove() {
    const int row = selected_row();
    if (row < 0) {
        station_.op().message("Error", "Select a scheduled recording to delete.",
                              platform::MessageIcon::information);
        return;
    }
    delete recording_->takeItem(row);
    // Nothing is selected afterwards: a second Delete must not remove the next entry unseen.
    recording_->clearSelection();
    recording_->setCurrentRow(-1);
}

void SchedulerWindow::apply() {
    events::ApplyScheduleList(station_.settings(), entries());
}

void SchedulerWindow::apply_settings_lock() {
    const bool locked = station_.settings().general.settings_locked != 0;
    for (QWidget* control : std::initializer_list<QWidget*>{
             start_date_, start_time_, channel_, cmd_add_, modify_, cmd_del_, apply_, ok_}) {
        control->setEnabled(!locked);
    }
}

void SchedulerWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        load_list();
        apply_settings_lock();
    }
    QWidget::showEvent(event);
}

void SchedulerWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) apply_settings_lock();
    QWidget::changeEvent(event);
}

}  // namespace velkantor::gui
