#include "diagnostics/bounded_log.h"

namespace velkantor::diagnostics {

BoundedLog::BoundedLog(platform::FileSystem& fs, const platform::Clock& clock, std::string path,
                       std::string cleared_notice)
    : fs_(fs), clock_(clock), path_(std::move(path)), cleared_notice_(std::move(cleared_notice)) {}

bool BoundedLog::append(std::string_view message) {
    std::string line = text::format_datetime(clock_.now()) + " ";
    line += message;
    auto size = fs_.file_size(path_);
    if (size && *size > kLimitBytes) {
        if (!fs_.write_file(path_, cleared_notice_ + "\r\n")) return false;
    }
    // A line that did not fit whole is taken out again: the next one starts on its own line.
    if (!platform::append_records(fs_, path_, line + "\r\n")) return false;
    if (on_line) on_line(line);
    return true;
}

}  // namespace velkantor::diagnostics
