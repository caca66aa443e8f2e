#include "gui/hardware_setup_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QVBoxLayout>
#include <initializer_list>
#include <string>

#include "acquisition/board_calibration.h"
#include "config/hardware_rules.h"
#include "config/rates.h"
#include "gui/text_conversion.h"
#include "gui/widgets.h"
#include "platform/file_system.h"
#include "text/number_text.h"

namespace velkantor::gui {

namespace {

constexpr const char* kTitle = "Setup - Hardware and Miscellaneous";
constexpr const char* kTrimBoxesText =
    "Each trimming box must hold two hexadecimal digits (00 to FF).";
constexpr const char* kRunningText =
    "Stop the acquisition before reading or writing the clock calibration.";
constexpr const char* kClockErrorText =
    "The clock error must be a number of seconds per day (negative when the clock is slow).";

// The two fixed colours of the indicators.
constexpr const char* kFirstColour = "background: #e02020; border: 1px solid #606060";
constexpr const char* kSecondColour = "background: #1f6f1f; border: 1px solid #606060";

QComboBox* choice_list(QWidget* parent, const char* name, std::initializer_list<const char*> texts,
                       const char* tip = nullptr) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    for (const char* t : texts) box->addItem(QString::fromUtf8(t));
    if (tip) box->setToolTip(QString::fromUtf8(tip));
    return box;
}

QLabel* indicator(QWidget* parent, const char* name, const char* tip) {
    auto* lamp = new QLabel(parent);
    lamp->setObjectName(name);
    lamp->setToolTip(QString::fromUtf8(tip));
    lamp->setFixedSize(16, 16);
    return lamp;
}

void light(QLabel* lamp, bool first_colour) {
    lamp->setProperty("first_colour", first_colour);
    lamp->setStyleSheet(first_colour ? kFirstColour : kSecondColour);
}

// A list shows the settings' index; an index the list does not have selects nothing, and
// Apply then leaves the setting as it was.
void select(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

void take_index(const QComboBox* box, int16_t& field) {
    if (box->currentIndex() >= 0) field = static_cast<int16_t>(box->currentIndex());
}

void take_box(const QCheckBox* box, int16_t& field) {
    field = box->isChecked() ? 1 : 0;
}

QString number(int16_t value) {
    return QString::number(value);
}

}  // namespace

HardwareSetupWindow::HardwareSetupWindow(acquisition::Station& station, Hooks hooks,
                                         QWidget* parent)
    : QWidget(parent), station_(station), hooks_(std::move(hooks)) {
    setObjectName("actions");
    setWindowTitle(kTitle);
    // The program lives as long as its main window, not as long as this one.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(build_interface_frame());
    left->addWidget(build_ad_settings_frame());
    left->addStretch(1);
    auto* middle = new QVBoxLayout;
    middle->addWidget(build_reliability_frame());
    middle->addWidget(build_datalog_frame());
    middle->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(build_quake_frame());
    right->addStretch(1);
    columns->addLayout(left);
    columns->addLayout(middle);
    columns->addLayout(right, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(build_buttons());

    for (QLabel* lamp : {linea1_, linea2_, watch_dog_bit_, alarm_bit_}) light(lamp, false);
    load();
}

QWidget* HardwareSetupWindow::build_interface_frame() {
    auto* frame = new QGroupBox("A/D Interface", this);
    auto* grid = new QGridLayout(frame);
    ad_type_ = new QComboBox(frame);
    ad_type_->setObjectName("ad_type");
    ad_type_->setToolTip("Model of the A/D interface");
    // The models the station has drivers for; "Unknow" is no choice.
    for (int type = 0; type <= config::kZeda30; ++type) {
        ad_type_->addItem(q(config::ad_type_name(type)));
    }
    comm_port_ = new QComboBox(frame);
    comm_port_->setObjectName("comm_port");
    comm_port_->setToolTip("Serial port of the A/D interface");
    comm_port_->addItem("none");
    for (int port = 1; port <= 16; ++port) comm_port_->addItem(QString("Comm%1").arg(port));
    baud_ = choice_list(frame, "baud",
                        {"Select baud rate", "4800", "9600", "19200", "38400", "57600", "115200"},
                        "Baud rate of the serial port");
    grid->addWidget(new QLabel("Interface", frame), 0, 0);
    grid->addWidget(ad_type_, 0, 1);
    grid->addWidget(new QLabel("Serial port", frame), 1, 0);
    grid->addWidget(comm_port_, 1, 1);
    grid->addWidget(new QLabel("Baud rate", frame), 2, 0);
    grid->addWidget(baud_, 2, 1);
    grid->setColumnStretch(1, 1);
    setting_controls_.insert(setting_controls_.end(), {ad_type_, comm_port_, baud_});
    return frame;
}

QWidget* HardwareSetupWindow::build_ad_settings_frame() {
    auto* frame = new QGroupBox("A/D settings", this);
    auto* grid = new QGridLayout(frame);
    int row = 0;

    auto* boxes = new QHBoxLayout;
    boxes->setSpacing(4);
    auto* hex = new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]{0,2}"), frame);
    for (size_t i = 0; i < txt_trim_.size(); ++i) {
        std::string name = "txt_trim(" + std::to_string(i) + ")";
        std::string tip = "Trimming hex data " + std::to_string(i + 1);
        auto* box = text_box(frame, name.c_str(), tip.c_str());
        box->setMaxLength(2);
        box->setValidator(hex);
        box->setFixedWidth(40);
        box->setAlignment(Qt::AlignCenter);
        txt_trim_[i] = box;
        boxes->addWidget(box);
        connect(box, &QLineEdit::editingFinished, this,
                [box] { box->setText(q(timekeeping::normal_trim_box(s(box->text())))); });
        setting_controls_.push_back(box);
    }
    boxes->addStretch(1);
    grid->addWidget(new QLabel("Clock trimming", frame), row, 0);
    grid->addLayout(boxes, row++, 1);

    auto* error = new QHBoxLayout;
    txt_error_ =
        text_box(frame, "txt_error", "Clock error in seconds per day; ENTER computes the trimming");
    txt_error_->setFixedWidth(110);
    error->addWidget(txt_error_);
    error->addWidget(new QLabel("s/day", frame));
    error->addStretch(1);
    grid->addWidget(new QLabel("Clock error", frame), row, 0);
    grid->addLayout(error, row++, 1);

    auto* calibration = new QHBoxLayout;
    cmd_read_ = button(frame, "cmd_read", "read", "Read clock calibration from board");
    cmd_write_ = button(frame, "cmd_write", "write", "Write clock calibration to board");
    calibration->addWidget(cmd_read_);
    calibration->addWidget(cmd_write_);
    calibration->addStretch(1);
    grid->addLayout(calibration, row++, 1);

    lbl_serial_ = new QLabel(frame);
    lbl_serial_->setObjectName("lbl_serial");
    lbl_serial_->setToolTip("Serial number");
    lbl_serial_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(new QLabel("Serial number", frame), row, 0);
    grid->addWidget(lbl_serial_, row++, 1);

    blind_start_ = check_box(frame, "blind_start", "Blind start",
                             "Start without asking the board its version");
    datekeeping_ = check_box(frame, "datekeeping", "Datekeeping",
                             "With blind start: the board's firmware is taken as known");
    no_ver_warn_ = check_box(frame, "no_ver_warn", "No version and date/time warnings");
    for (QCheckBox* box : {blind_start_, datekeeping_, no_ver_warn_}) {
        grid->addWidget(box, row++, 0, 1, 2);
    }
    grid->setColumnStretch(1, 1);

    connect(txt_error_, &QLineEdit::returnPressed, this, [this] { error_entered(); });
    connect(cmd_read_, &QPushButton::clicked, this, [this] { read_calibration(); });
    connect(cmd_write_, &QPushButton::clicked, this, [this] { write_calibration(); });
    connect(blind_start_, &QCheckBox::toggled, this,
            [this](bool on) { datekeeping_->setEnabled(on && blind_start_->isEnabled()); });
    setting_controls_.insert(setting_controls_.end(), {txt_error_, cmd_read_, cmd_write_,
                                                       blind_start_, datekeeping_, no_ver_warn_});
    return frame;
}

QWidget* HardwareSetupWindow::build_reliability_frame() {
    auto* frame = new QGroupBox("Hardware && Reliability", this);
    auto* grid = new QGridLayout(frame);
    int row = 0;
    lock_settings_ = check_box(frame, "lock_settings", "Lock settings",
                               "Lock the settings windows; unlocking asks the password");
    chk_debug_ = check_box(frame, "chk_debug", "Service mode 1");
    chk_debug2_ = check_box(frame, "chk_debug2", "Service mode 2");
    use_velkmon_ = check_box(frame, "use_velkmon", "Supervision by velkmon",
                             "Hand the supervision of the program to the companion program "
                             "velkmon");
    wd_enabled_ = check_box(frame, "wd_enabled", "Watch dog timer Pulse on BIT0 LPTx");
    for (QCheckBox* box : {lock_settings_, chk_debug_, chk_debug2_, use_velkmon_, wd_enabled_}) {
        grid->addWidget(box, row++, 0, 1, 3);
    }
    wd_timer_ = text_box(frame, "wd_timer", "Watch dog period, 5 to 999 seconds");
    wd_timer_->setFixedWidth(60);
    grid->addWidget(new QLabel("Watch dog period", frame), row, 0);
    grid->addWidget(wd_timer_, row, 1);
    grid->addWidget(new QLabel("s", frame), row++, 2);
    lptx_ = choice_list(frame, "lptx", {"not use LPT", "LPT1", "LPT2", "LPT3"},
                        "Parallel port of the watch dog and alarm bits");
    grid->addWidget(new QLabel("Parallel port", frame), row, 0);
    grid->addWidget(lptx_, row++, 1, 1, 2);

    auto* lamps = new QHBoxLayout;
    linea1_ = indicator(frame, "linea1", "Input line 1 of the board");
    linea2_ = indicator(frame, "linea2", "Input line 2 of the board");
    watch_dog_bit_ = indicator(frame, "watch_dog_bit", "Watch dog bit 0");
    alarm_bit_ = indicator(frame, "alarm_bit", "Alarm bit 1");
    const std::pair<const char*, QLabel*> named[] = {
        {"L1", linea1_}, {"L2", linea2_}, {"WD", watch_dog_bit_}, {"AL", alarm_bit_}};
    for (const auto& [caption, lamp] : named) {
        lamps->addWidget(new QLabel(caption, frame));
        lamps->addWidget(lamp);
        lamps->addSpacing(8);
    }
    lamps->addStretch(1);
    grid->addLayout(lamps, row++, 0, 1, 3);
    grid->setColumnStretch(2, 1);

    connect(lock_settings_, &QCheckBox::clicked, this, [this](bool on) { lock_clicked(on); });
    connect(wd_timer_, &QLineEdit::editingFinished, this,
            [this] { wd_timer_->setText(q(config::WatchdogSecondsText(s(wd_timer_->text())))); });
    setting_controls_.insert(setting_controls_.end(), {chk_debug_, chk_debug2_, use_velkmon_,
                                                       wd_enabled_, wd_timer_, lptx_});
    return frame;
}

QWidget* HardwareSetupWindow::build_quake_frame() {
    auto* frame = new QGroupBox("On Quake Automation", this);
    auto* grid = new QGridLayout(frame);
    int row = 0;
    alarm_wav_ = check_box(frame, "alarm_wav", "On Alarm use \"alarm.wav\"",
                           "Play alarm.wav instead of the internal speaker");
    print_quake_ = check_box(frame, "print_quake", "Print quake report");
    alarm_on_events_ = check_box(frame, "alarm_on_events", "Alarm on events Event List");
    send_sms_ = check_box(frame, "send_sms", "Generates SMS command file");
    send_mail_ = check_box(frame, "send_mail", "Generates EMAIL command file");
    alarm_on_l2_ = check_box(frame, "alarm_on_L2", "Alarm React on L2 state LOW (true)");
    hw_alarm_ = check_box(frame, "hw_alarm", "Hardware alarm on BIT1 LPTx");
    for (QCheckBox* box : {alarm_wav_, print_quake_, alarm_on_events_, send_sms_, send_mail_,
                           alarm_on_l2_, hw_alarm_}) {
        grid->addWidget(box, row++, 0);
    }
    events_folder_ = text_box(frame, "events_folder",
                              "Folder of the recorded events. Double click for the standard "
                              "folder");
    events_browser_ = text_box(frame, "events_browser", "Program that opens the event files");
    events_folder_->setMinimumWidth(260);
    grid->addWidget(new QLabel("Events folder", frame), row++, 0);
    grid->addWidget(events_folder_, row++, 0);
    grid->addWidget(new QLabel("Event viewer", frame), row++, 0);
    grid->addWidget(events_browser_, row++, 0);
    events_folder_->installEventFilter(this);
    setting_controls_.insert(setting_controls_.end(),
                             {alarm_wav_, print_quake_, alarm_on_events_, send_sms_, send_mail_,
                              alarm_on_l2_, hw_alarm_, events_folder_, events_browser_});
    return frame;
}

QWidget* HardwareSetupWindow::build_datalog_frame() {
    auto* frame = new QGroupBox("Datalog and drums automations", this);
    auto* grid = new QGridLayout(frame);
    int row = 0;
    drum_format_ =
        choice_list(frame, "drum_format", {"BMP", "GIF", "JPG c40%", "JPG c75%", "JPG c90%"},
                    "Picture format of the saved drums");
    flush_period_ = choice_list(frame, "flush_period",
                                {" 5 min", " 10 min", " 15 min", " 20 min", " 30 min", " hour"},
                                "How often the datalog buffers are written out");
    bmp_update_ = choice_list(frame, "bmp_update",
                              {" 5 min", " 10 min", " 15 min", " 20 min", " 30 min", " hour",
                               " 2 hours", " 3 hours", " 4 hours", " 6 hours", "12 hours", " day"},
                              "How often the drum pictures are saved");
    grid->addWidget(new QLabel("Drum picture format", frame), row, 0);
    grid->addWidget(drum_format_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("Drum picture update", frame), row, 0);
    grid->addWidget(bmp_update_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("Datalog flush", frame), row, 0);
    grid->addWidget(flush_period_, row++, 1, 1, 2);
    never_purge_ = check_box(frame, "never_purge", "Never purge");
    grid->addWidget(never_purge_, row++, 0, 1, 3);
    purge_time_ = text_box(frame, "purge_time", "Purge files older than 1 to 360 days");
    purge_time_->setFixedWidth(60);
    grid->addWidget(new QLabel("Purge files older than", frame), row, 0);
    grid->addWidget(purge_time_, row, 1);
    grid->addWidget(new QLabel("days", frame), row++, 2);
    drum_columns_ = text_box(frame, "drum_columns", "Hours per drum row: 2, 3, 4, 6 or 8");
    drum_columns_->setFixedWidth(60);
    grid->addWidget(new QLabel("Hours/row", frame), row, 0);
    grid->addWidget(drum_columns_, row++, 1);
    grid->setColumnStretch(2, 1);

    connect(purge_time_, &QLineEdit::editingFinished, this,
            [this] { purge_time_->setText(q(config::PurgeDaysText(s(purge_time_->text())))); });
    connect(drum_columns_, &QLineEdit::editingFinished, this, [this] {
        drum_columns_->setText(q(config::HoursPerRowText(s(drum_columns_->text()))));
    });
    setting_controls_.insert(setting_controls_.end(), {drum_format_, flush_period_, bmp_update_,
                                                       never_purge_, purge_time_, drum_columns_});
    return frame;
}

QWidget* HardwareSetupWindow::build_buttons() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    automation_apply_ = button(bar, "automation_apply", "Apply", "Apply the settings");
    automation_ok_ = button(bar, "automation_ok", "OK", "Apply the settings and close");
    command1_ = button(bar, "Command1", "cancel", "Close without applying");
    row->addStretch(1);
    for (QPushButton* b : {automation_apply_, automation_ok_, command1_}) row->addWidget(b);
    connect(automation_apply_, &QPushButton::clicked, this, [this] { apply(); });
    connect(automation_ok_, &QPushButton::clicked, this, [this] {
        apply();
        close();
    });
    connect(command1_, &QPushButton::clicked, this, [this] { close(); });
    setting_controls_.insert(setting_controls_.end(), {automation_apply_, automation_ok_});
    return bar;
}

void HardwareSetupWindow::load() {
    const auto& general = station_.settings().general;
    select(ad_type_, general.ad_type);
    select(comm_port_, general.comm_port);
    select(baud_, general.baud_index);
    show_trim_boxes(timekeeping::trim_boxes_from_hex(general.clock_trim_hex));
    txt_error_->clear();
    lbl_serial_->setText(q(general.board_serial));
    blind_start_->setChecked(general.blind_start != 0);
    datekeeping_->setChecked(general.datekeeping != 0);
    no_ver_warn_->setChecked(general.no_version_warn != 0);

    chk_debug_->setChecked(config::service_mode1_ticked(general.service_mode));
    chk_debug2_->setChecked(config::service_mode2_ticked(general.service_mode));
    use_velkmon_->setChecked(general.use_velkmon != 0);
    wd_enabled_->setChecked(general.watchdog_enabled != 0);
    wd_timer_->setText(number(general.watchdog_period));
    select(lptx_, general.lpt_port);

    alarm_wav_->setChecked(general.alarm_wav != 0);
    print_quake_->setChecked(general.print_quake != 0);
    alarm_on_events_->setChecked(general.alarm_on_events != 0);
    send_sms_->setChecked(general.send_sms != 0);
    send_mail_->setChecked(general.send_mail != 0);
    alarm_on_l2_->setChecked(general.alarm_on_l2 != 0);
    hw_alarm_->setChecked(general.hw_alarm != 0);
    events_folder_->setText(q(general.events_folder));
    events_browser_->setText(q(general.event_browser));

    select(drum_format_, general.drum_format);
    select(flush_period_, general.flush_period);
    select(bmp_update_, general.drum_update);
    never_purge_->setChecked(general.never_purge != 0);
    purge_time_->setText(number(general.purge_days));
    drum_columns_->setText(number(general.drum_hours_per_row));
    apply_settings_lock();
}

void HardwareSetupWindow::check_fields() {
    // A field still being typed in when Apply is pressed is checked as if it had been left.
    purge_time_->setText(q(config::PurgeDaysText(s(purge_time_->text()))));
    wd_timer_->setText(q(config::WatchdogSecondsText(s(wd_timer_->text()))));
    drum_columns_->setText(q(config::HoursPerRowText(s(drum_columns_->text()))));
    for (QLineEdit* box : txt_trim_) box->setText(q(timekeeping::normal_trim_box(s(box->text()))));
}

void HardwareSetupWindow::apply() {
    check_fields();
    auto& settings = station_.settings();
    auto& general = settings.general;
    take_index(comm_port_, general.comm_port);
    take_index(lptx_, general.lpt_port);
    take_box(wd_enabled_, general.watchdog_enabled);
    take_box(use_velkmon_, general.use_velkmon);
    take_index(bmp_update_, general.drum_update);
    general.drum_hours_per_row = config::checked_field_value(s(drum_columns_->text()));
    take_index(drum_format_, general.drum_format);
    take_index(flush_period_, general.flush_period);
    general.purge_days = config::checked_field_value(s(purge_time_->text()));
    take_box(never_purge_, general.never_purge);
    take_box(hw_alarm_, general.hw_alarm);
    take_box(alarm_on_l2_, general.alarm_on_l2);
    take_box(alarm_on_events_, general.alarm_on_events);
    take_box(send_sms_, general.send_sms);
    take_box(send_mail_, general.send_mail);
    take_box(no_ver_warn_, general.no_version_warn);
    take_box(lock_settings_, general.settings_locked);
    take_box(alarm_wav_, general.alarm_wav);
    take_box(blind_start_, general.blind_start);
    take_index(baud_, general.baud_index);
    take_box(datekeeping_, general.datekeeping);
    take_box(print_quake_, general.print_quake);
    general.watchdog_period = config::checked_field_value(s(wd_timer_->text()));
    general.event_browser = s(events_browser_->text());
    general.events_folder = s(events_folder_->text());

    // The record START writes back into the registered board: only a whole one is kept.
    auto boxes = trim_boxes();
    if (timekeeping::trim_record_from_boxes(boxes)) {
        general.clock_trim_hex = boxes[0] + boxes[1] + boxes[2] + boxes[3];
    } else {
        station_.op().message("Trimming", kTrimBoxesText, platform::MessageIcon::warning);
    }

    general.service_mode =
        config::service_mode_of(chk_debug_->isChecked(), chk_debug2_->isChecked());

    bool rates_changed = false;
    if (ad_type_->currentIndex() >= 0) {
        rates_changed =
            config::ApplyInterfaceType(settings, static_cast<int16_t>(ad_type_->currentIndex()));
    }
    apply_settings_lock();
    if (hooks_.settings_changed) {
        hooks_.settings_changed(general.ad_type == config::kInfiltec ||
                                general.ad_type == config::kLx1500);
    }
    if (rates_changed) {
        station_.op().message("Info", config::kRatesChangedText,
                              platform::MessageIcon::information);
    }
}

void HardwareSetupWindow::refresh() {
    // START registers a new board's serial number.
    lbl_serial_->setText(q(station_.settings().general.board_serial));
}

void HardwareSetupWindow::apply_settings_lock() {
    bool locked = station_.settings().general.settings_locked != 0;
    // The box shows the lock as it is, so that a click on it is an unlock when locked.
    lock_settings_->setChecked(locked);
    for (QWidget* control : setting_controls_) control->setEnabled(!locked);
    datekeeping_->setEnabled(!locked && blind_start_->isChecked());
    // Stays usable: it is how the operator unlocks.
    lock_settings_->setEnabled(true);
}

timekeeping::TrimBoxes HardwareSetupWindow::trim_boxes() const {
    timekeeping::TrimBoxes boxes;
    for (size_t i = 0; i < boxes.size(); ++i) boxes[i] = s(txt_trim_[i]->text());
    return boxes;
}

void HardwareSetupWindow::show_trim_boxes(const timekeeping::TrimBoxes& boxes) {
    for (size_t i = 0; i < boxes.size(); ++i) txt_trim_[i]->setText(q(boxes[i]));
}

void HardwareSetupWindow::error_entered() {
    auto error = text::strict_number(s(txt_error_->text()));
    if (!error) {
        station_.op().message("Clock error", kClockErrorText, platform::MessageIcon::warning);
        return;
    }
    show_trim_boxes(timekeeping::trim_boxes_for_error(*error));
}

bool HardwareSetupWindow::board_free() {
    // START's handshake owns the board as a run does: reading the calibration would reopen
    // the port under it.
    if (!station_.in_run() && !station_.starting()) return true;
    station_.op().message("Trimming", kRunningText, platform::MessageIcon::warning);
    return false;
}

namespace {

// The busy cursor over a window that takes no clicks while it talks to the board: the waits
// of the exchange let the event loop run.
class BoardExchange {
public:
    BoardExchange(QWidget& window, bool& busy) : window_(window), busy_(busy) {
        busy_ = true;
        window_.setCursor(Qt::WaitCursor);
        window_.setEnabled(false);
    }
    ~BoardExchange() {
        window_.setEnabled(true);
        window_.unsetCursor();
        busy_ = false;
    }
    BoardExchange(const BoardExchange&) = delete;
    BoardExchange& operator=(const BoardExchange&) = delete;

private:
    QWidget& window_;
    bool& busy_;
};

}  // namespace

void HardwareSetupWindow::read_calibration() {
    if (busy_ || !board_free()) return;
    BoardExchange exchange(*this, busy_);
    auto read = acquisition::ReadBoardCalibration(station_);
    if (!read.port_opened) return;
    if (read.trim.empty()) {
        // The boxes and the registered serial number stay as they were.
        station_.op().message("Error", "A/D card not found.", platform::MessageIcon::critical);
        return;
    }
    auto& general = station_.settings().general;
    if (!read.serial.empty()) general.board_serial = read.serial;
    lbl_serial_->setText(q(general.board_serial));
    auto boxes = timekeeping::trim_boxes_from_hex(read.trim);
    show_trim_boxes(boxes);
    txt_error_->setText(q(timekeeping::clock_error_text(boxes)));
}

void HardwareSetupWindow::write_calibration() {
    if (busy_ || !board_free()) return;
    for (QLineEdit* box : txt_trim_) box->setText(q(timekeeping::normal_trim_box(s(box->text()))));
    auto record = timekeeping::trim_record_from_boxes(trim_boxes());
    if (!record) {
        // Nothing half-typed reaches the board's memory.
        station_.op().message("Trimming", kTrimBoxesText, platform::MessageIcon::warning);
        return;
    }
    BoardExchange exchange(*this, busy_);
    bool written = acquisition::WriteBoardCalibration(station_, *record);
    station_.op().message(
        "Trimming", written ? "Trimming executed." : "Trimming not executed",
        written ? platform::MessageIcon::information : platform::MessageIcon::warning);
}

void HardwareSetupWindow::lock_clicked(bool ticked) {
    auto& general = station_.settings().general;
    auto& op = station_.op();
    // The outcome is kept here, not read back from the box: while the dialogs are up the
    // window loses and regains activation, which shows the lock still in force in the box.
    bool locked = ticked;
    if (!ticked) {
        std::string entry = op.input_text("Lock/Unlock Settings", "Password");
        if (entry == general.settings_password) {
            if (op.ask_yes_no("Password", "Do you want to change the password?", false)) {
                general.settings_password = op.input_text("Password", "Insert the NEW password");
                op.message("Password", "PASSWORD CHANGED", platform::MessageIcon::information);
            }
        } else {
            locked = true;
        }
    }
    general.settings_locked = locked ? 1 : 0;
    apply_settings_lock();
}

void HardwareSetupWindow::events_folder_double_clicked() {
    if (station_.op().ask_yes_no("Velkantor", "Set folder as standard velkantor event folder?",
                                 false)) {
        events_folder_->setText(q(platform::join_path(station_.folder(), "events")));
    }
}

void HardwareSetupWindow::show_input_lines(bool line1, bool line2) {
    light(linea1_, line1);
    light(linea2_, line2);
}

void HardwareSetupWindow::show_watchdog_bit(bool first_colour) {
    light(watch_dog_bit_, first_colour);
}

void HardwareSetupWindow::show_alarm_bit(bool set) {
    light(alarm_bit_, set);
}

void HardwareSetupWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() || open_) return;
    // Each opening starts from the settings: what cancel left behind is gone.
    load();
    open_ = true;
    if (hooks_.listen) hooks_.listen(this, true);
}

void HardwareSetupWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous() || !open_) return;
    open_ = false;
    if (hooks_.listen) hooks_.listen(this, false);
}

void HardwareSetupWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) apply_settings_lock();
    QWidget::changeEvent(event);
}

bool HardwareSetupWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == events_folder_ && event->type() == QEvent::MouseButtonDblClick &&
        events_folder_->isEnabled()) {
        events_folder_double_clicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace velkantor::gui
