#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/host.h"

namespace velkantor::diagnostics {

// A failed statement: its error number and text (0 means no error).
struct ErrorInfo {
    int number = 0;
    std::string text;
};

// The error list window, as the reporter sees it.
class ErrorListView {
public:
    virtual ~ErrorListView() = default;
    virtual bool visible() const = 0;
    virtual void show() = 0;
    // The list changed: `lines` is its whole content, oldest first.
    virtual void lines_changed(const std::deque<std::string>& lines) = 0;
};

// Numbers, formats and lists the run-time errors of the long-running procedures, and holds
// the caller as the operator's choice in the error list says.
class ErrorReporter {
public:
    static constexpr size_t kMaxLines = 14;
    enum Flow : int16_t { kContinue = 0, kHold = 1, kCleared = 2 };

    ErrorReporter(const platform::Clock& clock, platform::Host& host);

    void set_view(ErrorListView* view) { view_ = view; }
    // Error 424 (object required) ends the program at once; the host decides how.
    std::function<void(const std::string& line)> on_fatal;

    void ReportError(const ErrorInfo& error, int marker, std::string_view procedure);

    // The error list window's buttons; `log` receives the texts the buttons write.
    void press_continue() { error_flow_ = kContinue; }
    void press_break(const std::function<void(std::string_view)>& log);
    void press_clear();
    void press_close();

    double error_count() const { return error_count_; }
    int16_t error_flow() const { return error_flow_; }
    const std::deque<std::string>& lines() const { return lines_; }

private:
    const platform::Clock& clock_;
    platform::Host& host_;
    ErrorListView* view_ = nullptr;
    double error_count_ = 0;
    int16_t error_flow_ = kContinue;
    std::deque<std::string> lines_;
};

}  // namespace velkantor::diagnostics
