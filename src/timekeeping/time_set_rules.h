#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/date_time.h"

// The rules of the time set window that do not need a window: the fields' ranges and
// messages, the time-zone field's offset for DCF77 and the manual date and time.
namespace velkantor::timekeeping {

enum class TimeField { day, month, year, hours, minutes, seconds, gmt };

struct TimeFieldRule {
    int lo;
    int hi;
    const char* title;  // the message box's title for an entry out of range
    const char* text;
};

const TimeFieldRule& time_field_rule(TimeField field);

// The whole number in a field when it is one (blanks around it and a sign allowed) and lies
// in the field's range; nullopt otherwise, and the operator gets the field's message.
std::optional<int> time_field_value(TimeField field, std::string_view text);

// The time-zone field speaks of UTC; the board's correction of DCF77 time, which is one
// hour ahead of UTC in winter, is one less. `sync_source` non-zero is DCF77.
int gmt_field_from_offset(int gmt_offset, int sync_source);
int gmt_offset_from_field(int field, int sync_source);

// The date and time fields as the window fills them from the PC clock: year with four
// digits, the others with two, in the order day, month, year, hours, minutes, seconds.
std::array<std::string, 6> time_field_texts(const text::DateTime& t);

// The date and time the fields give; nullopt for a date that does not exist (31 April).
std::optional<text::DateTime> manual_date_time(int year, int month, int day, int hours, int minutes,
                                               int seconds);

}  // namespace velkantor::timekeeping
