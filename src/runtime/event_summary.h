#pragma once

#include <string>

namespace velkantor::runtime {

// What is said of a closed event, in the event log and in the command files.
struct EventSummary {
    std::string file_name;
    std::string start_text;  // "YYYY/MM/DD HH:MM:SS" of the event's start
    double lines = 0;        // sample lines in the file, as its header counts them
    double max_ratio = 0;    // the largest STA/LTA ratio
    double max_half_wave_peak = 0;
};

}  // namespace velkantor::runtime
