#include "diagnostics/error_reporter.h"

#include "text/number_text.h"

namespace velkantor::diagnostics {

ErrorReporter::ErrorReporter(const platform::Clock& clock, platform::Host& host)
    : clock_(clock), host_(host) {}

void ErrorReporter::ReportError(const ErrorInfo& error, int marker, std::string_view procedure) {
    if (error_flow_ == kCleared) {
        error_count_ = 0;
        error_flow_ = kContinue;
    }
    error_count_ += 1;
    if (error_count_ > 99999) error_count_ = 0;

    if (error.number > 0) {
        auto now = clock_.now();
        std::string line = "Count:" + text::signed_form(static_cast<int64_t>(error_count_)) +
                           " / Error:" + std::to_string(error.number) + "/" + error.text + " / " +
                           std::string(procedure) + " / " + std::to_string(marker) + " / " +
                           text::format_time(now) + " " + text::format_date(now);
        if (error.number == 424) {
            if (on_fatal) on_fatal(line);
            return;
        }
        if (view_ && !view_->visible()) view_->show();
        lines_.push_back(line);
        if (lines_.size() > kMaxLines) lines_.pop_front();
        if (view_) view_->lines_changed(lines_);
    }

    if (error_flow_ == kHold) {
        host_.hold_while([this] { return error_flow_ == kHold; });
    } else {
        // A caller that fails on every turn reports about once per second, not thousands
        // of times: wait for the clock's second to change.
        auto now = clock_.now();
        host_.wait((1000 - now.millisecond) / 1000.0);
    }
}

void ErrorReporter::press_break(const std::function<void(std::string_view)>& log) {
    error_flow_ = kHold;
    if (log) log("BREAK flow from ERRORS Window");
}

void ErrorReporter::press_clear() {
    lines_.clear();
    error_flow_ = kCleared;
    if (view_) view_->lines_changed(lines_);
}

void ErrorReporter::press_close() {
    // Releases a held caller and makes the next report restart the count; the window is
    // unloaded, so its list starts empty when it opens again.
    error_flow_ = kCleared;
    lines_.clear();
    if (view_) view_->lines_changed(lines_);
}

}  // namespace velkantor::diagnostics
