#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "stream/miniseed_record.h"

namespace velkantor::stream {

// What a record's fixed header says: whose samples, from when to when.
struct RecordHeader {
    StreamId id;
    MicroTime start = 0;  // first sample
    MicroTime end = 0;    // last sample
    double rate = 0;
    int64_t samples = 0;
};

// The header of one miniSEED 2 record (the samples are not decoded); none for bytes that
// are not one.
std::optional<RecordHeader> ParseRecordHeader(std::string_view record);

// A record of the day archive found by a search: its header and where its bytes are.
struct ArchivedRecord {
    RecordHeader header;
    std::string file;
    uint64_t offset = 0;  // bytes from the start of the file; kRecordLength long
};

// The records of `id` in the archive under `folder` whose samples overlap [begin, end], in
// the order of their day files. Only the day files the span touches are read (records never
// cross UTC midnight), a chunk at a time; a torn record at a file's end is not one. Stops
// after `max_records` (the caller says a request is too large).
std::vector<ArchivedRecord> FindArchivedRecords(const platform::FileSystem& fs,
                                                const std::string& folder, const StreamId& id,
                                                MicroTime begin, MicroTime end, size_t max_records);

// The first and the last record of a day file (none when it holds no whole record).
std::optional<std::pair<RecordHeader, RecordHeader>> DayFileEnds(const platform::FileSystem& fs,
                                                                 const std::string& file);

// A stream of the archive and the days it has files for, oldest first (epoch seconds of each
// day's midnight).
struct ArchivedStream {
    StreamId id;
    std::vector<int64_t> days;
};
// Every stream of the station `network`.`station` with a day file in the years
// [first_year, last_year], found by listing the archive's folders.
std::vector<ArchivedStream> ListArchivedStreams(const platform::FileSystem& fs,
                                                const std::string& folder,
                                                const std::string& network,
                                                const std::string& station, int first_year,
                                                int last_year);

// The records built last, kept in memory for the web services until the archive surely holds
// them (or when there is no archive). Bounded by bytes; the oldest go first. The engine adds,
// the page server's thread copies out: a short lock, never held while anything waits.
class RecentRecords : public RecordSink {
public:
    explicit RecentRecords(size_t max_bytes) : max_bytes_(max_bytes) {}
    void record(const MiniSeedRecord& record) override;
    // Copies of the records of `id` overlapping [begin, end], oldest first.
    std::vector<MiniSeedRecord> overlapping(const StreamId& id, MicroTime begin,
                                            MicroTime end) const;
    // The streams held, in order of first appearance.
    std::vector<StreamId> streams() const;

private:
    size_t max_bytes_;
    mutable std::mutex mutex_;
    std::deque<MiniSeedRecord> records_;
    size_t bytes_ = 0;
};

}  // namespace velkantor::stream
