#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <string_view>

// The controls every window makes: named (tests and the settings lock find them by name),
// captioned and with their tip.
namespace velkantor::gui {

// A window being destroyed lets its focused text box go first, while the whole window still
// exists: the box's editing-finished handlers (which store into the window's settings) must
// not run from QWidget's destructor, after the window's own part is gone.
inline void release_focus(QWidget* window) {
    if (QWidget* focused = window->focusWidget()) focused->clearFocus();
}

inline QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QPushButton* button(QWidget* parent, std::string_view name, const char* caption,
                           const char* tip = nullptr) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(utf8(name));
    if (tip) b->setToolTip(QString::fromUtf8(tip));
    // Enter in a field presses nothing: each window acts on its own buttons only.
    b->setAutoDefault(false);
    return b;
}

inline QCheckBox* check_box(QWidget* parent, std::string_view name, const char* caption,
                            const char* tip = nullptr) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(utf8(name));
    if (tip) box->setToolTip(QString::fromUtf8(tip));
    return box;
}

inline QLineEdit* text_box(QWidget* parent, std::string_view name, const char* tip = nullptr) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(utf8(name));
    if (tip) edit->setToolTip(QString::fromUtf8(tip));
    return edit;
}

inline QLabel* label(QWidget* parent, std::string_view name, const char* text,
                     const char* tip = nullptr) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(utf8(name));
    if (tip) l->setToolTip(QString::fromUtf8(tip));
    return l;
}

}  // namespace velkantor::gui
