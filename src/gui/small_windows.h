#pragma once

#include <QString>
#include <QWidget>
#include <string_view>

class QLabel;
class QMouseEvent;

namespace velkantor::gui {

// The small windows are never the program's last window: the program lives as long as its
// main window, so none of them keeps it running once that is closed (Qt::WA_QuitOnClose off).

// The engine's texts separate lines with CR LF, as its files do; on screen a CR would show as
// a stray glyph or an extra gap, and a trailing line end as an empty line.
QString screen_text(std::string_view text);

// The warning box (`warnbox`): one message at a time, shown until the operator presses OK.
// It does not block: the station keeps acquiring while the warning waits to be read.
class WarnBox : public QWidget {
    Q_OBJECT

public:
    explicit WarnBox(QWidget* parent = nullptr);
    // Replaces the text and brings the box to the front; a warning that arrives while another
    // is still unread takes its place rather than opening a second box.
    void show_warning(std::string_view text);

private:
    QLabel* text_ = nullptr;
};

// The start-up window (`logo`): program name, version and what it is for. A click anywhere
// closes it; whether it is shown at all (`no_logo`) and when it goes is the caller's choice.
class LogoWindow : public QWidget {
    Q_OBJECT

public:
    explicit LogoWindow(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The credits window (`credits`), closed with its OK button.
class CreditsWindow : public QWidget {
    Q_OBJECT

public:
    explicit CreditsWindow(QWidget* parent = nullptr);
};

}  // namespace velkantor::gui
