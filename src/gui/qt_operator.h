#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>

#include "gui/small_windows.h"
#include "platform/operator.h"

namespace velkantor::gui {

// The operator of the desktop: messages and questions are modal message boxes, warnings go to
// the (non-blocking) warning box, text is asked for with an input dialog.
//
// Input is hidden when the prompt, ignoring case and surrounding blanks, is "Password": that
// is the entry that unlocks the settings, typed where others may be looking. The prompt that
// sets a new password echoes on purpose: there is no second entry to catch a typing error, so
// the operator must see what is about to be stored.
class QtOperator : public platform::Operator {
public:
    // `dialog_parent` centres the dialogs over the main window (may be set later);
    // `warn_box` is a warning box owned elsewhere, or null for one of the operator's own,
    // made when the first warning comes (so the operator may exist before the application).
    explicit QtOperator(QWidget* dialog_parent = nullptr, WarnBox* warn_box = nullptr);
    ~QtOperator() override;

    void set_dialog_parent(QWidget* parent) { dialog_parent_ = parent; }
    // The warning box that `warn` fills (made now if the operator owns it).
    WarnBox& warn_box();

    static bool hides_input(std::string_view prompt);

    void message(std::string_view title, std::string_view text,
                 platform::MessageIcon icon) override;
    // Enter picks `fallback`, the answer a host that cannot ask would give; Escape is No.
    bool ask_yes_no(std::string_view title, std::string_view text, bool fallback) override;
    void warn(std::string_view text) override;
    // Cancel gives the empty text.
    std::string input_text(std::string_view title, std::string_view prompt) override;

private:
    QPointer<QWidget> dialog_parent_;
    QPointer<WarnBox> warn_box_;
    std::unique_ptr<WarnBox> owned_warn_box_;
};

}  // namespace velkantor::gui
