#include "text/date_time.h"

#include <cmath>

#include "text/number_text.h"

namespace velkantor::text {

bool is_valid_date(int year, int month, int day) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= last;
}

bool is_valid(const DateTime& t) {
    return is_valid_date(t.year, t.month, t.day) && t.hour >= 0 && t.hour < 24 && t.minute >= 0 &&
           t.minute < 60 && t.second >= 0 && t.second < 60 && t.millisecond >= 0 &&
           t.millisecond < 1000;
}

// Howard Hinnant's civil calendar algorithms.
int64_t days_from_civil(int year, int month, int day) {
    int64_t y = year - (month <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

DateTime civil_from_days(int64_t days) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    DateTime t;
    t.year = static_cast<int>(y + (m <= 2 ? 1 : 0));
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
    return t;
}

double to_epoch_seconds(const DateTime& t) {
    return static_cast<double>(days_from_civil(t.year, t.month, t.day)) * 86400.0 +
           t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
}

DateTime from_epoch_seconds(double seconds) {
    // Work in whole milliseconds so that a time never prints as 59.9995 s.
    auto millis = static_cast<int64_t>(std::floor(seconds * 1000.0 + 1e-6));
    int64_t days = millis >= 0 ? millis / 86400000 : (millis - 86399999) / 86400000;
    int64_t rest = millis - days * 86400000;
    DateTime t = civil_from_days(days);
    t.hour = static_cast<int>(rest / 3600000);
    t.minute = static_cast<int>(rest / 60000 % 60);
    t.second = static_cast<int>(rest / 1000 % 60);
    t.millisecond = static_cast<int>(rest % 1000);
    return t;
}

double seconds_since_midnight(const DateTime& t) {
    return t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
}

std::string format_date(const DateTime& t) {
    return zero_padded(t.year, 4) + "/" + zero_padded(t.month, 2) + "/" + zero_padded(t.day, 2);
}

std::string format_time(const DateTime& t) {
    return zero_padded(t.hour, 2) + ":" + zero_padded(t.minute, 2) + ":" + zero_padded(t.second, 2);
}

std::string format_datetime(const DateTime& t) {
    return format_date(t) + " " + format_time(t);
}

std::string format_file_stamp(const DateTime& t) {
    return zero_padded(t.year, 4) + zero_padded(t.month, 2) + zero_padded(t.day, 2) + "_" +
           zero_padded(t.hour, 2) + zero_padded(t.minute, 2) + zero_padded(t.second, 2);
}

std::string format_dmy(const DateTime& t) {
    return zero_padded(t.day, 2) + "/" + zero_padded(t.month, 2) + "/" + zero_padded(t.year, 4) +
           " " + format_time(t);
}

std::optional<DateTime> parse_datetime(std::string_view text) {
    // Fixed positions: YYYY?MM?DD?HH?MM?SS
    if (text.size() != 19) return std::nullopt;
    auto field = [&](size_t at, size_t width) -> int {
        int value = 0;
        for (size_t i = at; i < at + width; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    bool separators = (text[4] == '/' || text[4] == '-') && text[7] == text[4] &&
                      (text[10] == ' ' || text[10] == 'T') && text[13] == ':' && text[16] == ':';
    if (!separators) return std::nullopt;
    DateTime t{field(0, 4), field(5, 2), field(8, 2), field(11, 2), field(14, 2), field(17, 2), 0};
    if (!is_valid(t)) return std::nullopt;
    return t;
}

}  // namespace velkantor::text
