#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "stream/miniseed_record.h"

namespace velkantor::stream {

// SeedLink sequence numbers are 24 bits and wrap from FFFFFF to 000000.
inline constexpr uint32_t kSequenceModulus = 0x1000000;
inline constexpr uint32_t kSequenceMask = kSequenceModulus - 1;

// The first sequence number of a ring started at `now`: sixteen numbers per second of the
// clock, so a restarted station continues above the numbers it handed out before (as long
// as it made fewer than sixteen records a second) instead of reusing them: a client resuming
// with a number of the earlier run finds it not held and gets everything held, rather than
// the packets that happen to carry its number now. Wraps every twelve days.
uint32_t initial_sequence(MicroTime now);

struct RingPacket {
    uint32_t sequence = 0;
    MicroTime arrived = 0;  // when the ring took it, on a clock that never steps
    MiniSeedRecord record;
};

// Oldest and newest record time of one stream held in the ring (for INFO STREAMS).
struct RingStream {
    StreamId id;
    MicroTime begin = 0;  // start of its oldest record
    MicroTime end = 0;    // last sample of its latest-ending record
    // Last sample of the record that arrived last: after a clock step back it is earlier
    // than `end`, and it is what tells how far the stream has come.
    MicroTime last_end = 0;
};

// The records a SeedLink server can still hand out, each with its sequence number. Packets
// are addressed by a 64-bit serial that never wraps (0 for the first record ever added), so
// a client's place survives the 24-bit wrap; the sequence is (first + serial) mod 2^24.
// Bounded by a span of arrival (records that came more than `span` before the newest one
// go) and by a cap on bytes, whichever bites first. The record times play no part in what
// is kept: after the station's clock steps back they are no longer in order, and a bound
// on them would empty the ring for the rest of the run.
class RecordRing {
public:
    RecordRing(uint32_t first_sequence, MicroTime span, size_t max_bytes);

    // Appends a record that arrived at `arrived` (a clock that never steps back, such as
    // the steady clock) and drops what falls out of the bounds; returns its sequence.
    uint32_t add(MiniSeedRecord record, MicroTime arrived);

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

    // The number the next record will get.
    uint32_t next_sequence() const { return sequence_of(end_serial()); }
    // True when the packet with this sequence number is held.
    bool holds(uint32_t sequence) const;
    // Where a client resuming with `sequence` (DATA or FETCH with a number) starts:
    // - a number held: that packet;
    // - the next number (one past the newest packet): the next new packet. A client that
    //   got the newest packet asks for exactly this number, and must get no duplicates;
    // - any other number: the oldest packet held. It was handed out by an earlier run (the
    //   numbers start from the clock at each run), or lost to the ring, or is bogus. Which
    //   of these it is cannot be told from 24 bits, so no number is taken for one "ahead"
    //   of the ring: sending what is held repeats records the client may have, but a
    //   number taken for the future would lose all of them.
    uint64_t resume_serial(uint32_t sequence) const;
    // The first packet, in order of arrival, whose record ends at or after `time`
    // (end_serial() if none). Later packets may end before `time` (after a clock step
    // back); whoever reads on must still check each record's time.
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
    MicroTime newest_start_ = 0;
};

}  // namespace velkantor::stream
