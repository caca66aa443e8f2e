#include "gui/drum_window.h"

#include <QApplication>
#include <QGridLayout>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/real/qimage_canvas.h"

namespace velkantor::gui {

namespace {

// Fits a 1366 x 768 screen with its title bar and a panel; the picture scrolls in both ways.
constexpr int kDefaultWidth = 1000;
constexpr int kDefaultHeight = 640;
constexpr int kVerticalLineStep = 20;

}  // namespace

// `drum_pic`: paints the part of the picture that the scroll bars select.
class DrumWindow::Picture : public QWidget {
public:
    Picture(DrumWindow& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
        setObjectName("drum_pic");
        // Every pixel is painted, the area beyond a small picture included.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(200, 120);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    QSize sizeHint() const override { return {kDefaultWidth, kDefaultHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        const QRect area = event->rect();
        painter.fillRect(area, palette().color(QPalette::Window));
        if (!owner_.picture_) return;
        const QImage& image = owner_.picture_->image();
        const QPoint offset(owner_.horizontal_offset(), owner_.vertical_offset());
        const QRect source = area.translated(offset) & image.rect();
        if (source.isEmpty()) return;
        painter.drawImage(source.topLeft() - offset, image, source);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && owner_.on_clear_request_) {
            owner_.on_clear_request_();
        }
        event->accept();
    }

    // The wheel scrolls the day's rows; with Shift (or a sideways wheel) it moves across.
    void wheelEvent(QWheelEvent* event) override {
        const bool across = event->modifiers().testFlag(Qt::ShiftModifier) ||
                            std::abs(event->angleDelta().x()) > std::abs(event->angleDelta().y());
        QApplication::sendEvent(across ? owner_.hscroll_ : owner_.vscroll_, event);
    }

    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        owner_.update_scroll_ranges();
    }

private:
    DrumWindow& owner_;
};

DrumWindow::DrumWindow(int ch, platform::QImageCanvas& picture,
                       std::function<void()> on_clear_request, QWidget* parent)
    : QWidget(parent), ch_(ch), picture_(&picture), on_clear_request_(std::move(on_clear_request)) {
    setObjectName(QString("drum%1").arg(ch + 1));
    setWindowTitle(QString("Drum Channel %1").arg(ch + 1));

    view_ = new Picture(*this, this);
    hscroll_ = new QScrollBar(Qt::Horizontal, this);
    hscroll_->setObjectName("HScroll1");
    hscroll_->setSingleStep(1);
    vscroll_ = new QScrollBar(Qt::Vertical, this);
    vscroll_->setObjectName("VScroll1");
    vscroll_->setSingleStep(kVerticalLineStep);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_, 0, 0);
    layout->addWidget(vscroll_, 0, 1);
    layout->addWidget(hscroll_, 1, 0);

    const auto repaint_picture = [this](int) { view_->update(); };
    connect(hscroll_, &QScrollBar::valueChanged, this, repaint_picture);
    connect(vscroll_, &QScrollBar::valueChanged, this, repaint_picture);
    // Once the operator scrolls up or down, the window no longer follows the drawn row.
    connect(vscroll_, &QScrollBar::actionTriggered, this, [this](int) { follow_row_ = false; });

    resize(kDefaultWidth, kDefaultHeight);
    update_scroll_ranges();
}

DrumWindow::~DrumWindow() = default;

void DrumWindow::set_picture(platform::QImageCanvas& picture) {
    picture_ = &picture;
    update_scroll_ranges();
    view_->update();
}

void DrumWindow::clear_picture() {
    picture_ = nullptr;
    update_scroll_ranges();
    view_->update();
}

void DrumWindow::refresh() {
    view_->update();
}

int DrumWindow::horizontal_offset() const {
    if (!picture_) return 0;
    // The last step stops with the picture's right edge at the window's, so the end of the
    // row is never followed by an empty strip.
    const int hidden = std::max(0, picture_->width() - view_->width());
    return std::min(hscroll_->value() * kDrumScrollStep, hidden);
}

int DrumWindow::vertical_offset() const {
    if (!picture_) return 0;
    const int hidden = std::max(0, picture_->height() - view_->height());
    return std::min(vscroll_->value(), hidden);
}

void DrumWindow::show_row(int top, int bottom) {
    row_top_ = top;
    row_bottom_ = bottom;
    scroll_to_row();
}

void DrumWindow::scroll_to_row() {
    if (!follow_row_ || row_bottom_ <= row_top_) return;
    // The row in the middle of the picture area, as far as the picture allows.
    const int middle = (row_top_ + row_bottom_) / 2 - view_->height() / 2;
    vscroll_->setValue(std::clamp(middle, vscroll_->minimum(), vscroll_->maximum()));
}

void DrumWindow::update_scroll_ranges() {
    const int width = picture_ ? picture_->width() : 0;
    const int height = picture_ ? picture_->height() : 0;
    const int hidden_across = std::max(0, width - view_->width());
    const int hidden_down = std::max(0, height - view_->height());

    hscroll_->setRange(0, (hidden_across + kDrumScrollStep - 1) / kDrumScrollStep);
    hscroll_->setPageStep(std::max(1, view_->width() / kDrumScrollStep));
    hscroll_->setEnabled(hidden_across > 0);
    vscroll_->setRange(0, hidden_down);
    vscroll_->setPageStep(std::max(1, view_->height()));
    vscroll_->setEnabled(hidden_down > 0);
    scroll_to_row();
}

}  // namespace velkantor::gui
