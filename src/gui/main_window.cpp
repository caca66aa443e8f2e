#include "gui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "config/rate_rules.h"
#include "config/rates.h"
#include "config/settings_file.h"
#include "gui/text_conversion.h"
#include "gui/widgets.h"
#include "text/number_text.h"

namespace velkantor::gui {

namespace {

constexpr int kChartWidth = 1000;
constexpr int kChartHeight = 110;
constexpr int kZoomHeight = 4 * kChartHeight;
// Fits a 1280 x 800 screen with a title bar and a panel; larger screens give the charts more.
constexpr int kDefaultWidth = 1260;
constexpr int kDefaultHeight = 720;

std::string indexed(const char* name, int i) {
    return std::string(name) + "(" + std::to_string(i) + ")";
}

const char* const kChartTips[4] = {
    "Channel 1. Double click to zoom.", "Channel 2. Double click to zoom",
    "Channel 3. Double click to zoom", "Channel 4. Double click to zoom"};

// A label the run rewrites several times a second gets a fixed size, wide enough for
// `widest`: a new text then repaints the label alone, where a label that may change its size
// makes every new text lay the whole window out again.
void fix_size_for(QLabel* label, const QString& widest, int min_width) {
    label->setText(widest);
    const QSize hint = label->sizeHint();
    label->clear();
    label->setFixedSize(std::max(min_width, hint.width()), hint.height());
}

}  // namespace

MainWindow::MainWindow(acquisition::Station& station, display::Displays& displays, Actions actions,
                       QWidget* parent)
    : QWidget(parent), station_(station), displays_(displays), actions_(std::move(actions)) {
    setObjectName("panel");
    for (auto& picture : chart_pictures_) {
        picture = std::make_unique<platform::QImageCanvas>(kChartWidth, kChartHeight);
    }
    zoom_picture_ = std::make_unique<platform::QImageCanvas>(kChartWidth, kZoomHeight);
    build();
    std::array<platform::Canvas*, 4> canvases{};
    for (size_t i = 0; i < 4; ++i) canvases[i] = chart_pictures_[i].get();
    displays_.charts().set_canvases(canvases, zoom_picture_.get());
    for (auto& picture : chart_pictures_) picture->clear(display::ScopeCharts::kBackground);
    zoom_picture_->clear(display::ScopeCharts::kBackground);
    station_.set_view(this);
    station_.set_housekeeping_view(this);
}

MainWindow::~MainWindow() {
    release_focus(this);
    station_.set_view(nullptr);
    station_.set_housekeeping_view(nullptr);
    std::array<platform::Canvas*, 4> none{};
    displays_.charts().set_canvases(none, nullptr);
}

void MainWindow::build() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(build_buttons());
    auto* middle = new QHBoxLayout;
    middle->addWidget(build_charts(), 1);
    middle->addWidget(build_channel_frame());
    layout->addLayout(middle, 1);

    auto* station_row = new QHBoxLayout;
    location_ = text_box(this, "location", "Name of location of your seismic station");
    coordinates_ = text_box(this, "coordinates", "Insert coordinates E/N of your seismic station");
    elevation_ = text_box(this, "elevation", "Insert elevation in meters of your seismic station");
    station_row->addWidget(new QLabel("Station:", this));
    station_row->addWidget(location_, 3);
    station_row->addWidget(new QLabel("Coordinates:", this));
    station_row->addWidget(coordinates_, 2);
    station_row->addWidget(new QLabel("Elevation (m):", this));
    station_row->addWidget(elevation_, 1);
    layout->addLayout(station_row);

    connect(location_, &QLineEdit::textEdited, this,
            [this](const QString& t) { station_.settings().general.location = s(t); });
    connect(coordinates_, &QLineEdit::textEdited, this,
            [this](const QString& t) { station_.settings().general.coordinates = s(t); });
    connect(elevation_, &QLineEdit::textEdited, this,
            [this](const QString& t) { station_.settings().general.elevation = s(t); });
    resize(kDefaultWidth, kDefaultHeight);
}

QWidget* MainWindow::build_buttons() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout;
    cmd_start_ = button(bar, "cmd_start", "START", "Start the acquisition");
    cmd_stop_ = button(bar, "cmd_stop", "STOP", "Stop the acquisition");
    cmd_save_ = button(bar, "cmd_save", "SAVE", "Save all parameters");
    cmd_exit_ = button(bar, "cmd_exit", "EXIT", "Terminate this application program");
    cmd_stop_->setEnabled(false);
    for (auto* b : {cmd_start_, cmd_stop_, cmd_save_, cmd_exit_}) row->addWidget(b);
    row->addSpacing(12);
    // The settings and tool windows.
    const char* names[5][2] = {{"active", "Setup"},
                               {"set_triggers", "Triggers"},
                               {"timeset", "TIME"},
                               {"events", "Events"},
                               {"ch_review", "Review"}};
    const char* tips[5] = {nullptr, nullptr, nullptr, nullptr,
                           "Review logged tracks and file extract"};
    for (size_t i = 0; i < 5; ++i) {
        settings_windows_[i] = button(bar, names[i][0], names[i][1], tips[i]);
        std::string name = names[i][0];
        connect(settings_windows_[i], &QPushButton::clicked, this, [this, name] {
            commit_text_fields();
            if (actions_.open_window) actions_.open_window(name);
        });
        row->addWidget(settings_windows_[i]);
    }
    open_frame_ = button(bar, "open_frame", "Close Frame");
    row->addWidget(open_frame_);
    auto* logo = button(bar, "load_logo", "Logo");
    row->addWidget(logo);
    row->addStretch(1);

    // The second row: run options and the indicators that follow the run.
    auto* status = new QHBoxLayout;
    autostart_ = check_box(bar, "autostart", "Autostart", nullptr);
    nocharting_ = check_box(bar, "nocharting", "No charts", "Disable the scope charts");
    status->addWidget(autostart_);
    status->addWidget(nocharting_);
    status->addSpacing(12);
    status->addWidget(new QLabel("Bad frames:", bar));
    badrx_ = button(bar, "badrx", "0", "Frames with a wrong length or type. Click to reset");
    badrx_->setFlat(true);
    status->addWidget(badrx_);
    status->addWidget(new QLabel("Clock:", bar));
    lock_ = new QLabel("N", bar);
    lock_->setObjectName("lock");
    lock_->setToolTip("L: the board clock is locked to its time receiver");
    status->addWidget(lock_);
    utc_clock_ = new QLabel(bar);
    utc_clock_->setObjectName("utc_clock");
    fix_size_for(utc_clock_, "00:00:00.000", 150);  // ten times a second
    status->addWidget(utc_clock_);
    status->addWidget(new QLabel("SPS:", bar));
    true_sps_ = new QLabel(bar);
    true_sps_->setObjectName("true_sps");
    true_sps_->setToolTip("Samples received in the last second on the selected channel");
    fix_size_for(true_sps_, "00000.0", 40);
    status->addWidget(true_sps_);
    donothing_ = new QLabel(bar);
    donothing_->setObjectName("donothing");
    donothing_->setToolTip("Idle passes of the acquisition loop in the last tenth of a second");
    fix_size_for(donothing_, "00000000", 50);
    donothing_->setVisible(false);
    status->addWidget(donothing_);
    bufferload_ = new QLabel(bar);
    bufferload_->setObjectName("bufferload");
    status->addWidget(bufferload_);
    eventsblink_ = new QLabel(bar);
    eventsblink_->setObjectName("eventsblink");
    eventsblink_->setFixedSize(12, 12);
    status->addWidget(eventsblink_);
    lbl_service_ = new QLabel(bar);
    lbl_service_->setObjectName("lbl_service");
    status->addWidget(lbl_service_, 1);
    page_link_ = new QLabel(bar);
    page_link_->setObjectName("page_link");
    page_link_->setTextFormat(Qt::RichText);
    page_link_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    page_link_->setOpenExternalLinks(true);  // the desktop's browser
    page_link_->setVisible(false);
    status->addWidget(page_link_);
    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    rows->addLayout(row);
    rows->addLayout(status);
    bar->setLayout(rows);

    connect(cmd_start_, &QPushButton::clicked, this, [this] {
        commit_text_fields();
        if (actions_.start) actions_.start();
    });
    connect(cmd_stop_, &QPushButton::clicked, this, [this] {
        if (actions_.stop) actions_.stop();
    });
    connect(cmd_save_, &QPushButton::clicked, this, [this] {
        commit_text_fields();
        auto written =
            config::WriteConfiguration(station_.settings(), station_.fs(), station_.folder());
        if (!written) {
            station_.op().message("Error", "The settings could not be saved: " + written.error,
                                  platform::MessageIcon::critical);
        }
    });
    connect(cmd_exit_, &QPushButton::clicked, this, [this] { close(); });
    connect(open_frame_, &QPushButton::clicked, this, [this] {
        bool open = !frame_->isVisible();
        frame_->setVisible(open);
        open_frame_->setText(open ? "Close Frame" : "Open Frame");
    });
    connect(logo, &QPushButton::clicked, this, [this] {
        if (actions_.show_logo) actions_.show_logo();
    });
    connect(autostart_, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_controls_) station_.settings().general.autostart = on ? 1 : 0;
    });
    connect(nocharting_, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_controls_) station_.settings().general.no_charting = on ? 1 : 0;
    });
    connect(badrx_, &QPushButton::clicked, this, [this] {
        station_.run().bad_frames = 0;
        badrx_->setText("0");
    });
    return bar;
}

QWidget* MainWindow::build_charts() {
    auto* area = new QWidget(this);
    auto* outer = new QVBoxLayout(area);
    outer->setContentsMargins(0, 0, 0, 0);
    chart_rows_ = new QWidget(area);
    auto* grid = new QGridLayout(chart_rows_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(3);
    for (int i = 0; i < 4; ++i) {
        auto* labels = new QVBoxLayout;
        countmax_[static_cast<size_t>(i)] = new QLabel("+32767", chart_rows_);
        countmax_[static_cast<size_t>(i)]->setObjectName(q(indexed("countmax", i)));
        countmin_[static_cast<size_t>(i)] = new QLabel("-32768", chart_rows_);
        countmin_[static_cast<size_t>(i)]->setObjectName(q(indexed("countmin", i)));
        labels->addWidget(countmax_[static_cast<size_t>(i)], 0, Qt::AlignTop | Qt::AlignRight);
        labels->addStretch(1);
        labels->addWidget(countmin_[static_cast<size_t>(i)], 0, Qt::AlignBottom | Qt::AlignRight);
        grid->addLayout(labels, i, 0);

        auto* chart = new PictureWidget(*chart_pictures_[static_cast<size_t>(i)], chart_rows_);
        chart->setObjectName(q(indexed("chp", i)));
        chart->setToolTip(kChartTips[i]);
        chart->setMinimumSize(500, 80);
        charts_[static_cast<size_t>(i)] = chart;
        grid->addWidget(chart, i, 1);
        chart->on_click = [this, i](QMouseEvent*) {
            int number = displays_.charts().click_chart(i);
            select_channel(number - 1);
            show_zoom();
        };
        chart->on_double_click = [this, i](QMouseEvent*) {
            int number = displays_.charts().double_click_chart(i);
            select_channel(number - 1);
            show_zoom();
        };

        auto* side = new QVBoxLayout;
        auto* value = new QLabel("0", chart_rows_);
        value->setObjectName(q(indexed("ch_val", i)));
        value->setMinimumWidth(70);
        value->setFixedHeight(24);
        value->setAlignment(Qt::AlignCenter);
        value->setStyleSheet("background: #c0c0c0");
        values_[static_cast<size_t>(i)] = value;
        auto* trig = new QLabel("TRIG", chart_rows_);
        trig->setObjectName(q(indexed("on_trig", i)));
        trig->setStyleSheet("color: red; font-weight: bold");
        trig->setVisible(false);
        on_trig_[static_cast<size_t>(i)] = trig;
        auto* rec = button(chart_rows_, indexed("man_record", i), "REC",
                           "Start or stop an event of this channel by hand");
        man_record_[static_cast<size_t>(i)] = rec;
        auto* xerr = button(chart_rows_, indexed("xerror", i), "0",
                            "Seconds with a wrong number of samples. Click to reset");
        xerr->setFlat(true);
        xerror_[static_cast<size_t>(i)] = xerr;
        side->addWidget(value);
        auto* row = new QHBoxLayout;
        row->addWidget(rec);
        row->addWidget(trig);
        side->addLayout(row);
        side->addWidget(xerr);
        grid->addLayout(side, i, 2);
        connect(rec, &QPushButton::clicked, this, [this, i] {
            if (!running_) return;
            auto& settings = station_.settings().channels[static_cast<size_t>(i)];
            station_.detector().RequestManual(i, settings);
            show_record_button(i, station_.detector().channel(i).stop_caption);
        });
        connect(xerr, &QPushButton::clicked, this, [this] {
            station_.board_clock().reset_xerror();
            for (auto* x : xerror_) x->setText("0");
        });
    }
    grid->setColumnStretch(1, 1);
    outer->addWidget(chart_rows_, 1);

    zoom_row_ = new QWidget(area);
    auto* zoom_layout = new QHBoxLayout(zoom_row_);
    zoom_layout->setContentsMargins(0, 0, 0, 0);
    auto* zoom_labels = new QVBoxLayout;
    zoomcountmax_ = new QLabel("+32767", zoom_row_);
    zoomcountmax_->setObjectName("zoomcountmax");
    zoomcountmin_ = new QLabel("-32768", zoom_row_);
    zoomcountmin_->setObjectName("zoomcountmin");
    zoom_labels->addWidget(zoomcountmax_, 0, Qt::AlignTop);
    zoom_labels->addStretch(1);
    zoom_labels->addWidget(zoomcountmin_, 0, Qt::AlignBottom);
    zoom_layout->addLayout(zoom_labels);
    zoom_ = new PictureWidget(*zoom_picture_, zoom_row_);
    zoom_->setObjectName("chzoom");
    zoom_->setToolTip("Click to return to the four channels");
    zoom_layout->addWidget(zoom_, 1);
    zoom_->on_click = [this](QMouseEvent*) {
        displays_.charts().click_zoom();
        show_zoom();
    };
    outer->addWidget(zoom_row_, 1);
    zoom_row_->setVisible(false);

    auto* chart_controls = new QHBoxLayout;
    chart_controls->addWidget(new QLabel("Chart speed:", area));
    chartspeed1_ = new QScrollBar(Qt::Horizontal, area);
    chartspeed1_->setObjectName("chartspeed1");
    chartspeed1_->setRange(1, 100);
    chartspeed1_->setToolTip("Speed of the scope charts");
    chartspeed1_->setMinimumWidth(160);
    chart_controls->addWidget(chartspeed1_);
    ccc3_ = check_box(area, "ccc3", "Average 1-3", "Zoom chart: the average of channels 1 to 3");
    chart_controls->addWidget(ccc3_);
    chart_controls->addStretch(1);
    outer->addLayout(chart_controls);
    connect(chartspeed1_, &QScrollBar::valueChanged, this, [this](int v) {
        if (!loading_controls_) {
            display::ScopeCharts::set_chart_speed(station_.settings().general,
                                                  static_cast<int16_t>(v));
        }
    });
    connect(ccc3_, &QCheckBox::toggled, this,
            [this](bool on) { displays_.charts().set_average_three_channels(on); });
    return area;
}

QWidget* MainWindow::build_channel_frame() {
    frame_ = new QGroupBox("Channel setup", this);
    frame_->setObjectName("frame");
    auto* grid = new QGridLayout(frame_);
    int row = 0;

    auto* selection = new QHBoxLayout;
    auto* minus = button(frame_, "ch_minus", "<", "Select previous channel");
    auto* plus = button(frame_, "ch_plus", ">", "Select next channel");
    ch_selected_ = new QLabel("1", frame_);
    ch_selected_->setObjectName("ch_selected");
    ch_selected_->setAlignment(Qt::AlignCenter);
    ch_selected_->setMinimumWidth(30);
    ch_selected_->setStyleSheet("font-weight: bold; font-size: 14pt");
    selection->addWidget(new QLabel("Channel", frame_));
    selection->addWidget(minus);
    selection->addWidget(ch_selected_);
    selection->addWidget(plus);
    grid->addLayout(selection, row++, 0, 1, 2);
    connect(minus, &QPushButton::clicked, this, [this] {
        if (selected_ > 0) select_channel(selected_ - 1);
    });
    connect(plus, &QPushButton::clicked, this, [this] {
        if (selected_ < 3) select_channel(selected_ + 1);
    });

    sps_select_ = new QComboBox(frame_);
    sps_select_->setObjectName("sps_select");
    sps_select_->setToolTip("Select Sample Per Second");
    for (auto text : config::kRateTexts) sps_select_->addItem(q(text));
    grid->addWidget(new QLabel("Samples/s:", frame_), row, 0);
    grid->addWidget(sps_select_, row++, 1);
    axis_select_ = new QComboBox(frame_);
    axis_select_->setObjectName("axis_select");
    axis_select_->setToolTip("Select the seismometer axis");
    for (const char* axis : {"?", "N", "E", "Z", "G"}) axis_select_->addItem(axis);
    grid->addWidget(new QLabel("Axis:", frame_), row, 0);
    grid->addWidget(axis_select_, row++, 1);
    dc_offset_ = text_box(frame_, "dc_offset", "Adjust the signal offset");
    grid->addWidget(new QLabel("Offset:", frame_), row, 0);
    grid->addWidget(dc_offset_, row++, 1);
    extension_ = text_box(frame_, "extension", "File extension to use for this channel events");
    extension_->setMaxLength(16);
    grid->addWidget(new QLabel("Extension:", frame_), row, 0);
    grid->addWidget(extension_, row++, 1);

    ch_enabled_ = check_box(frame_, "ch_enabled", "Recording enabled", "Recording enabled");
    alarm_ = check_box(frame_, "alarm", "Alarm value ->", "Alarm value ->");
    alarm_soglia_ = text_box(frame_, "alarm_soglia", "Alarm threshold");
    all_trigger_ = check_box(frame_, "all_trigger", "Extend trigger to other channels",
                             "Extend trigger to other channels");
    invert_data_ =
        check_box(frame_, "invert_data", "Invert signal polarity", "Invert signal polarity");
    drum_ = check_box(frame_, "drum", "Generate a static drum",
                      "Select to enable drum graphics and bitmap image save");
    hide_drum_ = check_box(frame_, "hide_drum", "Hide drum", "Hide drum");
    logging_ = check_box(frame_, "logging", "Write log file for track review",
                         "Select to enable continous datalogging for future review. Flush buffer "
                         "period in Setup window.");
    fft_enabled_ = check_box(frame_, "fft_enabled", "Real Time FFT analysis",
                             "Select to see the FFT of the signal");
    auto_offset_ = check_box(frame_, "auto_offset", "Auto offs.", "Auto offs.");
    grid->addWidget(ch_enabled_, row++, 0, 1, 2);
    grid->addWidget(alarm_, row, 0);
    grid->addWidget(alarm_soglia_, row++, 1);
    for (QCheckBox* box :
         {all_trigger_, invert_data_, drum_, hide_drum_, logging_, fft_enabled_, auto_offset_}) {
        grid->addWidget(box, row++, 0, 1, 2);
    }

    auto* scale = new QHBoxLayout;
    y_scale_ = new QScrollBar(Qt::Horizontal, frame_);
    y_scale_->setObjectName("y_scale");
    y_scale_->setRange(0, 20);
    y_scale_->setToolTip("Y scale of the channel's chart");
    zallch_ =
        check_box(frame_, "zallch", "All chs", "Apply the Y scale to all channel simultaneously");
    scale->addWidget(new QLabel("Y scale:", frame_));
    scale->addWidget(y_scale_, 1);
    scale->addWidget(zallch_);
    grid->addLayout(scale, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    // As wide as its widest control needs (the fonts decide), never narrower than 250.
    frame_->setFixedWidth(std::max(250, frame_->sizeHint().width()));

    auto flag = [this](QCheckBox* box, int16_t config::ChannelSettings::*field) {
        connect(box, &QCheckBox::toggled, this, [this, field](bool on) {
            if (!loading_controls_) channel().*field = on ? 1 : 0;
        });
    };
    flag(ch_enabled_, &config::ChannelSettings::record_enabled);
    flag(alarm_, &config::ChannelSettings::alarm_enabled);
    flag(all_trigger_, &config::ChannelSettings::extend_trigger);
    flag(invert_data_, &config::ChannelSettings::invert);
    flag(drum_, &config::ChannelSettings::drum_enabled);
    flag(hide_drum_, &config::ChannelSettings::drum_hidden);
    flag(logging_, &config::ChannelSettings::datalog_enabled);
    flag(fft_enabled_, &config::ChannelSettings::fft_enabled);
    flag(auto_offset_, &config::ChannelSettings::auto_offset);
    connect(axis_select_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!loading_controls_ && index >= 0) channel().sensor_axis = static_cast<int16_t>(index);
    });
    connect(sps_select_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!loading_controls_) rate_changed(index);
    });
    connect(y_scale_, &QScrollBar::valueChanged, this, [this](int k) {
        if (!loading_controls_) update_y_scale(k);
    });
    connect(zallch_, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_controls_)
            display::ScopeCharts::set_y_scale_all(station_.settings().general, on);
    });
    for (QLineEdit* edit : {alarm_soglia_, dc_offset_, extension_}) {
        connect(edit, &QLineEdit::editingFinished, this, [this] { commit_text_fields(); });
    }
    return frame_;
}

std::string MainWindow::load() {
    // A folder that cannot be written goes to the error list, and the window loads on so
    // that the operator can name another folder in Setup.
    std::string failed = station_.load([this](const std::string& what) {
        station_.errors().ReportError({75, what}, station_.ProgressMarker, "PANEL Load");
    });
    if (!failed.empty()) return failed;
    displays_.charts().set_limits(station_.settings().general.ad_type);
    displays_.charts().load_gains(station_.settings());
    fill_general_controls();
    select_channel(0);
    // The charts take each channel's own scale. They work on a copy: with "All chs" ticked
    // the scale of one channel would be written into the others, and loading the window
    // must leave the settings as they were read.
    config::Settings shown = station_.settings();
    shown.general.y_scale_all = 0;
    for (int k = 0; k < 4; ++k) {
        int at = displays_.charts().UpdateYScale(
            k, static_cast<int>(shown.channels[static_cast<size_t>(k)].y_scale), shown);
        (void)at;
    }
    show_chart_labels();
    return {};
}

void MainWindow::fill_general_controls() {
    loading_controls_ = true;
    const auto& general = station_.settings().general;
    location_->setText(q(general.location));
    coordinates_->setText(q(general.coordinates));
    elevation_->setText(q(general.elevation));
    autostart_->setChecked(general.autostart != 0);
    nocharting_->setChecked(general.no_charting != 0);
    zallch_->setChecked(general.y_scale_all != 0);
    chartspeed1_->setValue(general.chart_speed);
    // The loop's idle count is a service figure.
    donothing_->setVisible(general.service_mode != 0);
    loading_controls_ = false;
}

void MainWindow::select_channel(int ch) {
    if (ch < 0 || ch > 3) return;
    commit_text_fields();
    selected_ = ch;
    ch_selected_->setText(QString::number(ch + 1));
    load_channel_controls();
    show_true_sps();
    if (actions_.channel_selected) actions_.channel_selected(ch);
}

void MainWindow::reselect_first_channel() {
    auto follow = std::exchange(actions_.channel_selected, nullptr);
    select_channel(1);
    actions_.channel_selected = std::move(follow);
    select_channel(0);
}

void MainWindow::enable_window_buttons(const std::function<bool(const std::string&)>& available) {
    for (auto* b : settings_windows_) b->setEnabled(available(b->objectName().toStdString()));
}

void MainWindow::reload_controls() {
    fill_general_controls();
    load_channel_controls();
    show_chart_labels();
}

void MainWindow::add_housekeeping_listener(timekeeping::HousekeepingView* listener) {
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void MainWindow::remove_housekeeping_listener(timekeeping::HousekeepingView* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void MainWindow::load_channel_controls() {
    loading_controls_ = true;
    const auto& c = channel();
    ch_enabled_->setChecked(c.record_enabled != 0);
    alarm_->setChecked(c.alarm_enabled != 0);
    alarm_soglia_->setText(QString::number(c.alarm_threshold));
    all_trigger_->setChecked(c.extend_trigger != 0);
    invert_data_->setChecked(c.invert != 0);
    drum_->setChecked(c.drum_enabled != 0);
    hide_drum_->setChecked(c.drum_hidden != 0);
    logging_->setChecked(c.datalog_enabled != 0);
    fft_enabled_->setChecked(c.fft_enabled != 0);
    auto_offset_->setChecked(c.auto_offset != 0);
    sps_select_->setCurrentIndex(
        c.sps_index >= 0 && c.sps_index < config::kRateEntries ? c.sps_index : 0);
    previous_rate_ = sps_select_->currentIndex();
    axis_select_->setCurrentIndex(c.sensor_axis >= 0 && c.sensor_axis <= 4 ? c.sensor_axis : 0);
    dc_offset_->setText(q(text::shortest_real(c.dc_offset)));
    extension_->setText(q(c.event_extension));
    y_scale_->setValue(static_cast<int>(c.y_scale));
    loading_controls_ = false;
}

void MainWindow::rate_changed(int index) {
    auto choice = config::CheckRateChoice(station_.settings().general.ad_type, index);
    if (!choice.allowed) {
        station_.op().message(choice.title, choice.message, platform::MessageIcon::critical);
        loading_controls_ = true;
        sps_select_->setCurrentIndex(previous_rate_);
        loading_controls_ = false;
        return;
    }
    config::ApplyRateChoice(station_.settings(), selected_, index);
    load_channel_controls();
}

void MainWindow::commit_text_fields() {
    if (!alarm_soglia_) return;
    // Only what the operator typed is stored: a box that was not edited may still be empty
    // (before the first channel is shown) or show another channel's value, and storing it
    // would overwrite the setting with something nobody entered.
    auto& c = channel();
    if (alarm_soglia_->isModified()) {
        std::string alarm = text::ClampNumberText(s(alarm_soglia_->text()), 0, 32767);
        c.alarm_threshold = static_cast<int16_t>(text::leading_number(alarm).value_or(0));
        alarm_soglia_->setText(q(alarm));
    }
    if (dc_offset_->isModified()) {
        std::string offset = text::ClampNumberText(s(dc_offset_->text()), -8300000, 8300000);
        c.dc_offset = text::leading_number(offset).value_or(0);
        dc_offset_->setText(q(offset));
    }
    if (extension_->isModified()) {
        c.event_extension = s(extension_->text().left(3));
        extension_->setText(q(c.event_extension));
    }
}

void MainWindow::update_y_scale(int k) {
    int at = displays_.charts().UpdateYScale(selected_, k, station_.settings());
    if (at != k) {
        loading_controls_ = true;
        y_scale_->setValue(at);
        loading_controls_ = false;
    }
    show_chart_labels();
}

void MainWindow::show_chart_labels() {
    auto& charts = displays_.charts();
    for (int i = 0; i < 4; ++i) {
        countmin_[static_cast<size_t>(i)]->setText(q(charts.countmin(i)));
        countmax_[static_cast<size_t>(i)]->setText(q(charts.countmax(i)));
    }
    zoomcountmin_->setText(q(charts.zoomcountmin()));
    zoomcountmax_->setText(q(charts.zoomcountmax()));
}

void MainWindow::show_zoom() {
    auto& charts = displays_.charts();
    bool zoomed = charts.zoom_shown();
    chart_rows_->setVisible(!zoomed);
    zoom_row_->setVisible(zoomed);
    for (int i = 0; i < 4; ++i) charts_[static_cast<size_t>(i)]->setEnabled(charts.chart_shown(i));
    show_chart_labels();
    refresh_charts();
}

void MainWindow::refresh_charts() {
    if (station_.settings().general.no_charting != 0) return;
    auto& charts = displays_.charts();
    // The strip a pen swept since the last refresh, with the erase band ahead of it; a pen
    // that wrapped repaints the whole chart.
    auto strip = [](PictureWidget* chart, double from, double to) {
        int width = chart->picture().width();
        if (to < from) {
            chart->refresh();
            return;
        }
        auto px = [width](double x) { return static_cast<int>(x / 1000 * width); };
        int end = px(to + 60);
        chart->refresh_columns(px(from), std::min(end, width - 1));
        if (end >= width) chart->refresh_columns(0, px(to + 60 - 1000));
    };
    if (zoom_row_->isVisible()) {
        int z = charts.zoom_channel();
        double pen = z >= 0 ? charts.pen_x(z) : 0;
        strip(zoom_, refreshed_zoom_pen_, pen);
        refreshed_zoom_pen_ = pen;
        return;
    }
    for (size_t i = 0; i < 4; ++i) {
        double pen = charts.pen_x(static_cast<int>(i));
        strip(charts_[i], refreshed_pen_[i], pen);
        refreshed_pen_[i] = pen;
    }
}

void MainWindow::refresh_indicators() {
    badrx_->setText(QString::number(station_.run().bad_frames));
    const auto& xerror = station_.board_clock().state().xerror;
    for (size_t i = 0; i < 4; ++i) xerror_[i]->setText(QString::number(xerror[i]));
}

void MainWindow::apply_settings_lock() {
    bool locked = station_.settings().general.settings_locked != 0;
    frame_->setEnabled(!locked);
    // SAVE stays: a lock just set in the setup window is kept only by the SAVE after it, and
    // with the controls disabled there is nothing else it could write.
    for (auto* edit : {location_, coordinates_, elevation_}) edit->setReadOnly(locked);
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) apply_settings_lock();
    QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    commit_text_fields();
    // START's handshake is under way further down this very call stack (its pauses run the
    // event loop): the program may end only after it has unwound, as after a run.
    if (station_.in_run() || station_.starting()) {
        // The title bar's close while acquiring: EXIT is disabled then and STOP may be too
        // (an event is being recorded), so the operator confirms, and the run ends through
        // STOP's exit sequence, which finishes every open event file, before the program.
        event->ignore();
        if (close_after_run_) return;
        if (!station_.op().ask_yes_no("Warning!",
                                      "Acquisition is running. Stop it and terminate VELKANTOR?\r\n"
                                      "Events being recorded are closed now.",
                                      false)) {
            return;
        }
        end_after_run();
        return;
    }
    // EXIT: the files are closed and the program ends; the settings are not saved.
    if (actions_.exit_program) actions_.exit_program();
    event->accept();
}

void MainWindow::end_after_run() {
    if (!station_.in_run() && !station_.starting()) {
        close();
        return;
    }
    close_after_run_ = true;
    if (actions_.stop) actions_.stop();
}

// --- the engine's view of the window ---

void MainWindow::set_run_controls(bool running, bool logging_editable, bool rates_editable) {
    running_ = running;
    if (!running && close_after_run_) {
        // Closed from outside the loop's pass that ended the run.
        close_after_run_ = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
    cmd_start_->setEnabled(!running);
    cmd_exit_->setEnabled(!running);
    cmd_stop_->setEnabled(running);
    sps_select_->setEnabled(rates_editable);
    logging_->setEnabled(logging_editable);
}

void MainWindow::set_autostart_box(bool ticked) {
    loading_controls_ = true;
    autostart_->setChecked(ticked);
    loading_controls_ = false;
}

void MainWindow::set_title(std::string_view title) {
    title_ = title;
    setWindowTitle(q(title));
}

void MainWindow::set_status_text(std::string_view text) {
    lbl_service_->setText(q(text));
}

void MainWindow::show_page_link(const std::string& url) {
    const QString address = q(url).toHtmlEscaped();
    page_link_->setText("<a href=\"" + address + "\">Station page</a>");
    page_link_->setToolTip("Open " + q(url) + " in the browser");
    page_link_->setVisible(!url.empty());
}

void MainWindow::set_bad_frames(long count) {
    badrx_->setText(QString::number(count));
}

void MainWindow::set_lock_indicator(std::string_view state) {
    lock_->setText(q(state));
}

void MainWindow::set_busy(bool hourglass) {
    if (hourglass) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void MainWindow::show_values(const std::array<int32_t, config::kChannels>& values) {
    for (size_t i = 0; i < values.size(); ++i) values_[i]->setText(QString::number(values[i]));
}

void MainWindow::show_idle_passes(double count) {
    donothing_->setText(QString::number(count, 'f', 0));
}

void MainWindow::show_sample_time(std::string_view text) {
    // The station gives a time at most once per tenth of a second (and at each new second).
    utc_clock_->setText(q(text));
}

void MainWindow::clear_time_display() {
    // STOP: no figure of the ended run stays on show.
    utc_clock_->clear();
    true_sps_->clear();
    donothing_->clear();
    second_counted_ = false;
}

void MainWindow::show_second_sample_counts(const std::array<double, 4>& counts,
                                           const std::array<double, 4>& configured) {
    second_counts_ = counts;
    configured_rates_ = configured;
    second_counted_ = true;
    show_true_sps();
}

void MainWindow::show_true_sps() {
    if (!second_counted_) return;
    auto ch = static_cast<size_t>(selected_);
    auto ad_type = station_.settings().general.ad_type;
    double shown = 0;
    if (ad_type == config::kInfiltec || ad_type == config::kLx1500) {
        // One channel, paced by the PC clock: the readings of the last PC second.
        shown = second_counts_[0];
    } else if (configured_rates_[ch] >= 2) {
        shown = second_counts_[ch];
    } else {
        // Below 2 samples per second a second's count says nothing: the rate set.
        shown = configured_rates_[ch];
    }
    true_sps_->setText(q(text::shortest_real(shown)));
}

void MainWindow::show_trigger_indicator(int ch, bool visible) {
    if (ch >= 0 && ch < 4) on_trig_[static_cast<size_t>(ch)]->setVisible(visible);
}

void MainWindow::show_record_button(int ch, bool recording) {
    if (ch < 0 || ch >= 4) return;
    man_record_[static_cast<size_t>(ch)]->setText(recording ? "STOP" : "REC");
    // A manual stop switches the channel's recording off: the box says so.
    if (ch == selected_ && ch_enabled_->isChecked() != (channel().record_enabled != 0)) {
        loading_controls_ = true;
        ch_enabled_->setChecked(channel().record_enabled != 0);
        loading_controls_ = false;
    }
    values_[static_cast<size_t>(ch)]->setStyleSheet(recording ? "background: #ff0000"
                                                              : "background: #c0c0c0");
}

void MainWindow::enable_stop_button(bool enabled) {
    cmd_stop_->setEnabled(enabled);
}

void MainWindow::show_buffer_load(size_t count, size_t size) {
    bufferload_->setText(QString("Buffer %1/%2").arg(count).arg(size));
}

void MainWindow::show_events_blink(bool first_colour) {
    eventsblink_->setStyleSheet(first_colour ? "background: red" : "background: transparent");
}

void MainWindow::show_free_disk_space(std::string_view fds) {
    setWindowTitle(q(timekeeping::title_with_free_space(title_, fds)));
}

void MainWindow::show_sample_count_errors(int ch, long count) {
    if (ch >= 0 && ch < 4) xerror_[static_cast<size_t>(ch)]->setText(QString::number(count));
}

void MainWindow::show_input_lines(bool line1, bool line2) {
    for (auto* l : listeners_) l->show_input_lines(line1, line2);
}

void MainWindow::show_watchdog_bit(bool first_colour) {
    for (auto* l : listeners_) l->show_watchdog_bit(first_colour);
}

void MainWindow::show_alarm_bit(bool set) {
    for (auto* l : listeners_) l->show_alarm_bit(set);
}

void MainWindow::show_pc_time(std::string_view text) {
    for (auto* l : listeners_) l->show_pc_time(text);
}

void MainWindow::show_time_window(const timekeeping::TimeWindowTexts& texts) {
    for (auto* l : listeners_) l->show_time_window(texts);
}

}  // namespace velkantor::gui
