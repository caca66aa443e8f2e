#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

// The scheduler window's list and fields, as plain rules on the schedule array.
namespace velkantor::events {

// The channel an entry ends with. The trigger reads only the entry's last character, so a
// channel typed as "2 ", "02" or "2abc" would give an entry that looks right and never
// fires: the typed text becomes the one digit of its value. A value outside 0..4, or one
// that is not a whole number, is replaced by "1", as is an empty field; text without a
// number is channel 0, which is kept and never fires.
std::string ScheduleChannelText(std::string_view typed);

// The three fields of an entry, for the window's `start_date`, `start_time` and `channel`.
// Entries read from the file may be short or malformed: whatever is missing stays empty.
struct ScheduleFields {
    std::string date;     // "YYYY/MM/DD"
    std::string time;     // "HH:MM:SS"
    std::string channel;  // the entry's last character
};
ScheduleFields SplitScheduleEntry(std::string_view entry);

// The entries the window lists: elements 1..20 whose text is not blank, in element order.
std::vector<std::string> ScheduleListEntries(const config::Settings& settings);

// Apply: elements 1..20 become the list's entries in list order, the rest of the twenty
// empty. Elements 21..25 are not the window's and are left as they are; entries beyond the
// twentieth cannot be stored and are dropped.
void ApplyScheduleList(config::Settings& settings, const std::vector<std::string>& entries);

}  // namespace velkantor::events
