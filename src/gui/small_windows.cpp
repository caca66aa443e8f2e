#include "gui/small_windows.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QtGlobal>
#include <algorithm>
#include <cmath>

#include "acquisition/station.h"

namespace velkantor::gui {

namespace {

// The OK button that closes its window, centred on a row of its own.
QHBoxLayout* ok_button_row(QWidget* window, const char* name) {
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QString::fromLatin1(name));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, window, &QWidget::close);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addStretch();
    return row;
}

}  // namespace

namespace {

constexpr const char* kAbout = "Data logger for amateur seismic stations";

QString version_text() {
    const std::string_view version = runtime::kProgramVersion;
    return QString::fromLatin1(version.data(), static_cast<qsizetype>(version.size()));
}

QLabel* title_label(const QString& text, double scale) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// A short made-up seismogram: quiet ground, an arrival, a decaying coda. Drawn rather than
// loaded so that the program carries no picture files of its own.
class TraceStrip : public QWidget {
public:
    TraceStrip() { setMinimumSize(320, 70); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), QColor(250, 250, 240));
        const double mid = height() / 2.0;
        const double amplitude = height() * 0.42;
        QPainterPath path;
        for (int x = 0; x < width(); ++x) {
            const double t = static_cast<double>(x) / width();
            double y = 0.04 * std::sin(x * 0.9) + 0.03 * std::sin(x * 2.3);
            if (t > 0.3) {
                const double since = t - 0.3;
                y += std::exp(-since * 7.0) * std::sin(since * 160.0);
            }
            const QPointF point(x, mid - amplitude * y);
            if (x == 0) {
                path.moveTo(point);
            } else {
                path.lineTo(point);
            }
        }
        painter.setPen(QPen(QColor(20, 30, 120), 1.4));
        painter.drawPath(path);
    }
};

}  // namespace

QString screen_text(std::string_view text) {
    QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    out.remove(QLatin1Char('\r'));
    while (out.endsWith(QLatin1Char('\n'))) out.chop(1);
    return out;
}

WarnBox::WarnBox(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("warnbox"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Warning!"));

    text_ = new QLabel;
    text_->setObjectName(QStringLiteral("warntext"));
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* icon = new QLabel;
    const int icon_size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()
                        ->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this)
                        .pixmap(icon_size, icon_size));
    icon->setAlignment(Qt::AlignTop);

    auto* buttons = ok_button_row(this, "warnok");

    auto* message = new QHBoxLayout;
    message->addWidget(icon);
    message->addWidget(text_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(message);
    layout->addLayout(buttons);
}

void WarnBox::show_warning(std::string_view text) {
    const QString shown = screen_text(text);
    text_->setText(shown);
    // Wide enough that the usual warnings keep their own line breaks; only a line longer
    // than about 90 characters wraps.
    const QFontMetrics metrics = text_->fontMetrics();
    int widest = 0;
    for (const QString& line : shown.split(QLatin1Char('\n'))) {
        widest = std::max(widest, metrics.horizontalAdvance(line));
    }
    const int chars = metrics.averageCharWidth();
    text_->setMinimumWidth(std::clamp(widest + chars, 30 * chars, 90 * chars));
    // Fit the new text, smaller as well as larger than the one before.
    layout()->activate();
    resize(sizeHint());
    show();
    raise();
    activateWindow();
}

LogoWindow::LogoWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("logo"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(version_text());
    setToolTip(QStringLiteral("Click to close"));

    auto* about = new QLabel(QString::fromLatin1(kAbout));
    about->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_label(version_text(), 2.0));
    layout->addWidget(new TraceStrip);
    layout->addWidget(about);
}

void LogoWindow::mousePressEvent(QMouseEvent* event) {
    event->accept();
    close();
}

CreditsWindow::CreditsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("credits"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Credits"));

    auto* about = new QLabel(
        QString::fromLatin1(kAbout) +
        QStringLiteral(".\nRecords an A/D board's samples to the datalog, draws the drums,\n"
                       "detects events and keeps the event log.\n\nBuilt with Qt ") +
        QString::fromLatin1(qVersion()) + QStringLiteral("."));
    about->setAlignment(Qt::AlignCenter);

    auto* buttons = ok_button_row(this, "creditsok");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_label(version_text(), 1.6));
    layout->addWidget(about);
    layout->addLayout(buttons);
}

}  // namespace velkantor::gui
