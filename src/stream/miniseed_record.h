#pragma once

#include <cstdint>
#include <string>

namespace velkantor::stream {

// Times of records are microseconds since 1970-01-01 00:00:00 (the board's time scale).
using MicroTime = int64_t;
inline constexpr int kRecordLength = 512;

// A stream's SEED name: network, station, location (may be empty) and channel.
struct StreamId {
    std::string network;
    std::string station;
    std::string location;
    std::string channel;
    // "XX_VELK_00_HHZ": how INFO, the ring and the archive name a stream.
    std::string text() const { return network + "_" + station + "_" + location + "_" + channel; }
    bool operator==(const StreamId&) const = default;
};

// One finished miniSEED 2.4 data record (512 bytes, Steim-2, blockettes 1000 and 1001).
struct MiniSeedRecord {
    StreamId id;
    MicroTime start = 0;  // the first sample's time
    MicroTime end = 0;    // the last sample's time
    int samples = 0;
    double rate = 0;
    std::string bytes;  // exactly kRecordLength bytes
};

// Where finished records go (the day archive, the SeedLink server's ring). Called on the
// engine's thread, once per record, in time order per stream; must not wait for anything.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual void record(const MiniSeedRecord& record) = 0;
};

}  // namespace velkantor::stream
