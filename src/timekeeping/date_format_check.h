#pragma once

#include <string>
#include <string_view>

#include "platform/date_formats.h"

namespace velkantor::timekeeping {

// The platform's short date and time forms, as found by formatting 31 December 2000,
// 7:12:34: a form the station's texts do not expect draws a warning at load.
struct SystemDateFormats {
    std::string date_format;  // "YYYY/MM/DD", "YYYY/DD/MM", "DD/MM/YYYY" or "MM/DD/YYYY"
    std::string time_format;  // "HH:MM:SS", "H:MM:SS", "HH.MM.SS", "H.MM.SS" (or "?" separators)
    std::string date_sample;  // the probe moment in the short date form
    std::string time_sample;  // the probe moment in the short time form
    bool expected = true;     // the forms are the ones the station works with
};

// Formats the probe moment; the machine's clock is never touched.
SystemDateFormats probe_date_formats(const platform::DateFormats& formats);
// Classifies the two samples of the probe moment.
SystemDateFormats classify_date_formats(std::string_view date_sample, std::string_view time_sample);

// The warning box's text for forms that are not the expected ones (each line ends CR LF);
// in service mode it also shows the formats and the PC's date and time in those forms.
std::string date_format_warning(const SystemDateFormats& found, int service_mode,
                                std::string_view pc_date, std::string_view pc_time);

}  // namespace velkantor::timekeeping
