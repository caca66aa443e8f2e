#pragma once

#include <string>
#include <string_view>

#include "stream/miniseed_record.h"

namespace velkantor::stream {

struct EventMiniSeed {
    std::string records;  // the event's samples as miniSEED records
    std::string error;    // why the event file could not be read
};

// An event file (either header layout) as miniSEED under the stream name `id`: its start
// time, rate and lock letter from the header, its samples from the sample lines.
// `utc_offset`: the board time of the file's header minus UTC, in seconds (the records are
// stamped in UTC).
EventMiniSeed EventFileToMiniSeed(std::string_view event_file, const StreamId& id,
                                  int utc_offset = 0);

}  // namespace velkantor::stream
