#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/file_system.h"
#include "text/date_time.h"

namespace velkantor::datalog {

struct ExtractRequest {
    config::Settings settings;  // the configuration chosen for the station and sensor lines
    std::string datalog_folder;
    std::string events_folder;
    text::DateTime from;
    double minutes = 1;
    int channel_mask = 0;    // bit 0 for channel 1 ... bit 3 for channel 4
    bool overwrite = false;  // an existing event file of the same name is replaced
};

struct ExtractResult {
    std::vector<std::string> files;  // paths written
    std::string title;               // of the message, when there is one
    std::string message;             // why nothing (more) was extracted
    double samples = 0;              // data samples found in the datalog
    // Per channel: the samples of a kept file that are zeros because the datalog holds no
    // data for their time (before its first file, in a gap, after its end).
    std::array<double, config::kChannels> filled{};
    bool failed = false;  // a write failed: a file is incomplete or missing
};

// Cuts the period out of the datalog of each ticked channel into an event file of the
// configured layout. `progress` hears the fraction done (0..1).
ExtractResult ExtractEventFile(platform::FileSystem& fs, const ExtractRequest& request,
                               const std::function<void(double)>& progress = nullptr);

}  // namespace velkantor::datalog
