#include "gui/qt_operator.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace velkantor::gui {

namespace {

QMessageBox::Icon box_icon(platform::MessageIcon icon) {
    switch (icon) {
        case platform::MessageIcon::information:
            return QMessageBox::Information;
        case platform::MessageIcon::warning:
            return QMessageBox::Warning;
        case platform::MessageIcon::critical:
            return QMessageBox::Critical;
        case platform::MessageIcon::question:
            return QMessageBox::Question;
        case platform::MessageIcon::none:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QtOperator::QtOperator(QWidget* dialog_parent, WarnBox* warn_box)
    : dialog_parent_(dialog_parent), warn_box_(warn_box) {}

QtOperator::~QtOperator() = default;

WarnBox& QtOperator::warn_box() {
    if (!warn_box_) {
        owned_warn_box_ = std::make_unique<WarnBox>();
        warn_box_ = owned_warn_box_.get();
    }
    return *warn_box_;
}

bool QtOperator::hides_input(std::string_view prompt) {
    return screen_text(prompt).trimmed().compare(QStringLiteral("Password"), Qt::CaseInsensitive) ==
           0;
}

void QtOperator::message(std::string_view title, std::string_view text,
                         platform::MessageIcon icon) {
    QMessageBox box(box_icon(icon), screen_text(title), screen_text(text), QMessageBox::Ok,
                    dialog_parent_);
    box.exec();
}

bool QtOperator::ask_yes_no(std::string_view title, std::string_view text, bool fallback) {
    QMessageBox box(QMessageBox::Question, screen_text(title), screen_text(text),
                    QMessageBox::Yes | QMessageBox::No, dialog_parent_);
    box.setDefaultButton(fallback ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtOperator::warn(std::string_view text) {
    warn_box().show_warning(text);
}

std::string QtOperator::input_text(std::string_view title, std::string_view prompt) {
    QInputDialog dialog(dialog_parent_);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(screen_text(title));
    dialog.setLabelText(screen_text(prompt));
    dialog.setTextEchoMode(hides_input(prompt) ? QLineEdit::Password : QLineEdit::Normal);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.textValue().toStdString();
}

}  // namespace velkantor::gui
