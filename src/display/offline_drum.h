#pragma once

#include <cstddef>
#include <string>

#include "config/settings.h"
#include "datalog/datalog_reader.h"
#include "platform/canvas.h"

namespace velkantor::display {

struct OfflineDrumResult {
    std::string error;   // empty when a drum was drawn
    size_t samples = 0;  // samples drawn
    double rate = 0;
};

// Draws the drum of channel ch (0..3) for the day `date` ("YYYY/MM/DD") from the datalog,
// with the station's drum drawing: a station that lost its drum image can rebuild it. Times
// that the datalog does not cover stay blank, and the trace does not jump across them. The
// trigger state is not in the datalog, so the whole trace is in the untriggered colour.
OfflineDrumResult DrawDrumFromDatalog(platform::Canvas& picture,
                                      const datalog::DatalogReader& reader, int ch,
                                      const std::string& date, const config::Settings& settings);

}  // namespace velkantor::display
