#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

// The scheduler window's list and fields, as plain rules on the schedule array.
namespace velkantor::events {

// The channel an entry ends with. The trigger reads only the entry's last character, so a
// channel typed as "2 " or "02" would give an entry that looks right and never fires: the
// typed text becomes the one digit of its value. Channel 0 is kept and never fires. An empty
// field, text that is not a number, a fraction or a value outside 0..4 gives nothing: such an
// entry is refused rather than turned into an entry that records channel 1.
std::optional<std::string> ScheduleChannelText(std::string_view typed);

inline constexpr const char* kScheduleChannelText =
    "The channel must be a whole number from 1 to 4 (0 keeps the entry without recording).";

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
