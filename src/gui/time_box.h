#pragma once

#include <QFocusEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStringList>
#include <QTime>

namespace velkantor::gui {

// A time of day typed as text: "HH:MM:SS", or shorter ("9:05" is 09:05:00). A spin-box time
// editor types into the section under the cursor and jumps sections on its own, so a time
// typed after a click on the minutes, or with its colons, lost its hours. Here the whole text
// is selected when the box gets the focus, by mouse or by keyboard, so typing replaces it.
class TimeBox : public QLineEdit {
public:
    explicit TimeBox(QWidget* parent = nullptr) : QLineEdit(parent) {
        setMaxLength(8);
        connect(this, &QLineEdit::textChanged, this, [this](const QString& typed) {
            if (auto at = parse(typed); at.isValid()) last_good_ = at;
        });
    }

    // The time typed, or the last good one while the text is not a time.
    QTime time() const { return last_good_; }
    void set_time(const QTime& at) { setText(at.toString("HH:mm:ss")); }

    static QTime parse(const QString& typed) {
        for (const char* format : {"H:m:s", "H:m", "H"}) {
            QTime at = QTime::fromString(typed.trimmed(), QString::fromLatin1(format));
            if (at.isValid()) return at;
        }
        return {};
    }

protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        select_on_press_ = event->reason() == Qt::MouseFocusReason;
        if (!select_on_press_) selectAll();
    }
    void mousePressEvent(QMouseEvent* event) override {
        QLineEdit::mousePressEvent(event);
        // The click that gave the focus selects everything; later clicks place the cursor.
        if (select_on_press_) selectAll();
        select_on_press_ = false;
    }

private:
    QTime last_good_{0, 0, 0};
    bool select_on_press_ = false;
};

}  // namespace velkantor::gui
