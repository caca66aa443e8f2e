#include "gui/fft_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "config/settings.h"
#include "display/fft_display.h"
#include "platform/real/qimage_canvas.h"
#include "text/number_text.h"

namespace velkantor::gui {

namespace {

// Two thirds of the picture's pixels: the window then fits a 1366 x 768 screen.
constexpr int kPictureWidth = display::kSpectrumPictureWidth * 2 / 3;
constexpr int kPictureHeight = display::kSpectrumPictureHeight * 2 / 3;
constexpr int kDefaultWidth = 1040;
constexpr int kDefaultHeight = 640;

constexpr std::array<int, 7> kBlockLengths = {128, 256, 512, 1024, 2048, 4096, 8192};
constexpr std::array<const char*, 5> kSaveModes = {"Never", "Every frame", "Every 2 frames",
                                                   "Every 10 frames", "Every 100 frames"};

QLabel* scale_label(QWidget* parent, const char* name, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(alignment);
    return label;
}

// Checks the button of `id`, or none when no button has it (a value the file brought that no
// option stands for). Exclusive groups cannot be emptied without lifting the rule for a moment.
void check_id(QButtonGroup* group, int id) {
    const QSignalBlocker block(group);
    if (QAbstractButton* button = group->button(id)) {
        if (!button->isChecked()) button->setChecked(true);
        return;
    }
    if (!group->checkedButton()) return;
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(false);
    group->setExclusive(true);
}

void set_checked_quietly(QCheckBox* box, bool checked) {
    if (box->isChecked() == checked) return;
    const QSignalBlocker block(box);
    box->setChecked(checked);
}

}  // namespace

// `Picture1`: the core's picture stretched over the widget; the pointer's position goes to the
// readout as a fraction of the widget, which is the same fraction of the picture.
class FftWindow::Picture : public QWidget {
public:
    Picture(FftWindow& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
        setObjectName("Picture1");
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        setMinimumSize(kPictureWidth / 2, kPictureHeight / 2);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setCursor(Qt::CrossCursor);
    }

    QSize sizeHint() const override { return {kPictureWidth, kPictureHeight}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        // Once closed, the core window may already be gone.
        const auto* canvas =
            owner_.closed_ ? nullptr
                           : dynamic_cast<const platform::QImageCanvas*>(&owner_.window_.picture());
        if (!canvas) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        // Smooth scaling keeps the one-pixel grid lines and the trace visible when shrunk.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), canvas->image());
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (width() <= 0 || height() <= 0) return;
        // The centre of the pixel under the pointer.
        const QPointF at = event->position();
        const double fx = std::clamp((at.x() + 0.5) / width(), 0.0, 1.0);
        const double fy = std::clamp((at.y() + 0.5) / height(), 0.0, 1.0);
        owner_.show_readout(fx, fy);
    }

private:
    FftWindow& owner_;
};

FftWindow::FftWindow(display::SpectrumWindow& window, display::Spectra& spectra,
                     config::Settings& settings, QWidget* parent)
    : QWidget(parent),
      window_(window),
      spectra_(spectra),
      settings_(settings),
      ch_(window.channel()) {
    setObjectName("fft");
    setWindowTitle(QString::fromStdString(window.caption()));
    build();
    refresh();
    resize(kDefaultWidth, kDefaultHeight);
}

FftWindow::~FftWindow() = default;

config::ChannelSettings& FftWindow::channel_settings() {
    return settings_.channels[static_cast<size_t>(ch_)];
}

void FftWindow::build() {
    auto* root = new QVBoxLayout(this);
    // Why the picture is black when the settings cannot draw anything (a new station).
    hint_ = new QLabel(this);
    hint_->setObjectName("fft_hint");
    hint_->setWordWrap(true);
    hint_->setStyleSheet("color: #b00000; font-weight: bold");
    hint_->setVisible(false);
    root->addWidget(hint_);

    // The picture with its level (or frequency) scale on the left and its frequency (or time
    // of day) scale below.
    auto* plot = new QGridLayout;
    plot->setHorizontalSpacing(6);
    plot->setVerticalSpacing(2);
    picture_ = new Picture(*this, this);
    y_top_ = scale_label(this, "scale_top", Qt::AlignRight | Qt::AlignTop);
    y_unit_ = scale_label(this, "scale_unit_y", Qt::AlignRight | Qt::AlignVCenter);
    y_bottom_ = scale_label(this, "scale_bottom", Qt::AlignRight | Qt::AlignBottom);
    y_top_->setMinimumWidth(fontMetrics().horizontalAdvance("-32768"));
    plot->addWidget(y_top_, 0, 0);
    plot->addWidget(y_unit_, 1, 0);
    plot->addWidget(y_bottom_, 2, 0);
    plot->addWidget(picture_, 0, 1, 3, 1);
    plot->setRowStretch(1, 1);
    plot->setColumnStretch(1, 1);

    auto* x_axis = new QGridLayout;
    x_axis->setContentsMargins(0, 0, 0, 0);
    x_left_ = scale_label(this, "scale_left", Qt::AlignLeft | Qt::AlignTop);
    x_middle_ = scale_label(this, "scale_middle", Qt::AlignHCenter | Qt::AlignTop);
    x_right_ = scale_label(this, "scale_right", Qt::AlignRight | Qt::AlignTop);
    x_unit_ = scale_label(this, "scale_unit_x", Qt::AlignRight | Qt::AlignTop);
    auto* right_end = new QHBoxLayout;
    right_end->setSpacing(4);
    right_end->addStretch(1);
    right_end->addWidget(x_right_);
    right_end->addWidget(x_unit_);
    x_axis->addWidget(x_left_, 0, 0);
    x_axis->addWidget(x_middle_, 0, 1);
    x_axis->addLayout(right_end, 0, 2);
    for (int column = 0; column < 3; ++column) x_axis->setColumnStretch(column, 1);
    plot->addLayout(x_axis, 3, 1);
    root->addLayout(plot, 1);

    // The pointer's readout.
    auto* readout = new QHBoxLayout;
    freq_ = new QLabel(this);
    freq_->setObjectName("freq");
    level_ = new QLabel(this);
    level_->setObjectName("level");
    const int readout_width = fontMetrics().horizontalAdvance("Level:-32768.0") + 12;
    freq_->setMinimumWidth(readout_width);
    level_->setMinimumWidth(readout_width);
    readout->addWidget(freq_);
    readout->addWidget(level_);
    readout->addStretch(1);
    root->addLayout(readout);

    // Block length and display mode.
    auto* first_row = new QHBoxLayout;
    auto* points_box = new QGroupBox("FFT points", this);
    auto* points_row = new QHBoxLayout(points_box);
    points_ = new QButtonGroup(this);
    for (int points : kBlockLengths) {
        auto* option = new QRadioButton(QString::number(points), points_box);
        option->setObjectName(QString("option%1").arg(points));
        points_->addButton(option, points);
        points_row->addWidget(option);
    }
    first_row->addWidget(points_box);

    auto* display_box = new QGroupBox("Display", this);
    auto* display_row = new QHBoxLayout(display_box);
    display_mode_ = new QButtonGroup(this);
    auto* scope = new QRadioButton("Spectrum", display_box);
    scope->setObjectName("optionscope");
    auto* jtf = new QRadioButton("Time-frequency", display_box);
    jtf->setObjectName("optionjtf");
    display_mode_->addButton(scope, 1);
    display_mode_->addButton(jtf, 2);
    noise_models_ = new QCheckBox("Noise models", display_box);
    noise_models_->setObjectName("Check1");
    noise_models_->setToolTip("Draw the low and high noise models over the spectrum");
    display_row->addWidget(scope);
    display_row->addWidget(jtf);
    display_row->addWidget(noise_models_);
    first_row->addWidget(display_box);
    first_row->addStretch(1);
    root->addLayout(first_row);

    // Levels.
    auto* second_row = new QHBoxLayout;
    const int field_width = fontMetrics().horizontalAdvance("-32768") + 16;
    const auto add_field = [&](QGroupBox* box, QHBoxLayout* row, const char* caption,
                               const char* name, int16_t config::ChannelSettings::*setting) {
        auto* edit = new QLineEdit(box);
        edit->setObjectName(name);
        edit->setFixedWidth(field_width);
        auto* label = new QLabel(caption, box);
        label->setBuddy(edit);
        row->addWidget(label);
        row->addWidget(edit);
        numbers_.push_back({edit, setting});
    };
    auto* scope_box = new QGroupBox("Spectrum levels, dB", this);
    auto* scope_row = new QHBoxLayout(scope_box);
    add_field(scope_box, scope_row, "Max", "scope_max", &config::ChannelSettings::fft_scope_max);
    add_field(scope_box, scope_row, "Min", "scope_min", &config::ChannelSettings::fft_scope_min);
    second_row->addWidget(scope_box);

    auto* jtf_box = new QGroupBox("Time-frequency levels, dB", this);
    auto* jtf_row = new QHBoxLayout(jtf_box);
    add_field(jtf_box, jtf_row, "Base", "jtf_base", &config::ChannelSettings::jtf_base);
    add_field(jtf_box, jtf_row, "Max", "jtf_max", &config::ChannelSettings::jtf_max);
    add_field(jtf_box, jtf_row, "Min", "jtf_min", &config::ChannelSettings::jtf_min);
    second_row->addWidget(jtf_box);
    second_row->addStretch(1);
    root->addLayout(second_row);

    // Saving, with the save button's outcome beside it.
    auto* third_row = new QHBoxLayout;
    auto* save_box = new QGroupBox("Save", this);
    auto* save_row = new QHBoxLayout(save_box);
    save_mode_ = new QComboBox(save_box);
    save_mode_->setObjectName("savemode");
    for (const char* mode : kSaveModes) save_mode_->addItem(mode);
    save_updating_ = new QCheckBox("Save Updating", save_box);
    save_updating_->setObjectName("save_updating");
    save_updating_->setToolTip("Save the picture under the channel's fixed name");
    save_incrementing_ = new QCheckBox("Save Incrementing", save_box);
    save_incrementing_->setObjectName("save_incrementing");
    save_incrementing_->setToolTip("Save every picture under a name holding its time");
    auto* save_button = new QPushButton("Save now", save_box);
    save_button->setObjectName("cmd_save_spectra");
    save_row->addWidget(save_mode_);
    save_row->addWidget(save_updating_);
    save_row->addWidget(save_incrementing_);
    save_row->addWidget(save_button);
    save_status_ = new QLabel(save_box);
    save_status_->setObjectName("save_status");
    save_status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long reason must not widen the window; the tool tip holds all of it.
    save_status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    save_row->addWidget(save_status_, 1);
    third_row->addWidget(save_box, 1);
    root->addLayout(third_row);

    // Every change is the operator's: sync_controls blocks these signals while it shows the
    // stored values.
    connect(points_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) channel_settings().fft_points = static_cast<int16_t>(id);
    });
    connect(display_mode_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) channel_settings().fft_display_mode = static_cast<int16_t>(id);
    });
    for (const NumberField& field : numbers_) {
        connect(field.edit, &QLineEdit::editingFinished, this, [this, field] { commit(field); });
    }
    connect(save_mode_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) channel_settings().fft_save_mode = static_cast<int16_t>(index);
    });
    connect(save_updating_, &QCheckBox::toggled, this,
            [this](bool on) { channel_settings().fft_save_updating = on ? 1 : 0; });
    connect(save_incrementing_, &QCheckBox::toggled, this,
            [this](bool on) { channel_settings().fft_save_incrementing = on ? 1 : 0; });
    connect(noise_models_, &QCheckBox::toggled, this,
            [this](bool on) { spectra_.show_noise_models = on; });
    connect(save_button, &QPushButton::clicked, this, [this] { save_now(); });
}

void FftWindow::sync_controls() {
    const auto& cs = channel_settings();
    check_id(points_, cs.fft_points);
    check_id(display_mode_, cs.fft_display_mode);
    for (const NumberField& field : numbers_) {
        // Text being typed is the operator's until it is committed.
        if (field.edit->hasFocus() || field.edit->isModified()) continue;
        const QString stored = QString::number(cs.*field.setting);
        if (field.edit->text() != stored) field.edit->setText(stored);
    }
    {
        const int index =
            cs.fft_save_mode >= 0 && cs.fft_save_mode < save_mode_->count() ? cs.fft_save_mode : -1;
        const QSignalBlocker block(save_mode_);
        if (save_mode_->currentIndex() != index) save_mode_->setCurrentIndex(index);
    }
    set_checked_quietly(save_updating_, cs.fft_save_updating != 0);
    set_checked_quietly(save_incrementing_, cs.fft_save_incrementing != 0);
    set_checked_quietly(noise_models_, spectra_.show_noise_models);
    show_hint();
}

void FftWindow::show_hint() {
    const auto& cs = channel_settings();
    QString hint;
    if (cs.fft_display_mode != 1 && cs.fft_display_mode != 2) {
        hint = "Nothing is drawn: no display mode is chosen. Choose Scope or JTF below.";
    } else if (cs.fft_display_mode == 1 && cs.fft_scope_max == 0 && cs.fft_scope_min == 0) {
        hint =
            "The scope levels are 0/0 dB: set the upper and lower levels below to see the "
            "spectrum.";
    }
    hint_->setText(hint);
    hint_->setVisible(!hint.isEmpty());
}

void FftWindow::commit(const NumberField& field) {
    int16_t& stored = channel_settings().*field.setting;
    // Text that is not a number is refused: the field shows the stored value again.
    if (auto number = text::strict_number(field.edit->text().toStdString())) {
        constexpr double lowest = std::numeric_limits<int16_t>::min();
        constexpr double highest = std::numeric_limits<int16_t>::max();
        stored = text::to_i16(std::clamp(*number, lowest, highest)).value_or(stored);
    }
    field.edit->setText(QString::number(stored));
}

void FftWindow::refresh() {
    if (closed_) return;
    const display::SpectrumLabels& labels = window_.labels();
    const auto q = [](const std::string& text) { return QString::fromStdString(text); };
    if (window_.mode() == display::SpectrumMode::jtf) {
        // Frequency up the side, the minutes of the day along the bottom.
        y_top_->setText(q(labels.nyq));
        y_bottom_->setText(q(labels.spacing));
        y_unit_->setText(q(labels.frequency_unit));
        x_left_->setText(q(labels.minute_start));
        x_middle_->setText(q(labels.minute_middle));
        x_right_->setText(q(labels.minute_end));
        x_unit_->setText(q(labels.other_unit));
    } else {
        y_top_->setText(q(labels.top));
        y_bottom_->setText(q(labels.bottom));
        y_unit_->setText(q(labels.other_unit));
        x_left_->setText(q(labels.spacing));
        x_middle_->clear();
        x_right_->setText(q(labels.nyq));
        x_unit_->setText(q(labels.frequency_unit));
    }
    sync_controls();
    picture_->update();
}

void FftWindow::show_readout(double x_fraction, double y_fraction) {
    if (closed_) return;
    const auto& scale = window_.scale();
    const double x = scale.left + x_fraction * (scale.right - scale.left);
    const double y = scale.top + y_fraction * (scale.bottom - scale.top);
    const display::SpectrumReadout readout = window_.readout(x, y);
    freq_->setText(QString::fromStdString(readout.freq));
    level_->setText(QString::fromStdString(readout.level));
}

void FftWindow::save_now() {
    if (closed_) return;
    const std::string failure = spectra_.cmd_save_spectra(ch_, settings_);
    // Shown in the window rather than in a dialog: the frames keep coming while it is read.
    const QString status = failure.empty() ? QString("Saved as SPEC_%1").arg(ch_ + 1)
                                           : "Not saved: " + QString::fromStdString(failure);
    save_status_->setText(status);
    save_status_->setToolTip(status);
}

void FftWindow::set_on_closed(std::function<void()> on_closed) {
    on_closed_ = std::move(on_closed);
}

void FftWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (closed_) return;
    closed_ = true;
    if (on_closed_) on_closed_();
}

}  // namespace velkantor::gui
