#include "gui/event_list_window.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "acquisition/station.h"
#include "events/event_list_rules.h"
#include "gui/text_conversion.h"

namespace velkantor::gui {

namespace {

QPushButton* push_button(QWidget* parent, const char* name, const char* caption, const char* tip) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    b->setToolTip(QString::fromUtf8(tip));
    return b;
}

constexpr const char* kViewTitle = "File View";
constexpr const char* kNoViewerText =
    "No file viewer is set: name one in Setup (the event browser).";

}  // namespace

bool EventListWindow::StartDetached(const std::string& program,
                                    const std::vector<std::string>& arguments) {
    QStringList list;
    for (const auto& argument : arguments) list << q(argument);
    return QProcess::startDetached(q(program), list);
}

EventListWindow::EventListWindow(acquisition::Station& station, Launcher launcher, QWidget* parent)
    : QWidget(parent),
      station_(station),
      launcher_(std::move(launcher)),
      self_(std::make_shared<EventListWindow*>(this)) {
    setObjectName("eventlist");
    setWindowTitle("EVENT LIST");
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* root = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setObjectName("List1");
    list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    root->addWidget(list_, 1);

    auto* buttons = new QHBoxLayout;
    auto* eventview = push_button(this, "eventview", "File View",
                                  "Open the selected event file with the file viewer");
    auto* delete_event =
        push_button(this, "delete_event", "Delete", "Delete the selected event file");
    auto* aggiorna = push_button(this, "aggiorna", "Update list", "Read the event list again");
    auto* clear = push_button(this, "delete", "Clear List",
                              "Empty the event list and acknowledge the event alarm");
    auto* cancel = push_button(this, "cancel", "close", "Close this window");
    for (auto* b : {eventview, delete_event, aggiorna}) buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(clear);
    buttons->addSpacing(16);
    buttons->addWidget(cancel);
    root->addLayout(buttons);
    // Wide enough for an event's summary line (about 100 characters) without scrolling.
    const int line_width = list_->fontMetrics().horizontalAdvance(QString(106, QChar('0')));
    resize(std::min(line_width + 60, 1300), 480);

    connect(eventview, &QPushButton::clicked, this, [this] { view(selected_row()); });
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { view(list_->row(item)); });
    connect(delete_event, &QPushButton::clicked, this, [this] { delete_selected(); });
    connect(aggiorna, &QPushButton::clicked, this, [this] { reload(); });
    connect(clear, &QPushButton::clicked, this, [this] { clear_log(); });
    connect(cancel, &QPushButton::clicked, this, [this] { close(); });

    // Whoever listened to the log before keeps hearing every line.
    auto& log = station_.event_log();
    log.on_line = [previous = log.on_line,
                   window = std::weak_ptr<EventListWindow*>(self_)](const std::string& line) {
        if (previous) previous(line);
        if (auto alive = window.lock()) (*alive)->append_line(line);
    };
}

EventListWindow::~EventListWindow() {
    self_.reset();
}

void EventListWindow::reload() {
    list_->clear();
    lines_.clear();
    // A missing log shows an empty list, without a message.
    auto text = station_.fs().read_file(station_.event_log().path());
    if (!text) return;
    lines_ = events::EventLogLines(*text);
    for (const auto& line : lines_) list_->addItem(q(line));
    list_->scrollToBottom();
}

void EventListWindow::append_line(const std::string& line) {
    // A closed window reads the whole file when it opens again.
    if (!isVisible()) return;
    lines_.push_back(line);
    list_->addItem(q(line));
    list_->setCurrentRow(list_->count() - 1);
    list_->scrollToBottom();
}

std::optional<std::string> EventListWindow::event_file_path(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= lines_.size()) return std::nullopt;
    auto name = events::EventFileName(lines_[static_cast<size_t>(row)]);
    if (!name) return std::nullopt;
    return platform::join_path(station_.settings().general.events_folder, *name);
}

int EventListWindow::selected_row() const {
    // The row the operator selected, not the one that merely has the keyboard focus.
    const auto selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->row(selected.front());
}

void EventListWindow::view(int row) {
    auto path = event_file_path(row);
    // An entry naming no file, or a file that is gone, skips the action.
    if (!path || !station_.fs().exists(*path)) return;
    const std::string& browser = station_.settings().general.event_browser;
    // The setting may carry the viewer's own arguments; the event file comes last, as one
    // argument, and no shell sees any of it.
    std::vector<std::string> words = events::ViewerCommandWords(browser);
    if (words.empty()) {
        station_.op().message(
            kViewTitle,
            browser.empty() ? kNoViewerText : "The file viewer setting cannot be read: " + browser,
            platform::MessageIcon::warning);
        return;
    }
    std::string program = words.front();
    words.erase(words.begin());
    words.push_back(*path);
    if (!launcher_ || !launcher_(program, words)) {
        station_.op().message(kViewTitle, "The file viewer could not be started: " + program,
                              platform::MessageIcon::warning);
    }
}

void EventListWindow::delete_selected() {
    const int row = selected_row();
    auto path = event_file_path(row);
    if (!path || !station_.fs().exists(*path)) return;
    auto name = events::EventFileName(lines_[static_cast<size_t>(row)]);
    std::string question = std::string(events::kDeleteEventQuestion) + *name;
    if (!station_.op().ask_yes_no(events::kDeleteEventTitle, question, false)) return;
    if (!station_.fs().remove(*path)) return;
    // The log keeps its line: the entry comes back with the next update.
    delete list_->takeItem(row);
    lines_.erase(lines_.begin() + row);
}

void EventListWindow::clear_log() {
    const std::string& path = station_.event_log().path();
    auto cleared = station_.fs().replace_file(path, std::string(events::kClearedEventLog) + "\r\n");
    if (!cleared) {
        // The events are still listed, so they are not acknowledged either.
        station_.op().message("Error", "The event list could not be cleared: " + cleared.error,
                              platform::MessageIcon::critical);
        reload();
        return;
    }
    // Emptying the list is the operator's acknowledgement of the recorded events.
    station_.alarms().event_recorded = 0;
    reload();
}

void EventListWindow::showEvent(QShowEvent* event) {
    // A window restored from the task bar is not opened again.
    if (!event->spontaneous()) reload();
    QWidget::showEvent(event);
}

}  // namespace velkantor::gui
