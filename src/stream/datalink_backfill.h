#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "stream/datalink_state.h"
#include "stream/miniseed_record.h"

namespace velkantor::stream {

// What the archive holds of a gap.
struct BackfillStep {
    enum class Kind {
        Record,  // `record` is the next one to send
        Closed,  // nothing more: the archive goes on past the gap without a record in it
        NotYet,  // the archive has not been written up to the gap's end yet (it writes on a
                 // thread of its own, behind the live records): ask again later
    };
    Kind kind = Kind::NotYet;
    MiniSeedRecord record;
};

// Reads a stream's records out of the day archive in order, for the backfill: the first
// record of a gap, then each following one. It remembers where the last one was, so going
// on through a gap reads each day file once rather than from its start for every record.
class ArchiveReader {
public:
    ArchiveReader(const platform::FileSystem& fs, std::string folder)
        : fs_(fs), folder_(std::move(folder)) {}

    // The first record of the gap's stream that starts after `after` and before `before`.
    // Records torn or not of the stream are passed over.
    BackfillStep next(const StreamId& id, MicroTime after, MicroTime before);

    // Day files read and records looked at, for the benchmark.
    uint64_t records_read() const { return records_read_; }

private:
    static constexpr uint64_t kChunkRecords = 128;
    const platform::FileSystem& fs_;
    std::string folder_;
    // Where the previous answer was found: the next one is looked for after it.
    std::string stream_;
    MicroTime last_start_ = 0;
    MicroTime day_ = 0;
    uint64_t offset_ = 0;
    bool placed_ = false;
    // The last chunk read: the next records usually come out of it without another read.
    std::string chunk_path_;
    uint64_t chunk_offset_ = 0;
    std::string chunk_;
    uint64_t records_read_ = 0;
};

}  // namespace velkantor::stream
