#pragma once

#include <string>
#include <string_view>

#include "config/settings.h"

// The list of scheduled recordings as the scheduler window edits it.
namespace velkantor::events {

struct ScheduleEdit {
    bool ok = false;
    std::string title;  // of the refusal message
    std::string text;   // the refusal, empty when ok
    std::string entry;  // the entry text when ok
};

// Builds an entry from the window's three fields: the date and time must be valid and the
// channel outside 0..4 becomes "1". `entries` is how many the list already holds.
ScheduleEdit MakeScheduleEntry(std::string_view date, std::string_view time,
                               std::string_view channel, int entries);

}  // namespace velkantor::events
