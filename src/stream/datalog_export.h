#pragma once

#include <array>
#include <functional>
#include <string>

#include "config/settings.h"
#include "platform/file_system.h"
#include "stream/stream_settings.h"

namespace velkantor::stream {

struct ExportRequest {
    std::string datalog_folder;
    StationCodes codes;
    double from_epoch = 0;
    double minutes = 0;
    int channel_mask = 0xF;  // bit 0 = channel 1
    // The board's zone at a board second (board time minus UTC, seconds): the datalog is in
    // board time, the records in UTC. None: the board kept UTC.
    std::function<int(double board_second)> utc_offset;
};

struct ExportResult {
    std::string records;  // the miniSEED records, channel after channel, each in time order
    long record_count = 0;
    std::array<long, config::kChannels> samples{};
    std::array<long, config::kChannels> gaps{};  // stretches the datalog does not cover
    std::string message;                         // why nothing could be exported
};

// The datalog of a span as miniSEED: the same records the station streams, from the files it
// wrote; where no file covers a time the records stop and begin again after it (a gap, never
// zeros). `progress` hears the fraction done.
ExportResult ExportDatalog(const platform::FileSystem& fs, const config::Settings& settings,
                           const ExportRequest& request,
                           const std::function<void(double)>& progress = {});

}  // namespace velkantor::stream
