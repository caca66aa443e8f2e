#pragma once

#include <string_view>

#include "acquisition/station.h"
#include "display/displays.h"

namespace velkantor::app {

// The displays' view of a station: what they read, and the station's main loop feeding them
// until they go.
inline display::Displays::Source display_source(acquisition::Station& station) {
    return {station.fs(),
            station.op(),
            station.folder(),
            station.settings(),
            station.run(),
            station.detector(),
            station.board_clock().state(),
            [&station](std::string_view line) { station.AppendEventLog(line); },
            [&station](runtime::SampleConsumers& consumers, timekeeping::SecondListener& listener) {
                station.set_consumers(&consumers);
                station.set_second_listener(&listener);
                return runtime::Registration([&station] {
                    station.set_consumers(nullptr);
                    station.set_second_listener(nullptr);
                });
            }};
}

}  // namespace velkantor::app
