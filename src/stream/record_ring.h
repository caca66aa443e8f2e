#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "stream/miniseed_record.h"

namespace velkantor::stream {

// SeedLink sequence numbers are 24 bits and wrap from FFFFFF to 000000.
inline constexpr uint32_t kSequenceModulus = 0x1000000;
inline constexpr uint32_t kSequenceMask = kSequenceModulus - 1;

// The first sequence number of a ring started at `now`: sixteen numbers per second of the
// clock, so a restarted station continues above the numbers it handed out before (as long
// as it made fewer than sixteen records a second) instead of reusing them, and a client
// resuming with an old number is not fed unrelated packets. Wraps every twelve days.
uint32_t initial_sequence(MicroTime now);

struct RingPacket {
    uint32_t sequence = 0;
    MiniSeedRecord record;
};

// Oldest and newest record time of one stream held in the ring (for INFO STREAMS).
struct RingStream {
    StreamId id;
    MicroTime begin = 0;  // start of its oldest record
    MicroTime end = 0;    // last sample of its newest record
};

// The records a SeedLink server can still hand out, each with its sequence number. Packets
// are addressed by a 64-bit serial that never wraps (0 for the first record ever added), so
// a client's place survives the 24-bit wrap; the sequence is (first + serial) mod 2^24.
// Bounded by the span of record time it keeps and by a cap on bytes, whichever bites first.
class RecordRing {
public:
    RecordRing(uint32_t first_sequence, MicroTime span, size_t max_bytes);

    // Appends a record and drops what falls out of the bounds; returns its sequence.
    uint32_t add(MiniSeedRecord record);

    uint64_t begin_serial() const { return begin_serial_; }
    uint64_t end_serial() const { return begin_serial_ + packets_.size(); }
    bool empty() const { return packets_.empty(); }
    size_t size() const { return packets_.size(); }
    size_t bytes() const { return bytes_; }
    // begin_serial() <= serial < end_serial()
    const RingPacket& at(uint64_t serial) const { return packets_[serial - begin_serial_]; }
    uint32_t sequence_of(uint64_t serial) const {
        return static_cast<uint32_t>((first_sequence_ + serial) & kSequenceMask);
    }

    // Where a client asking for `sequence` starts: the packet with that number if it is
    // held; the oldest packet if the number is older than everything held (within half the
    // sequence space behind the next number); nullopt when the number is ahead of the ring,
    // or so far behind that it cannot be told apart from one ahead.
    std::optional<uint64_t> find_sequence(uint32_t sequence) const;
    // True when the packet with this sequence number is held.
    bool holds(uint32_t sequence) const;
    // The first packet whose record ends at or after `time` (end_serial() if none).
    uint64_t first_ending_at_or_after(MicroTime time) const;

    // Every stream held, in order of first appearance.
    std::vector<RingStream> streams() const;
    // Start of the newest record held (0 when empty).
    MicroTime newest_start() const { return newest_start_; }

private:
    void trim();

    uint32_t first_sequence_;
    MicroTime span_;
    size_t max_bytes_;
    std::deque<RingPacket> packets_;
    uint64_t begin_serial_ = 0;
    size_t bytes_ = 0;
    MicroTime newest_end_ = 0;
    MicroTime newest_start_ = 0;
};

}  // namespace velkantor::stream
