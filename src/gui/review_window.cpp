#include "gui/review_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <initializer_list>
#include <new>

#include "acquisition/station.h"
#include "config/settings_file.h"
#include "datalog/datalog_reader.h"
#include "datalog/datalog_writer.h"
#include "datalog/extraction.h"
#include "datalog/review_rules.h"
#include "display/drum.h"
#include "display/image_export.h"
#include "gui/drum_window.h"
#include "gui/picture_widget.h"
#include "gui/text_conversion.h"
#include "gui/time_box.h"
#include "gui/widgets.h"
#include "text/number_text.h"

namespace velkantor::gui {

namespace {

// The event loop runs after this many samples of a page: often enough for "Stop draw" to
// act at once, seldom enough that a page of half a million samples is not slowed by it.
constexpr int kYieldSamples = 512;

constexpr int kRowsMin = 2, kRowsMax = 8;
constexpr int kSpeedMin = 1, kSpeedMax = 500;
constexpr int kScaleMin = 1, kScaleMax = 1000;
constexpr double kMinutesMin = 1, kMinutesMax = 1440;

QScrollBar* scroll_bar(QWidget* parent, const char* name, int minimum, int maximum) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setRange(minimum, maximum);
    bar->setMinimumWidth(120);
    return bar;
}

// A setting shown on a scroll bar: a value from the file beyond the bar's range is shown at
// the bar's end, and is kept until the operator moves the bar.
void show_on_bar(QScrollBar* bar, double value) {
    const QSignalBlocker block(bar);
    const double shown = std::isfinite(value)
                             ? std::clamp(value, static_cast<double>(bar->minimum()),
                                          static_cast<double>(bar->maximum()))
                             : bar->minimum();
    bar->setValue(static_cast<int>(std::lround(shown)));
}

QLabel* legend_swatch(QWidget* parent, const char* caption, platform::Color colour, bool dark) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setAlignment(Qt::AlignCenter);
    label->setMargin(2);
    label->setStyleSheet(QString("background: rgb(%1,%2,%3); color: %4; padding: 1px 6px;")
                             .arg(colour.r)
                             .arg(colour.g)
                             .arg(colour.b)
                             .arg(dark ? "white" : "black"));
    return label;
}

}  // namespace

// While a page draws or an extraction runs: the window refuses a second one.
class ReviewWindow::Busy {
public:
    explicit Busy(ReviewWindow& window) : window_(window) {
        window_.busy_ = true;
        window_.enable_actions();
    }
    ~Busy() {
        window_.busy_ = false;
        window_.enable_actions();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    ReviewWindow& window_;
};

ReviewWindow::ReviewWindow(acquisition::Station& station, QWidget* parent)
    : QWidget(parent), station_(station) {
    setObjectName("Review");
    setWindowTitle("Review / Extract");
    setAttribute(Qt::WA_QuitOnClose, false);
    page_picture_.clear(platform::kChartColors[0]);
    build();
    load();
    resize(1320, 660);
}

ReviewWindow::~ReviewWindow() {
    release_focus(this);
}

void ReviewWindow::build() {
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(6, 6, 6, 6);
    root->addWidget(build_replay_area(), 1);
    root->addWidget(build_controls(), 0);
}

QWidget* ReviewWindow::build_replay_area() {
    replay_area_ = new QWidget(this);
    auto* column = new QVBoxLayout(replay_area_);
    column->setContentsMargins(0, 0, 0, 0);

    replay_ = new PictureWidget(page_picture_, replay_area_);
    replay_->setObjectName("replay");
    replay_->setToolTip("Click to set the pointed time, DoubleClick to Set & Review");
    replay_->setMinimumSize(kReplayWidth / 2, kReplayHeight / 2);
    replay_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    replay_->setCursor(Qt::CrossCursor);
    replay_->on_click = [this](QMouseEvent* event) { pointer_pressed(event, false); };
    replay_->on_double_click = [this](QMouseEvent* event) { pointer_pressed(event, true); };
    column->addWidget(replay_, 1);

    auto* times = new QHBoxLayout;
    const int time_width = fontMetrics().horizontalAdvance("0000/00/00 00:00:00") + 8;
    auto time_label = [&](const char* name) {
        auto* label = new QLabel(replay_area_);
        label->setObjectName(name);
        label->setMinimumWidth(time_width);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    beg_time_ = time_label("beg_time");
    end_time_ = time_label("end_time");
    cursor_ = time_label("cursor");
    times->addWidget(new QLabel("Begin:", replay_area_));
    times->addWidget(beg_time_);
    times->addWidget(new QLabel("End:", replay_area_));
    times->addWidget(end_time_);
    times->addWidget(new QLabel("Cursor at:", replay_area_));
    times->addWidget(cursor_);
    times->addStretch(1);
    times->addWidget(new QLabel("Signal:", replay_area_));
    times->addWidget(legend_swatch(replay_area_, "Locked", platform::kChartColors[14], false));
    times->addWidget(legend_swatch(replay_area_, "Unlocked", platform::kChartColors[4], true));
    times->addWidget(legend_swatch(replay_area_, "Missing", platform::kChartColors[7], false));
    auto* rep_close = button(replay_area_, "rep_close", "close", "Closw Replay Window");
    times->addSpacing(8);
    times->addWidget(rep_close);
    column->addLayout(times);

    connect(rep_close, &QPushButton::clicked, this, [this] { close_replay_area(); });
    return replay_area_;
}

QWidget* ReviewWindow::build_controls() {
    auto* panel = new QWidget(this);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);

    // The page: where it begins and for which channel, and the buttons that draw it.
    auto* view_box = new QGroupBox("Review", panel);
    auto* view_grid = new QGridLayout(view_box);
    startviewdate_ = new QDateEdit(view_box);
    startviewdate_->setObjectName("startviewdate");
    startviewdate_->setDisplayFormat("yyyy/MM/dd");
    startviewdate_->setCalendarPopup(true);
    startviewdate_->setMinimumDate(QDate(1900, 1, 1));
    startviewtime_ = new TimeBox(view_box);
    startviewtime_->setObjectName("startviewtime");
    startviewtime_->setToolTip("HH:MM:SS (9:05 is 09:05:00)");
    startviewtime_->setText("00:00:00");
    // The box itself is the context: it loses the focus while the window is being destroyed,
    // when nothing of the window but its QWidget part is left.
    auto* time_box = startviewtime_;
    connect(time_box, &QLineEdit::editingFinished, time_box,
            [time_box] { time_box->setText(time_box->time().toString("HH:mm:ss")); });
    rep_ch_ = new QComboBox(view_box);
    rep_ch_->setObjectName("rep_ch");
    for (int ch = 1; ch <= 4; ++ch) rep_ch_->addItem(QString::number(ch));
    view_grid->addWidget(new QLabel("Date", view_box), 0, 0);
    view_grid->addWidget(startviewdate_, 0, 1);
    view_grid->addWidget(new QLabel("Time", view_box), 1, 0);
    view_grid->addWidget(startviewtime_, 1, 1);
    view_grid->addWidget(new QLabel("Channel", view_box), 2, 0);
    view_grid->addWidget(rep_ch_, 2, 1);
    ok_view_ = button(view_box, "ok_view", "Review", "Start Review of selected date and time");
    rewind_ = button(view_box, "rewind", "Rewind");
    prevpage_ = button(view_box, "prevpage", "Previous page");
    nextpage_ = button(view_box, "nextpage", "Next page");
    stop_draw_ = button(view_box, "stop_draw", "Stop draw", "Stop current review");
    cmd_drum_ = button(view_box, "cmd_drum", "Show drum");
    auto* buttons = new QGridLayout;
    buttons->addWidget(ok_view_, 0, 0);
    buttons->addWidget(rewind_, 0, 1);
    buttons->addWidget(prevpage_, 1, 0);
    buttons->addWidget(nextpage_, 1, 1);
    buttons->addWidget(stop_draw_, 2, 0);
    buttons->addWidget(cmd_drum_, 2, 1);
    view_grid->addLayout(buttons, 3, 0, 1, 2);
    column->addWidget(view_box);

    // How the page is laid out.
    auto* page_box = new QGroupBox("Page", panel);
    auto* page_grid = new QGridLayout(page_box);
    rep_rows_adj_ = scroll_bar(page_box, "rep_rows_adj", kRowsMin, kRowsMax);
    rep_chart_adj_ = scroll_bar(page_box, "rep_chart_adj", kSpeedMin, kSpeedMax);
    rep_scale_adj_ = scroll_bar(page_box, "rep_scale_adj", kScaleMin, kScaleMax);
    rep_chart_adj_->setPageStep(10);
    rep_scale_adj_->setPageStep(10);
    rep_chart_ = new QLabel("Speed", page_box);
    rep_chart_->setObjectName("rep_chart");
    rep_chart_->setToolTip("Green: less than half a pixel per sample");
    rep_chart_->setAutoFillBackground(true);
    rep_chart_->setMargin(2);
    const int value_width = fontMetrics().horizontalAdvance("00000") + 4;
    auto value_label = [&] {
        auto* label = new QLabel(page_box);
        label->setMinimumWidth(value_width);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return label;
    };
    rows_value_ = value_label();
    chart_value_ = value_label();
    scale_value_ = value_label();
    // The same margin as the indicator's, so the three captions line up.
    auto caption = [page_box](const char* text) {
        auto* label = new QLabel(text, page_box);
        label->setMargin(2);
        return label;
    };
    page_grid->addWidget(caption("Rows"), 0, 0);
    page_grid->addWidget(rep_rows_adj_, 0, 1);
    page_grid->addWidget(rows_value_, 0, 2);
    page_grid->addWidget(rep_chart_, 1, 0);
    page_grid->addWidget(rep_chart_adj_, 1, 1);
    page_grid->addWidget(chart_value_, 1, 2);
    page_grid->addWidget(caption("Y scale"), 2, 0);
    page_grid->addWidget(rep_scale_adj_, 2, 1);
    page_grid->addWidget(scale_value_, 2, 2);
    page_grid->setColumnStretch(1, 1);
    column->addWidget(page_box);

    auto* folder_box = new QGroupBox("Datalog folder", panel);
    auto* folder = new QVBoxLayout(folder_box);
    logpath_ = new QLineEdit(folder_box);
    logpath_->setObjectName("logpath");
    logpath_->setToolTip("Datalog Folder Path. Network path allowed");
    logpath_->installEventFilter(this);
    folder->addWidget(logpath_);
    column->addWidget(folder_box);

    // Extraction of the ticked channels from the start fields on.
    auto* extract_box = new QGroupBox("Extract", panel);
    auto* extract_grid = new QGridLayout(extract_box);
    configfile_ = new QLineEdit(extract_box);
    configfile_->setObjectName("configfile");
    configfile_->setToolTip("Specify a VELKANT.INI configuration file to be used for data extract");
    configfile_->installEventFilter(this);
    duration_ = new QLineEdit("1", extract_box);
    duration_->setObjectName("duration");
    duration_->setToolTip("Minutes to extract starting from date/time selection");
    duration_->setMaximumWidth(fontMetrics().horizontalAdvance("00000.0") + 16);
    extract_grid->addWidget(new QLabel("Station setting used for extract", extract_box), 0, 0, 1,
                            3);
    extract_grid->addWidget(configfile_, 1, 0, 1, 3);
    extract_grid->addWidget(new QLabel("Minutes", extract_box), 2, 0);
    extract_grid->addWidget(duration_, 2, 1, Qt::AlignLeft);
    auto* channels = new QHBoxLayout;
    channels->addWidget(new QLabel("Channels", extract_box));
    for (size_t i = 0; i < chk_extract_.size(); ++i) {
        auto* box = new QCheckBox(QString::number(i + 1), extract_box);
        box->setObjectName(QString("chk_extract(%1)").arg(i));
        chk_extract_[i] = box;
        channels->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) {
            auto& mask = station_.settings().general.extract_channels;
            const int bit = 1 << i;
            mask = static_cast<int16_t>(on ? (mask | bit) : (mask & ~bit));
        });
    }
    channels->addStretch(1);
    extract_grid->addLayout(channels, 3, 0, 1, 3);
    extract_ = button(extract_box, "extract", "Extract ->",
                      "Extract an event file from selected date/time for minutes selected");
    exbar_ = new QProgressBar(extract_box);
    exbar_->setObjectName("exbar");
    exbar_->setToolTip("Extracting processing bar");
    exbar_->setRange(0, 100);
    exbar_->setValue(0);
    extract_grid->addWidget(extract_, 4, 0);
    extract_grid->addWidget(exbar_, 4, 1, 1, 2);
    extract_grid->setColumnStretch(2, 1);
    column->addWidget(extract_box);
    column->addStretch(1);
    panel->setFixedWidth(std::max(panel->sizeHint().width(), 300));

    connect(ok_view_, &QPushButton::clicked, this, [this] { draw_page(); });
    connect(nextpage_, &QPushButton::clicked, this, [this] { next_page(); });
    connect(prevpage_, &QPushButton::clicked, this, [this] { previous_page(); });
    connect(rewind_, &QPushButton::clicked, this, [this] { rewind(); });
    connect(stop_draw_, &QPushButton::clicked, this, [this] { review_stop_ = true; });
    connect(cmd_drum_, &QPushButton::clicked, this, [this] { show_drum(); });
    connect(extract_, &QPushButton::clicked, this, [this] { this->extract(); });
    connect(rep_rows_adj_, &QScrollBar::valueChanged, this, [this](int value) {
        station_.settings().general.review_rows = static_cast<int16_t>(value);
        rows_value_->setNum(value);
    });
    connect(rep_chart_adj_, &QScrollBar::valueChanged, this, [this](int value) {
        station_.settings().general.review_chart_speed = value;
        chart_value_->setNum(value);
        show_speed_indicator();
    });
    connect(rep_scale_adj_, &QScrollBar::valueChanged, this, [this](int value) {
        station_.settings().general.review_y_scale = value;
        scale_value_->setNum(value);
    });
    connect(logpath_, &QLineEdit::textEdited, this,
            [this](const QString& text) { station_.settings().general.datalog_folder = s(text); });
    connect(duration_, &QLineEdit::editingFinished, this, [this] { commit_duration(); });
    return panel;
}

void ReviewWindow::load() {
    auto& general = station_.settings().general;
    if (general.review_y_scale == 0) general.review_y_scale = 1;
    if (general.review_chart_speed == 0) general.review_chart_speed = 1;
    general.review_rows =
        static_cast<int16_t>(std::clamp<int>(general.review_rows, kRowsMin, kRowsMax));
    show_settings();
    const text::DateTime now = station_.clock().now();
    set_start({now.year, now.month, now.day, 0, 0, 0, 0});
    configfile_->setText(q(platform::join_path(station_.folder(), config::kSettingsFileName)));
    enable_actions();
}

void ReviewWindow::show_settings() {
    const auto& general = station_.settings().general;
    show_on_bar(rep_rows_adj_, general.review_rows);
    show_on_bar(rep_chart_adj_, general.review_chart_speed);
    show_on_bar(rep_scale_adj_, general.review_y_scale);
    rows_value_->setText(q(text::shortest_real(general.review_rows)));
    chart_value_->setText(q(text::shortest_real(general.review_chart_speed)));
    scale_value_->setText(q(text::shortest_real(general.review_y_scale)));
    show_speed_indicator();
    if (!logpath_->hasFocus()) logpath_->setText(q(general.datalog_folder));
    for (size_t i = 0; i < chk_extract_.size(); ++i) {
        const QSignalBlocker block(chk_extract_[i]);
        chk_extract_[i]->setChecked((general.extract_channels & (1 << i)) != 0);
    }
}

void ReviewWindow::set_start(const text::DateTime& start) {
    startviewdate_->setDate(QDate(start.year, start.month, start.day));
    startviewtime_->set_time(QTime(start.hour, start.minute, start.second));
}

text::DateTime ReviewWindow::start() const {
    const QDate date = startviewdate_->date();
    const QTime time = startviewtime_->time();
    return {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), 0};
}

int ReviewWindow::review_channel() const {
    return std::clamp(rep_ch_->currentIndex(), 0, 3);
}

void ReviewWindow::enable_actions() {
    for (QWidget* control : std::initializer_list<QWidget*>{
             ok_view_, rewind_, cmd_drum_, extract_, rep_ch_, startviewdate_, startviewtime_}) {
        control->setEnabled(!busy_);
    }
    // Paging needs a page on screen: its end and length.
    nextpage_->setEnabled(!busy_ && page_shown_);
    prevpage_->setEnabled(!busy_ && page_shown_);
}

void ReviewWindow::show_speed_indicator() {
    const auto& general = station_.settings().general;
    const auto layout = datalog::ReviewLayout::from_settings(
        general.review_rows, general.review_chart_speed, general.review_y_scale);
    QPalette palette = rep_chart_->palette();
    if (layout.step < 0.5) {
        const platform::Color green = platform::kChartColors[2];
        palette.setColor(QPalette::Window, QColor(green.r, green.g, green.b));
        palette.setColor(QPalette::WindowText, Qt::white);
    } else {
        palette.setColor(QPalette::Window, QWidget::palette().color(QPalette::Button));
        palette.setColor(QPalette::WindowText, QWidget::palette().color(QPalette::ButtonText));
    }
    rep_chart_->setPalette(palette);
}

void ReviewWindow::open_replay_area() {
    if (replay_area_->isVisible() || !isVisible()) {
        replay_area_->show();
        return;
    }
    replay_area_->show();
    if (open_size_.isValid()) resize(open_size_);
}

void ReviewWindow::close_replay_area() {
    review_stop_ = true;
    if (!replay_area_->isVisible()) return;
    open_size_ = size();
    replay_area_->hide();
    // The controls alone: the window shrinks to them.
    layout()->activate();
    resize(minimumSizeHint());
}

void ReviewWindow::draw_page() {
    if (busy_) return;
    const auto& general = station_.settings().general;
    const int ch = review_channel();
    datalog::DatalogReader reader(
        station_.fs(), datalog::ReviewDatalogFolder(station_.fs(), general.datalog_folder),
        datalog::DatalogSampleBytes(general.ad_type));
    // Nothing to draw: the page on screen stays as it is.
    if (reader.files(ch).empty()) {
        station_.op().message("Warning!", "No datalog file present.",
                              platform::MessageIcon::critical);
        return;
    }
    const Busy guard(*this);
    const auto layout = datalog::ReviewLayout::from_settings(
        general.review_rows, general.review_chart_speed, general.review_y_scale);
    show_speed_indicator();
    open_replay_area();
    page_shown_ = false;
    review_stop_ = false;
    const text::DateTime begin = start();
    beg_time_->setText(q(text::format_datetime(begin)));
    end_time_->clear();
    cursor_->clear();

    int samples = 0;
    const auto stop = [this, &samples] {
        if (++samples % kYieldSamples == 0) {
            replay_->refresh();
            QCoreApplication::processEvents();
        }
        return review_stop_;
    };
    datalog::ReviewPage drawn;
    try {
        drawn = datalog::DrawReviewPage(page_picture_, reader, ch, text::to_epoch_seconds(begin),
                                        layout, stop);
    } catch (const std::bad_alloc&) {
        replay_->refresh();
        report_failure("OK_VIEW", "Out of memory", 7);
        return;
    } catch (const std::exception& failure) {
        replay_->refresh();
        report_failure("OK_VIEW", failure.what(), 5);
        return;
    }
    replay_->refresh();
    if (!drawn.drawn()) {
        station_.op().message(drawn.title, drawn.message, platform::MessageIcon::critical);
        return;
    }
    page_ = drawn;
    page_layout_ = layout;
    page_shown_ = true;
    end_time_->setText(q(text::format_datetime(text::from_epoch_seconds(drawn.end_epoch))));
}

void ReviewWindow::next_page() {
    if (busy_ || !page_shown_) return;
    set_start(datalog::NextPageStart(page_));
    draw_page();
}

void ReviewWindow::previous_page() {
    if (busy_ || !page_shown_) return;
    set_start(datalog::PreviousPageStart(page_));
    draw_page();
}

void ReviewWindow::rewind() {
    if (busy_) return;
    startviewtime_->set_time(QTime(0, 0, 0));
    draw_page();
}

void ReviewWindow::pointer_pressed(QMouseEvent* event, bool set_and_review) {
    if (busy_ || !page_shown_ || replay_->width() <= 0 || replay_->height() <= 0) return;
    // The widget shows the whole picture stretched over it.
    const QPointF at = event->position();
    const double x = at.x() * page_picture_.width() / replay_->width();
    const double y = at.y() * page_picture_.height() / replay_->height();
    const double time = datalog::ReviewCursorTime(page_, page_layout_, page_picture_.width(),
                                                  page_picture_.height(), x, y);
    text::DateTime when = text::from_epoch_seconds(std::floor(time));
    when.millisecond = 0;
    cursor_->setText(q(text::format_datetime(when)));
    // A click sets the pointed time; a double click sets it and reviews from there.
    set_start(when);
    if (set_and_review) draw_page();
}

void ReviewWindow::show_drum() {
    if (busy_) return;
    const auto& general = station_.settings().general;
    const int ch = review_channel();
    const text::DateTime day = start();
    const std::string base = datalog::ReviewDrumBase(
        platform::join_path(station_.folder(), "drums"), day, station_.clock().now(), ch);
    const std::string path = display::FindDrumImage(station_.fs(), base, general.drum_format);
    if (path.empty()) {
        station_.op().message(
            "Warning!",
            "No drum image " + base + display::drum_image_type(general.drum_format).extension + ".",
            platform::MessageIcon::critical);
        return;
    }
    auto picture =
        std::make_unique<platform::QImageCanvas>(display::kDrumWidth, display::kDrumHeight);
    picture->clear(platform::kChartColors[15]);
    const auto bytes = station_.fs().read_file(path);
    if (!bytes || !codec_.decode(*bytes, *picture)) {
        station_.op().message("Warning!", "The drum image " + path + " cannot be read.",
                              platform::MessageIcon::critical);
        return;
    }
    if (drum_window_) {
        drum_window_->set_picture(*picture);
    } else {
        drum_window_ = std::make_unique<DrumWindow>(ch, *picture, nullptr);
        // Not the live drum of the channel: its own name, and no clearing on a double click.
        drum_window_->setObjectName("review_drum");
        drum_window_->setAttribute(Qt::WA_QuitOnClose, false);
    }
    // The window shows the new picture before the old one goes.
    drum_picture_ = std::move(picture);
    drum_window_->setWindowTitle(
        QString("Drum Channel %1 - %2").arg(ch + 1).arg(q(text::format_date(day))));
    drum_window_->show();
    drum_window_->raise();
    drum_window_->activateWindow();
}

void ReviewWindow::commit_duration() {
    duration_->setText(q(text::ClampNumberText(s(duration_->text()), kMinutesMin, kMinutesMax)));
}

void ReviewWindow::extract() {
    if (busy_) return;
    commit_duration();
    const config::Settings& live = station_.settings();
    config::Settings chosen;
    const auto report = config::ReadConfigurationFile(chosen, station_.fs(), s(configfile_->text()),
                                                      station_.folder());
    if (!report.fatal_error.empty()) {
        station_.op().message("Error", report.fatal_error, platform::MessageIcon::critical);
        return;
    }
    const Busy guard(*this);
    datalog::ExtractRequest request;
    request.settings = datalog::ExtractSettings(live, chosen);
    request.datalog_folder =
        datalog::ReviewDatalogFolder(station_.fs(), live.general.datalog_folder);
    request.events_folder = platform::join_path(station_.folder(), "events");
    request.from = start();
    request.minutes = text::leading_number(s(duration_->text())).value_or(kMinutesMin);
    request.channel_mask = live.general.extract_channels & 0x0F;
    exbar_->setValue(0);
    datalog::ExtractResult result;
    try {
        result = datalog::ExtractEventFile(station_.fs(), request, [this](double fraction) {
            const double percent =
                std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) * 100 : 0;
            exbar_->setValue(static_cast<int>(std::lround(percent)));
            QCoreApplication::processEvents();
        });
    } catch (const std::bad_alloc&) {
        report_failure("EXTRACT", "Out of memory", 7);
        return;
    } catch (const std::exception& failure) {
        report_failure("EXTRACT", failure.what(), 5);
        return;
    }
    if (!result.message.empty()) {
        station_.op().message(result.title, result.message, platform::MessageIcon::critical);
    }
}

void ReviewWindow::logpath_double_clicked() {
    if (!station_.op().ask_yes_no("Question", "Set Standard VELKANTOR path?", false)) return;
    station_.settings().general.datalog_folder = station_.folder();
    logpath_->setText(q(station_.folder()));
}

void ReviewWindow::configfile_double_clicked() {
    if (!station_.op().ask_yes_no("Question", "Select default configuration file for extract?",
                                  false)) {
        return;
    }
    configfile_->setText(q(platform::join_path(station_.folder(), config::kSettingsFileName)));
}

void ReviewWindow::report_failure(const char* procedure, const std::string& what, int number) {
    // Under the service policy a failure is not trapped; here it is at least never hidden.
    if (station_.settings().general.service_mode != 0) {
        station_.op().message("Error", std::string(procedure) + ": " + what,
                              platform::MessageIcon::critical);
        return;
    }
    station_.errors().ReportError({number, what}, station_.ProgressMarker, procedure);
}

bool ReviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == logpath_) {
            logpath_double_clicked();
            return true;
        }
        if (watched == configfile_) {
            configfile_double_clicked();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ReviewWindow::showEvent(QShowEvent* event) {
    // Settings may have been changed elsewhere (a file reload, another window) while hidden.
    if (!event->spontaneous()) show_settings();
    QWidget::showEvent(event);
}

void ReviewWindow::closeEvent(QCloseEvent* event) {
    // A page being drawn for a window that is gone is work for nobody.
    review_stop_ = true;
    QWidget::closeEvent(event);
}

}  // namespace velkantor::gui
