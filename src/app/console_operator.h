#pragma once

#include <iosfwd>

#include "diagnostics/error_reporter.h"
#include "platform/operator.h"

namespace velkantor::app {

// The operator of a station without windows: every text goes to standard error, every
// question gets its documented default answer.
class ConsoleOperator : public platform::Operator {
public:
    explicit ConsoleOperator(std::ostream& out) : out_(out) {}
    void message(std::string_view title, std::string_view text, platform::MessageIcon) override;
    bool ask_yes_no(std::string_view title, std::string_view text, bool fallback) override;
    void warn(std::string_view text) override;
    std::string input_text(std::string_view title, std::string_view prompt) override;

private:
    std::ostream& out_;
};

// The error list of a station without windows: each reported line is printed.
class ConsoleErrorList : public diagnostics::ErrorListView {
public:
    explicit ConsoleErrorList(std::ostream& out) : out_(out) {}
    bool visible() const override { return shown_; }
    void show() override { shown_ = true; }
    void lines_changed(const std::deque<std::string>& lines) override;

private:
    std::ostream& out_;
    bool shown_ = false;
};

}  // namespace velkantor::app
