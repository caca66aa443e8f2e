#include "gui/trigger_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <cmath>
#include <string>

#include "acquisition/station.h"
#include "gui/text_conversion.h"
#include "runtime/run_state.h"
#include "text/number_text.h"

namespace velkantor::gui {

static_assert(config::kPreEventCapacity == runtime::kPreEventRingLength,
              "the pre-event limit is the size of the ring");

namespace {

constexpr const char* kFrozenColour = "background: #ff0000";
constexpr const char* kGreyColour = "background: #c0c0c0";
constexpr int kBoxWidth = 90;
constexpr int kReadoutWidth = 130;

QString indexed(const char* name, int i) {
    return QString("%1(%2)").arg(name).arg(i);
}

QLabel* readout(QWidget* parent, const QString& name, int width = kReadoutWidth) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(width);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// Checks the option of `id`, or none when no option has it (a value the file brought that
// no option stands for).
void check_id(QButtonGroup* group, int id) {
    const QSignalBlocker block(group);
    if (QAbstractButton* option = group->button(id)) {
        option->setChecked(true);
        return;
    }
    if (!group->checkedButton()) return;
    group->setExclusive(false);
    for (QAbstractButton* option : group->buttons()) option->setChecked(false);
    group->setExclusive(true);
}

QPushButton* push_button(QWidget* parent, const char* name, const char* caption,
                         const char* tip = nullptr) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    if (tip) b->setToolTip(QString::fromUtf8(tip));
    return b;
}

}  // namespace

// A label that answers a click (`max_noise` resets the noise peak, `lbl_data_output`
// recomputes the calibration).
class TriggerWindow::ClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> on_click;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            on_click) {
            on_click();
        }
        QLabel::mouseReleaseEvent(event);
    }
};

TriggerWindow::TriggerWindow(acquisition::Station& station, Links links, QWidget* parent)
    : QWidget(parent), station_(station), links_(std::move(links)) {
    setObjectName("trigpanel");
    setWindowTitle("Trigger and Channels calibration");
    setAttribute(Qt::WA_QuitOnClose, false);
    build();
    load_controls();
}

TriggerWindow::~TriggerWindow() = default;

config::ChannelSettings& TriggerWindow::settings() {
    return station_.settings().channels[static_cast<size_t>(ch_)];
}

QLineEdit* TriggerWindow::number_box(QWidget* parent, const QString& name,
                                     config::NumberRange range) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setFixedWidth(kBoxWidth);
    // Leaving the box and ENTER both end the editing: the text becomes its number, clamped.
    connect(edit, &QLineEdit::editingFinished, this, [edit, range] {
        edit->setText(q(text::ClampNumberText(s(edit->text()), range.lo, range.hi)));
    });
    return edit;
}

void TriggerWindow::build() {
    auto* root = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Channel", this));
    cmd_ch_minus_ = push_button(this, "cmd_ch_minus", "<", "Previous channel");
    ch_selected_ = new QLabel(this);
    ch_selected_->setObjectName("ch_selected");
    ch_selected_->setAlignment(Qt::AlignCenter);
    ch_selected_->setMinimumWidth(30);
    ch_selected_->setStyleSheet("font-weight: bold; font-size: 14pt");
    cmd_ch_plus_ = push_button(this, "cmd_ch_plus", ">", "Next channel");
    for (auto* b : {cmd_ch_minus_, cmd_ch_plus_}) b->setFixedWidth(32);
    top->addWidget(cmd_ch_minus_);
    top->addWidget(ch_selected_);
    top->addWidget(cmd_ch_plus_);
    top->addSpacing(20);

    auto* method = new QGroupBox("Trigger method", this);
    method_box_ = method;
    auto* method_row = new QHBoxLayout(method);
    trigmode_ = new QButtonGroup(this);
    const char* methods[3] = {"Amplitude", "STA / LTA", "Scheduled"};
    for (int i = 0; i < 3; ++i) {
        auto* option = new QRadioButton(methods[i], method);
        option->setObjectName(indexed("trigmode", i));
        trigmode_->addButton(option, i);
        method_row->addWidget(option);
    }
    top->addWidget(method);
    top->addStretch(1);
    root->addLayout(top);

    auto* columns = new QHBoxLayout;
    columns->addWidget(build_trigger_side(), 1);
    columns->addWidget(build_calibration_side(), 1);
    root->addLayout(columns, 1);

    auto* buttons = new QHBoxLayout;
    cmd_default_ =
        push_button(this, "cmd_default", "Default settings",
                    "Fill the boxes with typical values for teleseismic or local events");
    cmd_scheduler_ = push_button(this, "cmd_scheduler", "Scheduler", "Scheduled recordings");
    trig_apply_ = push_button(this, "trig_apply", "Apply");
    trig_ok_ = push_button(this, "trig_ok", "OK");
    trig_cancel_ = push_button(this, "trig_cancel", "cancel");
    buttons->addWidget(cmd_default_);
    buttons->addWidget(cmd_scheduler_);
    buttons->addStretch(1);
    buttons->addWidget(trig_apply_);
    buttons->addWidget(trig_ok_);
    buttons->addWidget(trig_cancel_);
    root->addLayout(buttons);

    connect(cmd_ch_plus_, &QPushButton::clicked, this, [this] {
        if (ch_ >= config::kChannels - 1) return;
        select_channel(ch_ + 1);
        if (links_.step_channel) links_.step_channel(ch_);
    });
    connect(cmd_ch_minus_, &QPushButton::clicked, this, [this] {
        if (ch_ <= 0) return;
        select_channel(ch_ - 1);
        if (links_.step_channel) links_.step_channel(ch_);
    });
    connect(cmd_default_, &QPushButton::clicked, this, [this] { fill_defaults(); });
    connect(cmd_scheduler_, &QPushButton::clicked, this, [this] {
        if (links_.open_scheduler) links_.open_scheduler();
    });
    connect(trig_apply_, &QPushButton::clicked, this, [this] { apply(); });
    connect(trig_ok_, &QPushButton::clicked, this, [this] {
        apply();
        close();
    });
    connect(trig_cancel_, &QPushButton::clicked, this, [this] { close(); });
}

QWidget* TriggerWindow::build_trigger_side() {
    auto* side = new QWidget(this);
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);

    // Box captions and, for the lengths, their units.
    struct Caption {
        const char* text;
        const char* unit;
    };
    const Caption starts[6] = {{"START amplitude", "counts"},   {"Samples to trig.", ""},
                               {"Pre Event Buffer", "minutes"}, {"STA (seconds)", ""},
                               {"LTA (seconds)", ""},           {"START > ratio", ""}};
    const Caption stops[4] = {{"STOP amplitude", "counts"},
                              {"Post event time", "minutes"},
                              {"STOP < ratio", ""},
                              {"Max event length in minutes", ""}};

    auto* thresholds = new QHBoxLayout;
    auto* start_box = new QGroupBox("START", side);
    auto* start_grid = new QGridLayout(start_box);
    for (int i = 0; i < 6; ++i) {
        auto k = static_cast<size_t>(i);
        start_threshold_[k] =
            number_box(start_box, indexed("start_threshold", i), config::kThresholdRange);
        start_grid->addWidget(new QLabel(starts[i].text, start_box), i, 0);
        start_grid->addWidget(start_threshold_[k], i, 1);
        start_grid->addWidget(new QLabel(starts[i].unit, start_box), i, 2);
    }
    start_grid->setRowStretch(6, 1);
    auto* stop_box = new QGroupBox("STOP", side);
    auto* stop_grid = new QGridLayout(stop_box);
    for (int i = 0; i < 4; ++i) {
        auto k = static_cast<size_t>(i);
        stop_threshold_[k] =
            number_box(stop_box, indexed("stop_threshold", i), config::kThresholdRange);
        stop_grid->addWidget(new QLabel(stops[i].text, stop_box), i, 0);
        stop_grid->addWidget(stop_threshold_[k], i, 1);
        stop_grid->addWidget(new QLabel(stops[i].unit, stop_box), i, 2);
    }
    stop_grid->setRowStretch(4, 1);
    thresholds->addWidget(start_box);
    thresholds->addWidget(stop_box);
    layout->addLayout(thresholds);

    // Coincidence: the channels that must have triggered too, and how long a trigger counts.
    auto* coincidence = new QGroupBox("AND channells", side);
    and_box_ = coincidence;
    auto* and_row = new QHBoxLayout(coincidence);
    for (int i = 0; i < 3; ++i) {
        auto* box = new QCheckBox(coincidence);
        box->setObjectName(indexed("and_channel", i));
        box->setToolTip("Start only while this channel is triggered too");
        and_channel_[static_cast<size_t>(i)] = box;
        and_row->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this, i](bool ticked) {
            if (loading_controls_) return;
            auto& channel = settings();
            channel.and_channels = config::WithAndChannel(
                channel.and_channels, and_numbers_[static_cast<size_t>(i)], ticked);
        });
    }
    and_row->addSpacing(16);
    and_row->addWidget(new QLabel("Trigger window", coincidence));
    win_trig_ = number_box(coincidence, "win_trig", config::kTriggerWindowRange);
    win_trig_->setFixedWidth(60);
    win_trig_->setToolTip("Seconds a trigger keeps the channel counted as triggered");
    and_row->addWidget(win_trig_);
    label35_ = new QLabel("Seconds", coincidence);
    label35_->setObjectName("Label35");
    label35_->setMinimumWidth(fontMetrics().horizontalAdvance("Seconds") + 4);
    and_row->addWidget(label35_);
    and_row->addStretch(1);
    freeze_lta_ = new QCheckBox("Freeze LTA", coincidence);
    freeze_lta_->setObjectName("freeze_lta");
    freeze_lta_->setToolTip("While an event records, the ratio divides by the LTA of its start");
    and_row->addWidget(freeze_lta_);
    layout->addWidget(coincidence);
    connect(win_trig_, &QLineEdit::textChanged, this, [this](const QString& text) {
        label35_->setText(q(config::TriggerWindowUnit(s(text))));
    });

    // The detector's live values of the channel.
    auto* monitor = new QGroupBox("Live values", side);
    auto* grid = new QGridLayout(monitor);
    const char* names[4] = {"STA", "LTA", "Ratio", "Frozen LTA"};
    for (int i = 0; i < 4; ++i) {
        auto k = static_cast<size_t>(i);
        monstart_[k] = readout(monitor, indexed("monstart", i));
        grid->addWidget(new QLabel(names[i], monitor), i, 0);
        grid->addWidget(monstart_[k], i, 1);
    }
    monstart_[3]->setAutoFillBackground(true);
    monstart_[3]->setStyleSheet(kGreyColour);
    dc_average_ = readout(monitor, "dc_average");
    max_noise_ = new ClickLabel(monitor);
    max_noise_->setObjectName("max_noise");
    max_noise_->setFrameShape(QFrame::Panel);
    max_noise_->setFrameShadow(QFrame::Raised);
    max_noise_->setMinimumWidth(kReadoutWidth);
    max_noise_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    max_noise_->setCursor(Qt::PointingHandCursor);
    max_noise_->setToolTip("Largest half-wave peak since the last event. Click to reset");
    pplevel_ = readout(monitor, "pplevel");
    grid->addWidget(new QLabel("DC average", monitor), 0, 2);
    grid->addWidget(dc_average_, 0, 3);
    grid->addWidget(new QLabel("Noise", monitor), 1, 2);
    grid->addWidget(max_noise_, 1, 3);
    grid->addWidget(new QLabel("Peak to peak", monitor), 2, 2);
    grid->addWidget(pplevel_, 2, 3);
    // After START or a board restart the STA/LTA method starts nothing until the LTA has had
    // one LTA length of signal: the seconds still to go.
    lta_warmup_ = readout(monitor, "lta_warmup");
    lta_warmup_->setToolTip("Seconds until the STA/LTA method may start an event");
    grid->addWidget(new QLabel("LTA warm-up", monitor), 3, 2);
    grid->addWidget(lta_warmup_, 3, 3);
    grid->setColumnMinimumWidth(2, 90);
    grid->setColumnStretch(4, 1);
    layout->addWidget(monitor);
    layout->addStretch(1);
    max_noise_->on_click = [this] {
        auto& detector = station_.detector().channel(ch_);
        detector.max_half_wave_peak = 0;
        detector.last_half_wave_peak = 0;
        refresh();
    };
    return side;
}

QWidget* TriggerWindow::build_calibration_side() {
    auto* side = new QWidget(this);
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* sensor = new QGroupBox("Sensor calibration", side);
    auto* grid = new QGridLayout(sensor);
    int row = 0;
    sensor_type_ = new QComboBox(sensor);
    sensor_type_->setObjectName("sensor_type");
    for (auto text : config::kSensorTypeTexts) sensor_type_->addItem(q(text));
    measure_unit_ = new QComboBox(sensor);
    measure_unit_->setObjectName("measure_unit");
    for (auto text : config::kMeasureUnitTexts) measure_unit_->addItem(q(text));
    grid->addWidget(new QLabel("Sensor type", sensor), row, 0);
    grid->addWidget(sensor_type_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("Measure unit", sensor), row, 0);
    grid->addWidget(measure_unit_, row++, 1, 1, 2);

    auto unit_label = [sensor](const char* name, const char* text = "") {
        auto* label = new QLabel(text, sensor);
        if (name) label->setObjectName(name);
        label->setMinimumWidth(70);
        return label;
    };
    auto add_box = [&](const char* caption, QLineEdit*& box, const char* name,
                       config::NumberRange range, QLabel* unit) {
        box = number_box(sensor, name, range);
        grid->addWidget(new QLabel(caption, sensor), row, 0);
        grid->addWidget(box, row, 1);
        if (unit) grid->addWidget(unit, row, 2);
        ++row;
    };
    lbl_sensor_ = unit_label("lbl_sensor");
    add_box("Sensor sensitivity", txt_sensor_sensitivity_, "txt_sensor_sensitivity",
            config::kCalibrationRange, lbl_sensor_);
    add_box("Amplifier gain", txt_amplifier_gain_, "txt_amplifier_gain", config::kCalibrationRange,
            nullptr);
    add_box("A/D bits", txt_ad_bits_, "txt_ad_bits", config::kAdBitsRange, nullptr);
    add_box("A/D range", txt_ad_range_, "txt_ad_range", config::kCalibrationRange,
            unit_label(nullptr, "V p-p"));

    auto add_readout = [&](const char* caption, QLabel* label, QLabel* unit) {
        grid->addWidget(new QLabel(caption, sensor), row, 0);
        grid->addWidget(label, row, 1);
        if (unit) grid->addWidget(unit, row, 2);
        ++row;
    };
    lbl_ad_sens_ = readout(sensor, "lbl_ad_sens");
    lbl_data_output_ = new ClickLabel(sensor);
    lbl_data_output_->setObjectName("lbl_data_output");
    lbl_data_output_->setFrameShape(QFrame::Panel);
    lbl_data_output_->setFrameShadow(QFrame::Sunken);
    lbl_data_output_->setMinimumWidth(kReadoutWidth);
    lbl_data_output_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lbl_data_output_->setToolTip("Click to recompute the calibration");
    lbl_full_range_ = readout(sensor, "lbl_full_range");
    lbl_resolution_ = readout(sensor, "lbl_resolution");
    lbl_data_type_ = unit_label("lbl_data_type");
    lbl_full_range_type_ = unit_label("lbl_full_range_type");
    lbl_resolution_type_ = unit_label("lbl_resolution_type");
    add_readout("A/D sensitivity", lbl_ad_sens_, unit_label(nullptr, "counts/V"));
    add_readout("Data output", lbl_data_output_, lbl_data_type_);
    add_readout("Full range", lbl_full_range_, lbl_full_range_type_);
    add_readout("Resolution", lbl_resolution_, lbl_resolution_type_);
    grid->setColumnStretch(3, 1);
    layout->addWidget(sensor);

    auto* extender = new QGroupBox("Period extender", side);
    extender_box_ = extender;
    auto* extender_row = new QHBoxLayout(extender);
    extender_ = new QButtonGroup(this);
    const char* extenders[4] = {"none", "0.2Hz", "4.5Hz", "1Hz"};
    for (int i = 0; i < 4; ++i) {
        auto* option = new QRadioButton(extenders[i], extender);
        option->setObjectName(indexed("extender", i));
        extender_->addButton(option, i);
        extender_row->addWidget(option);
    }
    extender_row->addStretch(1);
    layout->addWidget(extender);

    auto* magnitude = new QGroupBox("Magnitude correction", side);
    auto* magnitude_row = new QHBoxLayout(magnitude);
    for (int i = 0; i < 5; ++i) {
        auto* box =
            number_box(magnitude, indexed("mag_corr", i), config::kMagnitudeCorrectionRange);
        box->setFixedWidth(70);
        mag_corr_[static_cast<size_t>(i)] = box;
        magnitude_row->addWidget(box);
    }
    magnitude_row->addStretch(1);
    layout->addWidget(magnitude);

    auto* other = new QGridLayout;
    drum_scale_ = number_box(side, "drum_scale", config::kCalibrationRange);
    filter_delay_ = number_box(side, "filter_delay", config::kFilterDelayRange);
    formato_ = new QComboBox(side);
    formato_->setObjectName("formato");
    for (auto text : config::kEventFormatTexts) formato_->addItem(q(text));
    other->addWidget(new QLabel("Drum scale", side), 0, 0);
    other->addWidget(drum_scale_, 0, 1);
    other->addWidget(new QLabel("Filter delay", side), 1, 0);
    other->addWidget(filter_delay_, 1, 1);
    other->addWidget(new QLabel("Event file format", side), 2, 0);
    other->addWidget(formato_, 2, 1);
    other->setColumnStretch(2, 1);
    layout->addLayout(other);
    layout->addStretch(1);

    connect(sensor_type_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (loading_controls_ || index < 0) return;
        settings().sensor_type = static_cast<int16_t>(index);
        show_units();
    });
    connect(measure_unit_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (loading_controls_ || index < 0) return;
        settings().measure_unit = static_cast<int16_t>(index);
        show_units();
    });
    connect(formato_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!loading_controls_ && index >= 0) format_chosen(index);
    });
    lbl_data_output_->on_click = [this] { show_calibration(); };
    return side;
}

config::TriggerForm TriggerWindow::read_form() const {
    config::TriggerForm form;
    form.trigger_mode = trigmode_->checkedId();
    for (size_t i = 0; i < form.start.size(); ++i) form.start[i] = s(start_threshold_[i]->text());
    for (size_t i = 0; i < form.stop.size(); ++i) form.stop[i] = s(stop_threshold_[i]->text());
    form.trigger_window = s(win_trig_->text());
    form.freeze_lta = freeze_lta_->isChecked();
    form.period_extender = extender_->checkedId();
    for (size_t i = 0; i < form.mag_corr.size(); ++i) form.mag_corr[i] = s(mag_corr_[i]->text());
    form.drum_scale = s(drum_scale_->text());
    form.filter_delay = s(filter_delay_->text());
    form.sensor_type = sensor_type_->currentIndex();
    form.sensor_sensitivity = s(txt_sensor_sensitivity_->text());
    form.amplifier_gain = s(txt_amplifier_gain_->text());
    form.ad_bits = s(txt_ad_bits_->text());
    form.ad_range = s(txt_ad_range_->text());
    return form;
}

void TriggerWindow::show_form(const config::TriggerForm& form) {
    const bool was_loading = loading_controls_;
    loading_controls_ = true;
    check_id(trigmode_, form.trigger_mode);
    for (size_t i = 0; i < form.start.size(); ++i) start_threshold_[i]->setText(q(form.start[i]));
    for (size_t i = 0; i < form.stop.size(); ++i) stop_threshold_[i]->setText(q(form.stop[i]));
    win_trig_->setText(q(form.trigger_window));
    freeze_lta_->setChecked(form.freeze_lta);
    check_id(extender_, form.period_extender);
    for (size_t i = 0; i < form.mag_corr.size(); ++i) mag_corr_[i]->setText(q(form.mag_corr[i]));
    drum_scale_->setText(q(form.drum_scale));
    filter_delay_->setText(q(form.filter_delay));
    sensor_type_->setCurrentIndex(form.sensor_type);
    txt_sensor_sensitivity_->setText(q(form.sensor_sensitivity));
    txt_amplifier_gain_->setText(q(form.amplifier_gain));
    txt_ad_bits_->setText(q(form.ad_bits));
    txt_ad_range_->setText(q(form.ad_range));
    loading_controls_ = was_loading;
}

void TriggerWindow::select_channel(int ch) {
    // The same channel again (the main window reloading its own controls) keeps the edits
    // not yet applied.
    if (ch < 0 || ch >= config::kChannels || ch == ch_) return;
    ch_ = ch;
    load_controls();
}

void TriggerWindow::load_controls() {
    loading_controls_ = true;
    const auto& channel = settings();
    ch_selected_->setText(QString::number(ch_ + 1));
    show_form(config::LoadTriggerForm(channel));
    and_numbers_ = config::AndChannelNumbers(ch_);
    for (size_t i = 0; i < and_channel_.size(); ++i) {
        and_channel_[i]->setText(QString::number(and_numbers_[i]));
        and_channel_[i]->setChecked((channel.and_channels & (1 << (and_numbers_[i] - 1))) != 0);
    }
    const int unit = channel.measure_unit;
    measure_unit_->setCurrentIndex(unit >= 0 && unit < measure_unit_->count() ? unit : -1);
    const int format = station_.settings().general.event_format;
    formato_->setCurrentIndex(format >= 0 && format < formato_->count() ? format : -1);
    show_calibration();
    show_units();
    loading_controls_ = false;
    refresh();
}

void TriggerWindow::show_calibration() {
    const auto texts = config::ComputeCalibration(settings());
    lbl_ad_sens_->setText(q(texts.ad_sens));
    lbl_data_output_->setText(q(texts.data_output));
    lbl_full_range_->setText(q(texts.full_range));
    lbl_resolution_->setText(q(texts.resolution));
    settings().resolution = text::leading_number(s(lbl_resolution_->text())).value_or(0);
}

void TriggerWindow::show_units() {
    const auto& channel = settings();
    const auto units = config::ComputeUnitTexts(channel.sensor_type, channel.measure_unit);
    lbl_sensor_->setText(q(units.sensor));
    lbl_data_type_->setText(q(units.data_type));
    lbl_resolution_type_->setText(q(units.range_type));
    lbl_full_range_type_->setText(q(units.range_type));
}

void TriggerWindow::apply() {
    auto& channel = settings();
    auto form = read_form();
    if (station_.in_run()) {
        // The pre-event ring and the open events were sized for these lengths at START.
        form.start[2] = config::BoxNumber(channel.pre_event_minutes);
        form.stop[1] = config::BoxNumber(channel.post_event_minutes);
    }
    const auto result = config::ApplyTriggerForm(channel, form);
    if (result.pre_event_limited) {
        start_threshold_[2]->setText(q(form.start[2]));
        station_.op().message(config::kPreEventLimitTitle, config::kPreEventLimitMessage,
                              platform::MessageIcon::critical);
    }
    load_controls();
    if (links_.settings_changed) links_.settings_changed();
}

void TriggerWindow::fill_defaults() {
    const bool teleseismic =
        station_.op().ask_yes_no("VELKANTOR", config::kDefaultsQuestion, false);
    auto form = read_form();
    // While acquiring, the pre-event and post-event lengths stay as START found them.
    const std::string pre = form.start[2];
    const std::string post = form.stop[1];
    config::FillTriggerDefaults(form, teleseismic);
    if (!start_threshold_[2]->isEnabled()) form.start[2] = pre;
    if (!stop_threshold_[1]->isEnabled()) form.stop[1] = post;
    show_form(form);
}

void TriggerWindow::format_chosen(int index) {
    auto& general = station_.settings().general;
    if (index == 1 || index == 2) {
        station_.op().message("VELKANTOR", config::kUnsupportedFormatMessage,
                              platform::MessageIcon::critical);
        general.event_format = 0;
        loading_controls_ = true;
        formato_->setCurrentIndex(0);
        loading_controls_ = false;
        return;
    }
    general.event_format = static_cast<int16_t>(index);
}

void TriggerWindow::refresh() {
    const auto& detector = station_.detector().channel(ch_);
    monstart_[0]->setText(q(config::PictureText(detector.sta_value, "#0000.#0")));
    monstart_[1]->setText(q(config::PictureText(detector.lta_value, "#0000.#0")));
    monstart_[2]->setText(q(config::PictureText(detector.sl_ratio, "#00.#0")));
    monstart_[3]->setText(q(config::PictureText(detector.frozen_lta, "#0000.#0")));
    monstart_[3]->setStyleSheet(detector.lta_frozen_display ? kFrozenColour : kGreyColour);
    dc_average_->setText(q(config::PictureText(detector.dc_average, "#00000.#00")));
    max_noise_->setText(q(config::PictureText(detector.max_half_wave_peak, "#00000.#00")));
    pplevel_->setText(q(config::PictureText(detector.peak_to_peak, "#00000.#00")));
    double rate = station_.run().configured_rate[static_cast<size_t>(ch_)];
    if (!station_.in_run()) {
        lta_warmup_->clear();
    } else if (detector.lta_warmup > 0 && rate > 0) {
        lta_warmup_->setText(QString("%1 s").arg(std::ceil(detector.lta_warmup / rate)));
    } else {
        lta_warmup_->setText("over");
    }
    // START or STOP may have come while the window was open.
    const bool editable = station_.settings().general.settings_locked == 0;
    const bool lengths_editable = editable && !station_.in_run();
    start_threshold_[2]->setEnabled(lengths_editable);
    stop_threshold_[1]->setEnabled(lengths_editable);
}

void TriggerWindow::apply_enables() {
    const bool editable = station_.settings().general.settings_locked == 0;
    for (QWidget* w : std::initializer_list<QWidget*>{
             method_box_, and_box_, extender_box_, drum_scale_, filter_delay_, sensor_type_,
             measure_unit_, txt_sensor_sensitivity_, txt_amplifier_gain_, txt_ad_bits_,
             txt_ad_range_, formato_, cmd_default_, cmd_scheduler_, trig_apply_, trig_ok_}) {
        w->setEnabled(editable);
    }
    for (auto* box : start_threshold_) box->setEnabled(editable);
    for (auto* box : stop_threshold_) box->setEnabled(editable);
    for (auto* box : mag_corr_) box->setEnabled(editable);
    refresh();
}

void TriggerWindow::showEvent(QShowEvent* event) {
    // A window restored from the task bar is not opened again.
    if (!event->spontaneous()) {
        open_ = true;
        // Opening shows the settings as they are, on the main window's channel.
        int ch = links_.main_channel ? links_.main_channel() : ch_;
        if (ch >= 0 && ch < config::kChannels) ch_ = ch;
        load_controls();
        apply_enables();
    }
    QWidget::showEvent(event);
}

void TriggerWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) open_ = false;
    QWidget::hideEvent(event);
}

void TriggerWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) apply_enables();
    QWidget::changeEvent(event);
}

}  // namespace velkantor::gui
