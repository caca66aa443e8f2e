#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Civil (local) dates and times as the station writes them.
namespace velkantor::text {

struct DateTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    friend bool operator==(const DateTime&, const DateTime&) = default;
};

bool is_valid_date(int year, int month, int day);
bool is_valid(const DateTime& t);

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back.
int64_t days_from_civil(int year, int month, int day);
DateTime civil_from_days(int64_t days);

// Seconds since 1970-01-01 00:00:00 of the civil time (no time zone involved), and back.
double to_epoch_seconds(const DateTime& t);
DateTime from_epoch_seconds(double seconds);

double seconds_since_midnight(const DateTime& t);

std::string format_datetime(const DateTime& t);    // "YYYY/MM/DD HH:MM:SS"
std::string format_date(const DateTime& t);        // "YYYY/MM/DD"
std::string format_time(const DateTime& t);        // "HH:MM:SS"
std::string format_file_stamp(const DateTime& t);  // "YYYYMMDD_HHMMSS"
std::string format_dmy(const DateTime& t);         // "DD/MM/YYYY HH:MM:SS"

// Reads "YYYY/MM/DD HH:MM:SS" (also "YYYY-MM-DD" and "T"); nullopt unless valid.
std::optional<DateTime> parse_datetime(std::string_view text);

}  // namespace velkantor::text
