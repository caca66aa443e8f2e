#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/miniseed_record.h"

struct MSRecord_s;

namespace velkantor::stream {

// Builds one stream's miniSEED records (512 bytes, Steim-2, blockettes 1000 and 1001) with
// libmseed from its samples as they come. A record is finished when full, when `flush` is
// called (latency, midnight, a change of the clock's lock) and at every gap; no record
// ever holds samples on both sides of a gap.
class RecordBuilder {
public:
    RecordBuilder(StreamId id, RecordSink& sink);
    ~RecordBuilder();
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;

    // Samples at `rate`, the first at `first`. `continues`: they follow the samples before at
    // the rate's spacing (their times go on from there, `first` is not used); otherwise they
    // begin a new segment at `first` and what was pending is finished first.
    void add(MicroTime first, double rate, bool locked, const std::vector<int32_t>& values,
             bool continues);
    // Finishes the record in progress with what it holds (the segment goes on).
    void flush();
    // Ends the segment: the next samples begin anew, whatever their time.
    void end_segment();

    bool pending() const { return !pending_.empty(); }
    bool open() const { return open_; }
    // The time the segment's next sample would have, counted on from its start at the rate.
    MicroTime next_time() const { return time_of(packed_ + static_cast<int64_t>(pending_.size())); }
    // The time of the oldest sample not yet in a record.
    MicroTime oldest_pending() const { return time_of(packed_); }
    const StreamId& id() const { return id_; }
    // Timing quality of blockette 1001: the clock locked to its time receiver, or not.
    static constexpr int kLockedQuality = 100;
    static constexpr int kFreeQuality = 0;

private:
    MicroTime time_of(int64_t sample) const;
    void pack(bool flush);
    static void collect(char* record, int length, void* self);
    // Hands a finished record on; returns its sample count.
    int emit(const std::string& record);

    StreamId id_;
    RecordSink& sink_;
    MSRecord_s* msr_ = nullptr;
    std::vector<int32_t> pending_;
    std::vector<std::string> trial_;  // the records of one packing, before the last is judged
    bool open_ = false;
    MicroTime segment_start_ = 0;
    int64_t packed_ = 0;  // samples of the segment already in records
    double rate_ = 0;
    bool locked_ = false;
};

}  // namespace velkantor::stream
