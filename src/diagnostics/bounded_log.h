#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace velkantor::diagnostics {

// A log file that is opened, written and closed per line, with every line time-stamped
// "YYYY/MM/DD HH:MM:SS" by the PC clock, and that starts afresh with a notice line once it
// has grown past 64,000 bytes. The event log and the time-correction log are both this.
class BoundedLog {
public:
    static constexpr uint64_t kLimitBytes = 64000;

    BoundedLog(platform::FileSystem& fs, const platform::Clock& clock, std::string path,
               std::string cleared_notice);

    // Appends one line; false when it could not be written (the line is lost, nothing else).
    bool append(std::string_view message);

    const std::string& path() const { return path_; }
    // Called with each line written (time stamp included), e.g. by an open log window.
    std::function<void(const std::string&)> on_line;

private:
    platform::FileSystem& fs_;
    const platform::Clock& clock_;
    std::string path_;
    std::string cleared_notice_;
};

}  // namespace velkantor::diagnostics
