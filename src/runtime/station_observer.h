#pragma once

#include <cstdint>
#include <string>

#include "runtime/event_summary.h"

namespace velkantor::runtime {

// The moments an owner wants to hear of at once (the alerts): the same moments that drive
// the alarm outputs, the command files and the restart lines. Called on the engine's thread
// in the middle of the sample chain or the tick, so an observer only notes what happened and
// never waits. The default does nothing.
class StationObserver {
public:
    virtual ~StationObserver() = default;
    // An event file was opened; `scheduled` when the channel records by the schedule.
    virtual void event_started(int /*ch*/, const std::string& /*file_name*/,
                               const std::string& /*start_text*/, bool /*scheduled*/) {}
    // An event file was finished: by its stop criterion, or cut short by STOP (`at_stop`).
    virtual void event_ended(int /*ch*/, const EventSummary& /*event*/, double /*duration_seconds*/,
                             bool /*at_stop*/) {}
    // A recorded sample beyond the channel's alarm threshold (the first of each event).
    virtual void alarm_exceeded(int /*ch*/, int32_t /*value*/, int32_t /*threshold*/) {}
    // The board stopped sending and is being restarted (the first restart of an outage).
    virtual void board_lost() {}
    // Data again after an outage of `seconds`.
    virtual void board_back(double /*seconds*/) {}
    // The station folder's free space, at each second's disk check.
    virtual void disk_space_checked(uint64_t /*free_bytes*/) {}
};

}  // namespace velkantor::runtime
