#include "stream/record_ring.h"

#include <algorithm>

namespace velkantor::stream {

namespace {
// What one held packet costs besides its record bytes (the id strings, the deque slot).
constexpr size_t kPacketOverhead = 128;

size_t packet_bytes(const RingPacket& packet) {
    const auto& id = packet.record.id;
    return packet.record.bytes.size() + id.network.size() + id.station.size() + id.location.size() +
           id.channel.size() + kPacketOverhead;
}
}  // namespace

uint32_t initial_sequence(MicroTime now) {
    int64_t seconds = now / 1000000;
    if (seconds < 0) seconds = 0;
    return static_cast<uint32_t>((static_cast<uint64_t>(seconds) * 16) & kSequenceMask);
}

RecordRing::RecordRing(uint32_t first_sequence, MicroTime span, size_t max_bytes)
    : first_sequence_(first_sequence & kSequenceMask), span_(span), max_bytes_(max_bytes) {}

uint32_t RecordRing::add(MiniSeedRecord record, MicroTime arrived) {
    RingPacket packet;
    packet.sequence = next_sequence();
    packet.arrived = arrived;
    packet.record = std::move(record);
    newest_start_ = packet.record.start;
    bytes_ += packet_bytes(packet);
    uint32_t sequence = packet.sequence;
    packets_.push_back(std::move(packet));
    trim();
    return sequence;
}

void RecordRing::trim() {
    // The newest packet always stays, whatever it costs: a client must get every record.
    // No two packets held may share a number, or a resume could not tell them apart.
    const MicroTime newest = packets_.back().arrived;
    while (packets_.size() > 1 &&
           (bytes_ > max_bytes_ || packets_.front().arrived < newest - span_ ||
            packets_.size() >= kSequenceModulus)) {
        bytes_ -= packet_bytes(packets_.front());
        packets_.pop_front();
        ++begin_serial_;
    }
}

bool RecordRing::holds(uint32_t sequence) const {
    // How far behind the next number the asked one is, modulo the wrap.
    uint32_t behind = (next_sequence() - sequence) & kSequenceMask;
    return behind != 0 && behind <= packets_.size();
}

uint64_t RecordRing::resume_serial(uint32_t sequence) const {
    sequence &= kSequenceMask;
    if (sequence == next_sequence()) return end_serial();
    if (!holds(sequence)) return begin_serial_;
    return end_serial() - ((next_sequence() - sequence) & kSequenceMask);
}

uint64_t RecordRing::first_ending_at_or_after(MicroTime time) const {
    // A scan in arrival order, not a search by time: after a clock step back the records
    // are not sorted by time, and the first match must not be missed.
    for (size_t i = 0; i < packets_.size(); ++i) {
        if (packets_[i].record.end >= time) return begin_serial_ + i;
    }
    return end_serial();
}

std::vector<RingStream> RecordRing::streams() const {
    std::vector<RingStream> result;
    for (const auto& packet : packets_) {
        const auto& record = packet.record;
        auto it = std::find_if(result.begin(), result.end(),
                               [&](const RingStream& s) { return s.id == record.id; });
        if (it == result.end()) {
            result.push_back({record.id, record.start, record.end, record.end});
        } else {
            it->begin = std::min(it->begin, record.start);
            it->end = std::max(it->end, record.end);
            it->last_end = record.end;
        }
    }
    return result;
}

}  // namespace velkantor::stream
