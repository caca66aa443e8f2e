#include "timekeeping/date_format_check.h"

namespace velkantor::timekeeping {

namespace {

const text::DateTime kProbe{2000, 12, 31, 7, 12, 34, 0};

std::string_view mid(std::string_view text, size_t one_based, size_t length) {
    if (one_based == 0 || one_based > text.size()) return {};
    return text.substr(one_based - 1, length);
}

}  // namespace

SystemDateFormats classify_date_formats(std::string_view date_sample,
                                        std::string_view time_sample) {
    SystemDateFormats found;
    found.date_sample = date_sample;
    found.time_sample = time_sample;

    bool leading_zero = !time_sample.empty() && time_sample.front() == '0';
    std::string form = leading_zero ? "HH?MM?SS" : "H?MM?SS";
    size_t hour_digits = leading_zero ? 2 : 1;
    char separator = time_sample.size() > hour_digits ? time_sample[hour_digits] : '?';
    if (separator == '.' || separator == ':') {
        for (char& c : form) {
            if (c == '?') c = separator;
        }
    }
    found.time_format = form;

    if (date_sample.substr(0, 4) == "2000") {
        found.date_format = mid(date_sample, 6, 2) == "12" ? "YYYY/MM/DD" : "YYYY/DD/MM";
    } else {
        found.date_format = mid(date_sample, 4, 2) == "12" ? "DD/MM/YYYY" : "MM/DD/YYYY";
    }

    bool date_bad = date_sample.substr(0, 2) == "31" || date_sample.substr(0, 2) == "00" ||
                    mid(date_sample, 8, 1) != "/";
    bool time_bad = mid(time_sample, 3, 1) != ":" || !leading_zero;
    found.expected = !date_bad && !time_bad;
    return found;
}

SystemDateFormats probe_date_formats(const platform::DateFormats& formats) {
    return classify_date_formats(formats.short_date(kProbe), formats.short_time(kProbe));
}

std::string date_format_warning(const SystemDateFormats& found, int service_mode,
                                std::string_view pc_date, std::string_view pc_time) {
    std::string text;
    auto line = [&](std::string_view part) {
        text += part;
        text += "\r\n";
    };
    line("The DATE format of your system is " + found.date_format);
    line("The TIME format of your system is " + found.time_format);
    line("This is not the better for VELKANTOR operation. ");
    line("Your system should be setup with YEAR/MONTH/DAY date format.");
    line("Set the YYYY/MM/DD short format mode.");
    line("Use / (slash) separator for date and : (colon) as separator for time.");
    line("Be sure that the time is expressed as HH:mm:ss and not H:MM:SS or hh:mm:ss");
    line("");
    line("You can set-up the right time format using Control_Panel / International_Format.");
    if (service_mode != 0) {
        line("Machine date/time: " + found.date_format + " = " + found.time_format);
        line("Date/Time: " + std::string(pc_date) + " = " + std::string(pc_time));
    }
    return text;
}

}  // namespace velkantor::timekeeping
