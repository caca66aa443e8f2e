#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "text/date_time.h"

namespace velkantor::diagnostics {

// `stub.dat`: one line per entry, time-stamped "DD/MM/YYYY HH:MM:SS" with the
// acquisition's current time stamp.
class DiagnosticFile {
public:
    DiagnosticFile(platform::FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    bool WriteDiagnosticLine(const text::DateTime& stamp, std::string_view line) {
        std::string bytes = text::format_dmy(stamp) + " ";
        bytes += line;
        bytes += "\r\n";
        return static_cast<bool>(fs_.append(path_, bytes));
    }
    const std::string& path() const { return path_; }

private:
    platform::FileSystem& fs_;
    std::string path_;
};

}  // namespace velkantor::diagnostics
